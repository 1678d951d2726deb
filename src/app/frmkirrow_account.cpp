// The main window's account: the login dialog, and showing what the registration reports.

#include "connectionsettings.h"
#include "devicechoice.h"
#include "errortraps.h"
#include "frmconnection.h"
#include "frmkirrow.h"
#include "frmlogin.h"

#include <QCoreApplication>
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

void frmKirrow::WireRegistration() {
    m_registration->setClientPreparation([](rtc::IRTCClient &client) {
        audio::applySavedDevices(client);
        account::applySavedConnection(client);
    });
    connect(m_registration, &account::RegistrationController::statusChanged, lblMsg,
            &StatusLine::showStatus);
}

// A login is what was typed at LOGIN, even when it could not be saved; a dialog closed any
// other way leaves unchanged, the fallback. Empty when the user chose EXIT.
std::optional<account::Login> frmKirrow::GetLoginSettings(const account::Login &fallback) {
    std::unique_ptr<frmLogin> dialog = std::move(m_loginShownAhead);
    if (!dialog)
        dialog = std::make_unique<frmLogin>(this);
    ShowModal(*dialog);
    if (dialog->exitChosen())
        return std::nullopt;
    if (const auto &typed = dialog->loggedIn())
        return account::Login{typed->sipServer, typed->account, typed->password};
    return fallback;
}

void frmKirrow::mnuLoginAs_Click() {
    // Logs in again on the existing client; EXIT in the dialog is not an exit here.
    // The login in use, not the settings: an account not kept is not in them.
    const account::Login current = m_registration->CurrentLogin();
    const auto login = GetLoginSettings(current);
    m_registration->RegisterProfile(login ? *login : current);
}

// Saved choices reach a client made later through the client's preparation; the running one,
// if any, takes them now.
void frmKirrow::mnuConnection_Click() {
    EndGestures();
    frmConnection dialog(this);
    if (ShowModal(dialog) != QDialog::Accepted)
        return;
    if (const rtc::IRTCClientPtr &client = m_registration->Client())
        platform::stopAndShow([&] { client->SetConnectionOptions(dialog.options()); });
}
