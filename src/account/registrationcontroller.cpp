#include "registrationcontroller.h"

#include "errortraps.h"
#include "messagebox.h"
#include "profiletext.h"
#include "registrationstate.h"
#include "serverentry.h"
#include "settingsstore.h"
#include "trustedcertificates.h"

#include <QCryptographicHash>

namespace account {

Login savedLogin() {
    return {readEntry(kSipApp), readEntry(kAccountApp), readEntry(kPasswordApp)};
}

RegistrationController::RegistrationController(rtc::RTCClientFactory clientFactory, QObject *parent)
    : QObject(parent), m_clientFactory(std::move(clientFactory)) {}

RegistrationController::~RegistrationController() = default;

void RegistrationController::setClientPreparation(std::function<void(rtc::IRTCClient &)> prepare) {
    m_prepareClient = std::move(prepare);
}

void RegistrationController::InitRTCClient() {
    platform::stopAndShow([this] {
        g_objRTCClient = m_clientFactory();
        g_objRTCClient->Initialize();
        g_objRTCClient->setEventFilter(rtc::RTCEF_CLIENT | rtc::RTCEF_REGISTRATION_STATE_CHANGE |
                                       rtc::RTCEF_SESSION_STATE_CHANGE | rtc::RTCEF_MEDIA);
        connect(g_objRTCClient.get(), &rtc::IRTCClient::Event, this,
                &RegistrationController::g_objRTCClientWithEvents_Event);
        connect(g_objRTCClient.get(), &rtc::IRTCClient::Dropped, this,
                [](const QString &what) { platform::logError(QStringLiteral("engine"), what); });
        g_objRTCClient->ListenForIncomingSessions(rtc::RTCLM_BOTH);
        g_objRTCClient->SetPreferredMediaTypes(rtc::RTCMT_AUDIO_SEND | rtc::RTCMT_AUDIO_RECEIVE,
                                               true);
        if (m_prepareClient)
            m_prepareClient(*g_objRTCClient);
    });
}

void RegistrationController::RegisterProfile(const Login &login) {
    const ServerEntry entry = parseServerEntry(login.sipServer);
    m_locating.reset();
    m_untried.clear();
    // A domain alone may name its servers in DNS; they are asked first, without waiting here.
    if (entry.isBareDomain()) {
        m_locating = std::make_unique<ServerLocator>();
        connect(m_locating.get(), &ServerLocator::located, this,
                [this, login](const QString &, const std::optional<LocatedServer> &server) {
                    m_untried = m_locating->servers().mid(1);
                    m_locating.release()->deleteLater();
                    RegisterAt(login, server);
                });
        m_locating->locate(entry.host);
        return;
    }
    RegisterAt(login, std::nullopt);
}

void RegistrationController::RegisterAt(const Login &login,
                                        const std::optional<LocatedServer> &located,
                                        const QByteArray &trusted) {
    platform::stopAndShow([&] {
        // The name shown to the people called is the account now logged in, not the first one.
        strDisplayName = login.account;
        const ServerEntry entry = parseServerEntry(login.sipServer);
        // An entry that does not read as a server goes as it always went; the engine says why
        // it cannot use it.
        strSIPIP = entry.isValid() ? entry.address() : login.sipServer;
        m_login = login;
        m_located = located;
        m_registrar = located ? located->address() : strSIPIP;
        if (located)
            strXMLProfile =
                BuildProfileText(login.account, strDisplayName, login.password, strSIPIP,
                                 located->address(), transportName(located->transport));
        else if (entry.isValid())
            strXMLProfile =
                BuildProfileText(login.account, strDisplayName, login.password, strSIPIP, strSIPIP,
                                 transportName(entry.transportOrUdp()));
        else
            strXMLProfile =
                BuildProfileText(login.account, strDisplayName, login.password, login.sipServer);
        if (!g_objRTCClient)
            throw rtc::RtcError(rtc::RTC_E_NOT_INITIALIZED, QStringLiteral("There is no client."));
        g_objRTCClient->SetTrustedCertificate(trusted.isEmpty() ? trustedCertificate(m_registrar)
                                                                : trusted);
        rtc::IRTCClientProvisioning *provisioning = g_objRTCClient->provisioning();
        g_objProfile = provisioning->CreateProfile(strXMLProfile);
        provisioning->EnableProfile(g_objProfile, rtc::RTCRF_REGISTER_ALL);
    });
}

void RegistrationController::ReleaseClient() {
    g_objProfile.reset();
    g_objRTCClient.reset();
}

void RegistrationController::EraseProfile() {
    // Only entries that read as non-empty go, all in one write, so a missing one is never
    // touched and the file never holds half an account.
    eraseAccount();
}

void RegistrationController::ForgetAccountUnlessKept() {
    if (readEntry(kSaveApp) != QLatin1String("no"))
        return;
    try {
        EraseProfile();
    } catch (const std::exception &error) {
        // The user asked for the account to be forgotten: say so when it could not be.
        platform::showMessage(QStringLiteral("The saved account could not be erased: ") +
                                  platform::errorDescription(error),
                              QString(), platform::MessageIcon::Warning);
    }
}

void RegistrationController::g_objRTCClientWithEvents_Event(long RTCEvent,
                                                            const rtc::IRTCEventPtr &pevent) {
    switch (RTCEvent) {
    case rtc::RTCE_REGISTRATION_STATE_CHANGE:
        OnRegistrationStateChange(pevent);
        break;
    case rtc::RTCE_SESSION_STATE_CHANGE:
        emit sessionStateChanged(pevent);
        break;
    case rtc::RTCE_MEDIA:
        OnMediaEvent(pevent);
        break;
    default:
        break; // client events and the rest change nothing
    }
}

void RegistrationController::OnRegistrationStateChange(const rtc::IRTCEventPtr &pevent) {
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
    if (state == rtc::RTCRS_ERROR && TryNextServer(code))
        return;
    const auto shown = registrationShown(state, code, phrase);
    if (!shown)
        return; // unregistering and the rest leave the state as it was
    strRegState = shown->word;
    emit statusChanged(shown->caption, shown->whole);
    if (state == rtc::RTCRS_ERROR && code == rtc::RTC_STATUS_CERTIFICATE_REFUSED)
        OfferTrust();
}

// A domain's servers in DNS stand in for one another: one that cannot be reached (no answer,
// refused connection, transport failure) gives way to the next in the records' order, until one
// answers or none is left, and then the failure is shown.
bool RegistrationController::TryNextServer(long code) {
    const bool unreachable = code == 408 || code == 503 || code == 504 || code == 0;
    if (!unreachable || m_untried.isEmpty() || !m_located)
        return false;
    RegisterAt(m_login, m_untried.takeFirst());
    return true;
}

// A server whose certificate did not verify may still be the user's own (a certificate it made
// itself, a CA of a company's): the user is shown what it is and may trust it for this server,
// from now on. A certificate that changes is refused, and offered, again.
void RegistrationController::OfferTrust() {
    QByteArray certificate;
    platform::skipOnError([&] { certificate = g_objRTCClient->RefusedCertificate(); });
    if (certificate.isEmpty() || m_offering)
        return;
    const QString server = m_registrar;
    const CertificateSummary summary = summarizeCertificate(certificate);
    m_offering = true;
    const bool trusted = platform::askQuestion(
        QStringLiteral("The server %1 showed a certificate that is not trusted.\n\n"
                       "Subject: %2\nIssuer: %3\nSHA-256: %4\n\n"
                       "Trust this certificate for this server?")
            .arg(server, summary.subject, summary.issuer, summary.fingerprint),
        QStringLiteral("Certificate not trusted"));
    m_offering = false;
    if (!trusted || server != m_registrar) // declined, or another login since
        return;
    const QByteArray digest = QCryptographicHash::hash(certificate, QCryptographicHash::Sha256);
    try {
        trustCertificate(server, digest);
    } catch (const std::exception &error) {
        platform::showMessage(QStringLiteral("The certificate could not be kept: ") +
                                  platform::errorDescription(error) +
                                  QStringLiteral(" Kirrow trusts it all the same, this time."),
                              QString(), platform::MessageIcon::Warning);
    }
    RegisterAt(m_login, m_located, digest);
}

void RegistrationController::OnMediaEvent(const rtc::IRTCEventPtr &pevent) {
    std::shared_ptr<rtc::IRTCMediaEvent> view;
    platform::skipOnError([&] { view = rtc::eventView<rtc::IRTCMediaEvent>(pevent); });
    if (!view)
        return;
    long type = -1;
    platform::skipOnError([&] { type = view->EventType(); });
    platform::skipOnError([&] { (void)view->MediaType(); });
    // A stream that failed, and one started again after it, show with the call; the rest do not
    // show in the window.
    if (type == rtc::RTCMET_FAILED || type == rtc::RTCMET_STARTED)
        emit callSoundChanged(type == rtc::RTCMET_STARTED);
}

} // namespace account
