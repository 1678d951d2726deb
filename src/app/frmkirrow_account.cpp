// The main window's account handling: reading the login, building and enabling the profile,
// and following the registration the client reports.

#include "errortraps.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "profiletext.h"
#include "registrationstate.h"
#include "settingsstore.h"

#include <QCoreApplication>
#include <QLabel>
#include <QRect>

std::unique_ptr<frmLogin> frmKirrow::ShowLoginAhead() {
    auto dialog = std::make_unique<frmLogin>(nullptr);
    // Over the window to come, where Qt puts a dialog over its owner while no window is visible:
    // centred, less the 10 x 40 pixels it allows for a window manager's frame it has not seen.
    // So the dialog stands where it does when the window is its owner.
    const QRect owner = StartupPlace();
    dialog->move(owner.topLeft() + QPoint(owner.width() / 2, owner.height() / 2) -
                 QPoint(dialog->width() / 2 + 10, dialog->height() / 2 + 40));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    // Drawn now if the window system has shown it already; a click or a key waits for the login.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return dialog;
}

void frmKirrow::TakeLoginShownAhead(std::unique_ptr<frmLogin> dialog) {
    m_loginShownAhead = std::move(dialog);
}

// A login is what was typed at LOGIN, even when it could not be saved; a dialog closed any
// other way leaves what the store holds.
void frmKirrow::GetLoginSettings() {
    std::unique_ptr<frmLogin> dialog = std::move(m_loginShownAhead);
    if (dialog)
        dialog->setExitMarker(lblBalance);
    else
        dialog = std::make_unique<frmLogin>(lblBalance, this);
    ShowModal(*dialog);
    if (const auto &typed = dialog->loggedIn()) {
        strPassword = typed->password;
        strAccount = typed->account;
        strSipServer = typed->sipServer;
        return;
    }
    strPassword = account::readEntry(account::kPasswordApp);
    strAccount = account::readEntry(account::kAccountApp);
    strSipServer = account::readEntry(account::kSipApp);
}

void frmKirrow::EraseProfile() {
    strPassword = account::readEntry(account::kPasswordApp);
    strAccount = account::readEntry(account::kAccountApp);
    strSipServer = account::readEntry(account::kSipApp);
    // Only entries that read as non-empty go, all in one write, so a missing one is never
    // touched and the file never holds half an account.
    account::eraseAccount();
}

void frmKirrow::mnuLoginAs_Click() {
    // Logs in again on the existing client; EXIT in the dialog is not an exit here.
    GetLoginSettings();
    RegisterProfile();
}

void frmKirrow::RegisterProfile() {
    platform::stopAndShow([this] {
        // The name shown to the people called is the account now logged in, not the first one.
        strDisplayName = strAccount;
        strSIPIP = strSipServer;
        strXMLProfile =
            account::BuildProfileText(strAccount, strDisplayName, strPassword, strSIPIP);
        if (!g_objRTCClient)
            throw rtc::RtcError(rtc::RTC_E_NOT_INITIALIZED, QStringLiteral("There is no client."));
        g_objProvisioning = g_objRTCClient->provisioning();
        g_objProfile = g_objProvisioning->CreateProfile(strXMLProfile);
        m_calls->setServer(strSIPIP);
        m_calls->setProfile(g_objProfile);
        g_objProvisioning->EnableProfile(g_objProfile, rtc::RTCRF_REGISTER_ALL);
    });
}

void frmKirrow::g_objRTCClientWithEvents_Event(long RTCEvent, const rtc::IRTCEventPtr &pevent) {
    switch (RTCEvent) {
    case rtc::RTCE_REGISTRATION_STATE_CHANGE:
        OnRegistrationStateChange(pevent);
        break;
    case rtc::RTCE_SESSION_STATE_CHANGE:
        m_calls->OnSessionStateChange(pevent);
        break;
    case rtc::RTCE_MEDIA:
        OnMediaEvent(pevent);
        break;
    default:
        break; // client events and the rest change nothing
    }
}

void frmKirrow::OnRegistrationStateChange(const rtc::IRTCEventPtr &pevent) {
    std::shared_ptr<rtc::IRTCRegistrationStateChangeEvent> view;
    long state = -1;
    long code = 0;
    QString phrase;
    platform::skipOnError(
        [&] { view = rtc::eventView<rtc::IRTCRegistrationStateChangeEvent>(pevent); });
    platform::skipOnError([&] {
        if (view)
            state = view->State();
    });
    platform::skipOnError([&] {
        if (view) {
            code = view->StatusCode();
            phrase = view->StatusText();
        }
    });
    const auto shown = account::registrationShown(state, code, phrase);
    if (!shown)
        return; // unregistering and the rest leave the state as it was
    strRegState = shown->word;
    m_calls->setRegState(strRegState);
    lblMsg->showStatus(shown->caption, shown->whole);
}

void frmKirrow::OnMediaEvent(const rtc::IRTCEventPtr &pevent) {
    std::shared_ptr<rtc::IRTCMediaEvent> view;
    platform::skipOnError([&] { view = rtc::eventView<rtc::IRTCMediaEvent>(pevent); });
    if (!view)
        return;
    // Read and left unused: media changes do not show in the window.
    platform::skipOnError([&] { (void)view->EventType(); });
    platform::skipOnError([&] { (void)view->MediaType(); });
}
