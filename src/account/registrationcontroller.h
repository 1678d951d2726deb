#pragma once

#include "rtcclient.h"
#include "serverlocator.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace account {

// A login: as typed at LOGIN, or as the settings hold it.
struct Login {
    QString sipServer;
    QString account;
    QString password;
};

// The login the settings hold; entries that are missing read as empty.
Login savedLogin();

// The account's registration, without widgets: the communications client, the provisioning
// profile the account registers with, the server and the registration state the engine last
// reported. The window shows what it signals; the calls ask it what they are placed with.
class RegistrationController : public QObject {
    Q_OBJECT
public:
    // The client is made by clientFactory at InitRTCClient, so a program that never gets past
    // the login makes none.
    explicit RegistrationController(rtc::RTCClientFactory clientFactory, QObject *parent = nullptr);
    ~RegistrationController() override;

    // What else a new client needs before it is used (the sound devices chosen for it); an
    // error it throws stops the client's set-up as the client's own would.
    void setClientPreparation(std::function<void(rtc::IRTCClient &)> prepare);

    // Makes the client, asks it for the events the telephone follows and lets it take calls.
    // A failure is shown to the user; the steps after it are not taken.
    void InitRTCClient();
    // Registers login, replacing the account registered before; shown to the user on failure.
    // A server given as a domain alone is looked up in DNS first (SRV), and registered at once
    // it has answered.
    void RegisterProfile(const Login &login);

    // Lets go of the client: the engine stops, taking back the registration and ending calls.
    void ReleaseClient();

    // Forgets the saved account (the "Save" choice stays).
    static void EraseProfile();
    // At the end of the program: forgets the saved account when the user chose not to keep it,
    // and says so when it could not be forgotten.
    static void ForgetAccountUnlessKept();

    // "NOTREGISTERED" until the engine reports otherwise; "REGISTERED" lets calls be placed.
    const QString &RegState() const { return strRegState; }
    bool IsRegistered() const { return strRegState == QLatin1String("REGISTERED"); }
    // The server of the account's address, as typed ("host[:port]"; without "sips:" or a
    // transport).
    const QString &SipServer() const { return strSIPIP; }
    // The name shown to the people called: the account logged in.
    const QString &DisplayName() const { return strDisplayName; }
    // The profile text the engine was last given.
    const QString &ProfileText() const { return strXMLProfile; }
    // The login last registered (also when not kept in the settings).
    const Login &CurrentLogin() const { return m_login; }
    const rtc::IRTCClientPtr &Client() const { return g_objRTCClient; }
    const rtc::IRTCProfilePtr &Profile() const { return g_objProfile; }

signals:
    // The status line's text for a registration state, and its longer form (empty when the text
    // says it all).
    void statusChanged(const QString &caption, const QString &whole);
    // An event about a call, for the calls to follow.
    void sessionStateChanged(const rtc::IRTCEventPtr &pevent);
    // The calls' sound has stopped (the sound devices went away), or goes again.
    void callSoundChanged(bool flowing);

private:
    void g_objRTCClientWithEvents_Event(long RTCEvent, const rtc::IRTCEventPtr &pevent);
    void OnRegistrationStateChange(const rtc::IRTCEventPtr &pevent);
    void OnMediaEvent(const rtc::IRTCEventPtr &pevent);
    // Registers at the server located for login, or at the one typed; trusted is the digest of a
    // server certificate the user trusts beyond those kept for the server.
    void RegisterAt(const Login &login, const std::optional<LocatedServer> &located,
                    const QByteArray &trusted = {});
    void OfferTrust();
    bool TryNextServer(long code);

    rtc::RTCClientFactory m_clientFactory;
    std::function<void(rtc::IRTCClient &)> m_prepareClient;
    rtc::IRTCClientPtr g_objRTCClient;
    rtc::IRTCProfilePtr g_objProfile;
    QString strRegState = QStringLiteral("NOTREGISTERED");
    QString strSIPIP;
    QString strDisplayName;
    QString strXMLProfile;
    std::unique_ptr<ServerLocator> m_locating; // the DNS lookup a login waits for
    // The login registered last, where, and the server its messages go to ("host:port").
    Login m_login;
    std::optional<LocatedServer> m_located;
    QList<LocatedServer> m_untried; // the domain's other servers, in the order to try them
    QString m_registrar;
    bool m_offering = false; // a certificate is being offered to the user
};

} // namespace account
