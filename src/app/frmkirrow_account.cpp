// The main window's account handling: reading the login, building and enabling the profile,
// and following the registration the client reports.

#include "errortraps.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "profiletext.h"
#include "settingsstore.h"

#include <QLabel>

void frmKirrow::GetLoginSettings() {
    frmLogin dialog(lblBalance, this);
    ShowModal(dialog);
    strPassword = account::readEntry(account::kPasswordApp);
    strAccount = account::readEntry(account::kAccountApp);
    strSipServer = account::readEntry(account::kSipApp);
}

void frmKirrow::EraseProfile() {
    strPassword = account::readEntry(account::kPasswordApp);
    strAccount = account::readEntry(account::kAccountApp);
    strSipServer = account::readEntry(account::kSipApp);
    // Only entries just read as non-empty are deleted, so a missing one is never touched.
    if (!strPassword.isEmpty())
        account::DeleteSetting(account::kPasswordApp);
    if (!strAccount.isEmpty())
        account::DeleteSetting(account::kAccountApp);
    if (!strSipServer.isEmpty())
        account::DeleteSetting(account::kSipApp);
}

void frmKirrow::mnuLoginAs_Click() {
    // Logs in again on the existing client; EXIT in the dialog is not an exit here.
    GetLoginSettings();
    RegisterProfile();
}

void frmKirrow::RegisterProfile() {
    platform::stopAndShow([this] {
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
    platform::skipOnError(
        [&] { view = rtc::eventView<rtc::IRTCRegistrationStateChangeEvent>(pevent); });
    platform::skipOnError([&] {
        if (view)
            state = view->State();
    });
    const char *word = nullptr;
    const char *caption = nullptr;
    switch (state) {
    case rtc::RTCRS_NOT_REGISTERED:
        word = "NOTREGISTERED";
        caption = "Not Registered";
        break;
    case rtc::RTCRS_REGISTERING:
        word = "REGISTERING";
        caption = "Registering";
        break;
    case rtc::RTCRS_REGISTERED:
        word = "REGISTERED";
        caption = "Registered and Ready...";
        break;
    case rtc::RTCRS_REJECTED:
        word = "REJECTED";
        caption = "Rejected";
        break;
    case rtc::RTCRS_LOGGED_OFF:
        word = "LOGGEDOFF";
        caption = "Logged off.";
        break;
    default:
        return; // unregistering, errors and the rest leave the state as it was
    }
    strRegState = QLatin1String(word);
    m_calls->setRegState(strRegState);
    lblMsg->setText(QLatin1String(caption));
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
