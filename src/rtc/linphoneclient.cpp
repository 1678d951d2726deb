#include "linphoneclient.h"

#include "sipscreen.h"
#include "soundserverdefaults.h"

#include <bctoolbox/crypto.h>
#include <belle-sip/belle-sip.h>
#include <linphone/core.h>
#include <linphone/core_utils.h>
#include <linphone/factory.h>
#include <linphone/logging.h>
#include <linphone/lpconfig.h>
#include <mediastreamer2/mediastream.h>
#include <ortp/telephonyevents.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <malloc.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcEngine, "kirrow.engine", QtWarningMsg)

// Exported by liblinphone but left out of its installed headers: a call's media stream of a type.
extern "C" MediaStream *linphone_call_get_stream(LinphoneCall *call, LinphoneStreamType type);

namespace rtc {

namespace {

constexpr int kIterateMs = 100; // the slow tick: the engine's timers are coarser than this
// How long the sound server is given to name its default devices, asked on this thread before
// each call: a server that answers at all answers in a few milliseconds.
constexpr int kAskSoundServerMs = 300;
// The tick of an idle engine (registered, no call, nothing sent or received for a while). Its
// timers then are the keep-alive (every 10 s), the registration's refresh and the ends of past
// transactions, none of which suffers from running up to this much late; and a phone at rest
// should not wake the machine ten times a second. belle-sip keeps its timers to itself (no call
// gives the next one due), so the engine cannot be run exactly when its next timer is due.
constexpr int kIdleTickMs = 2500;
// How long after the last message in or out the engine stays on the slow tick: the answers,
// challenges and retransmissions of a transaction come within this.
constexpr int kSettleMs = 1500;
constexpr int kFollowUpMs = 10; // the turns after an operation or a message
constexpr int kFollowUpTurns = 4;
// The call the window holds and one more caller left ringing.
constexpr int kMostCalls = 2;
// How long an unanswered caller may ring, as long as exchanges commonly let an INVITE go
// unanswered (kamailio's and many providers' 120 s).
constexpr int kLongestRingSeconds = 120;
// A touch tone lasts 100 ms on the wire; the next starts after a short gap, as a far end's
// detector needs.
constexpr int kToneSpacingMs = 160;
constexpr int kToneTries = 5;
constexpr quint16 kStaticSipPort = 5060;
constexpr unsigned kEchoTestRate = 16000; // speech, and no more: the test is for the ear
// A SIP request over UDP times out after 64 times T1 (32 s); a name that does not resolve fails
// well before, at the latest when DNS gives up (15 s).
constexpr qint64 kRequestTimeoutMs = 25000;
// How long an ICMP refusal of a keep-alive may take to come back.
constexpr int kRefusalWaitMs = 500;
// A registration that failed for want of an answer (the server down, the way to it cut) is tried
// again after this, then after twice as long each time, up to the most.
constexpr int kFirstRegisterRetryMs = 10000;
constexpr int kMostRegisterRetryMs = 120000;
// How long the system's news of a network change must be quiet before the client acts on it.
constexpr int kNetworkSettleMs = 1000;

// The desktop's sound server's socket (defined with the client's watch on it, below).
QString soundServerSocket();

// Gives the pages the allocator holds free back to the system. The allocator keeps freed memory
// for reuse, so what the start-up and every ended call free would stay the program's for as
// long as it runs: 0.5 MiB once registered, 1.7 MiB after two calls. Takes about 0.1 ms.
void returnFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

// What the engine's TLS checks of server certificates: the engine tells them only to a callback
// of its own, for every connection of every client, on the thread that runs the engine.
struct CertificateChecks {
    int refused = 0;        // server certificates refused so far
    QByteArray refusedLeaf; // the latest one refused (DER)
    QByteArray trusted;     // SHA-256 of the one the user trusts for the server registered
    quint32 chainFlags = 0; // what did not verify about the chain above the server's own
    QByteArray domain;      // the domain of the account's address
};
CertificateChecks &certificateChecks() {
    static CertificateChecks checks;
    return checks;
}

// Whether a server's certificate (DER) names the domain, as a DNS name, a "sip:" URI or its
// subject's CN; wildcards are not taken.
bool namesDomain(const QByteArray &der, const QByteArray &domain) {
    if (domain.isEmpty())
        return false;
    bctbx_x509_certificate_t *certificate = bctbx_x509_certificate_new();
    bool named = false;
    if (bctbx_x509_certificate_parse(certificate, der.constData(), size_t(der.size())) == 0) {
        bctbx_list_t *subjects = bctbx_x509_certificate_get_subjects(certificate);
        for (const bctbx_list_t *it = subjects; it && !named; it = it->next) {
            QByteArray subject(static_cast<const char *>(it->data));
            if (subject.startsWith("sip:"))
                subject.remove(0, 4);
            named = subject.compare(domain, Qt::CaseInsensitive) == 0;
        }
        bctbx_list_free_with_data(subjects, bctbx_free);
    }
    bctbx_x509_certificate_free(certificate);
    return named;
}

// Called by the engine for each certificate of the chain a TLS server shows, the root first and
// the server's own (depth 0) last; flags are what did not verify about it (none: it did), and
// what they hold for the server's own is the verdict on the whole chain. The engine matches the
// name against the host it connected to, which DNS may have named for the domain: a certificate
// for the account's domain itself is the one a SIP server should show, and is taken too. A
// certificate the user trusts is taken whatever else is said of it.
int certificateChecked(unsigned char *der, int length, int depth, quint32 *flags) {
    CertificateChecks &checks = certificateChecks();
    if (depth > 0) {
        checks.chainFlags |= std::exchange(*flags, 0);
        return 0;
    }
    const QByteArray leaf(reinterpret_cast<const char *>(der), length);
    quint32 verdict = *flags | std::exchange(checks.chainFlags, 0);
    if (verdict == BCTBX_CERTIFICATE_VERIFY_BADCERT_CN_MISMATCH && namesDomain(leaf, checks.domain))
        verdict = 0;
    if (verdict != 0 && !checks.trusted.isEmpty() &&
        QCryptographicHash::hash(leaf, QCryptographicHash::Sha256) == checks.trusted)
        verdict = 0;
    if (verdict != 0) {
        ++checks.refused;
        checks.refusedLeaf = leaf;
    }
    *flags = verdict;
    return 0;
}

// ---- event objects --------------------------------------------------------------------------

class ProfileObject final : public IRTCProfile {
public:
    explicit ProfileObject(ProvisioningProfile data) : data(std::move(data)) {}
    QString Key() const override { return data.key; }
    QString Name() const override { return data.name; }
    QString UserURI() const override { return data.userUri; }
    ProvisioningProfile data;
};

class RegistrationEvent final : public IRTCRegistrationStateChangeEvent {
public:
    RegistrationEvent(RTC_REGISTRATION_STATE state, long code, QString text, IRTCProfilePtr profile)
        : m_state(state), m_code(code), m_text(std::move(text)), m_profile(std::move(profile)) {}
    RTC_REGISTRATION_STATE State() const override { return m_state; }
    long StatusCode() const override { return m_code; }
    QString StatusText() const override { return m_text; }
    IRTCProfilePtr Profile() const override { return m_profile; }

private:
    RTC_REGISTRATION_STATE m_state;
    long m_code;
    QString m_text;
    IRTCProfilePtr m_profile;
};

class MediaEvent final : public IRTCMediaEvent {
public:
    MediaEvent(long type, long media) : m_type(type), m_media(media) {}
    long EventType() const override { return m_type; }
    long MediaType() const override { return m_media; }

private:
    long m_type;
    long m_media;
};

class Participant final : public IRTCParticipant {
public:
    Participant(QString uri, QString name) : m_uri(std::move(uri)), m_name(std::move(name)) {}
    QString UserURI() const override { return m_uri; }
    QString Name() const override { return m_name; }

private:
    QString m_uri;
    QString m_name;
};

class SessionEvent final : public IRTCSessionStateChangeEvent {
public:
    SessionEvent(IRTCSessionPtr session, RTC_SESSION_STATE state, long code, QString text,
                 QString encryption = QString())
        : m_session(std::move(session)), m_state(state), m_code(code), m_text(std::move(text)),
          m_encryption(std::move(encryption)) {}
    IRTCSessionPtr Session() const override { return m_session; }
    RTC_SESSION_STATE State() const override { return m_state; }
    long StatusCode() const override { return m_code; }
    QString StatusText() const override { return m_text; }
    QString MediaEncryption() const override { return m_encryption; }

private:
    IRTCSessionPtr m_session;
    RTC_SESSION_STATE m_state;
    long m_code;
    QString m_text;
    QString m_encryption;
};

// ---- engine glue ----------------------------------------------------------------------------

QString fromC(const char *text) {
    return text ? QString::fromUtf8(text) : QString();
}

// Engine messages go to the kirrow.engine logging category: quiet unless the user enables it
// (QT_LOGGING_RULES="kirrow.engine.debug=true").
// Every callback the engine calls keeps exceptions on this side: one that crossed the engine's C
// frames would be undefined behaviour.
template <class F> void atTheBoundary(F &&callback) noexcept {
    try {
        callback();
    } catch (const std::exception &error) {
        qCWarning(lcEngine) << "an engine callback failed:" << error.what();
    } catch (...) {
        qCWarning(lcEngine) << "an engine callback failed";
    }
}

void engineLog(LinphoneLoggingService *, const char *, LinphoneLogLevel level,
               const char *message) {
    atTheBoundary([&] {
        if (level == LinphoneLogLevelFatal)
            qCWarning(lcEngine) << message;
        else
            qCDebug(lcEngine) << message;
    });
}

void installLogHandler() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    LinphoneLoggingService *service = linphone_logging_service_get();
    LinphoneLoggingServiceCbs *cbs =
        linphone_factory_create_logging_service_cbs(linphone_factory_get());
    linphone_logging_service_cbs_set_log_message_written(cbs, engineLog);
    linphone_logging_service_add_callbacks(service, cbs);
    linphone_logging_service_cbs_unref(cbs);
    const bool verbose = lcEngine().isDebugEnabled();
    linphone_logging_service_set_log_level(service, verbose ? LinphoneLogLevelMessage
                                                            : LinphoneLogLevelError);
}

// The engine's own folders, given with a trailing "/" because it joins paths without one.
QString engineFolder(const QString &leaf) {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    const QString path = base + QStringLiteral("/engine/") + leaf;
    QDir().mkpath(path);
    return path + QLatin1Char('/');
}

// A sound the engine plays from a file of its folder, written there when it is missing or
// differs; empty when it cannot be written.
QString engineSound(const QString &name, const QByteArray &wav) {
    const QString path = engineFolder(QStringLiteral("data")) + name;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.readAll() == wav)
        return path;
    file.close();
    if (wav.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(wav) != wav.size())
        return {};
    return path;
}

// The SIP code a call ended with: the far end's answer, or the one the engine's reason stands for
// (a call no answer came for); 0 for a call hung up.
long endCode(LinphoneCall *call) {
    const LinphoneErrorInfo *info = linphone_call_get_error_info(call);
    if (!info)
        return 0;
    if (const int code = linphone_error_info_get_protocol_code(info); code >= 300)
        return code;
    const LinphoneReason reason = linphone_error_info_get_reason(info);
    return reason == LinphoneReasonNone ? 0 : linphone_reason_to_error_code(reason);
}

// The wizard's test sound: a soft two-note chime (C and G together, 0.7 s, dying away) as a
// 16-bit mono WAV file at 16000 samples/s.
QByteArray testChime() {
    constexpr int kRate = 16000;
    constexpr int kFrames = kRate * 7 / 10;
    constexpr int kAttack = kRate / 50;
    QByteArray wav(44 + kFrames * 2, '\0');
    char *const header = wav.data();
    std::memcpy(header, "RIFF", 4);
    qToLittleEndian<quint32>(quint32(wav.size() - 8), header + 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, header + 16);
    qToLittleEndian<quint16>(1, header + 20); // PCM
    qToLittleEndian<quint16>(1, header + 22); // mono
    qToLittleEndian<quint32>(kRate, header + 24);
    qToLittleEndian<quint32>(kRate * 2, header + 28);
    qToLittleEndian<quint16>(2, header + 32);
    qToLittleEndian<quint16>(16, header + 34);
    std::memcpy(header + 36, "data", 4);
    qToLittleEndian<quint32>(quint32(kFrames * 2), header + 40);
    for (int n = 0; n < kFrames; ++n) {
        const double t = double(n) / kRate;
        const double envelope = std::min(1.0, double(n) / kAttack) * (1.0 - double(n) / kFrames);
        const double value =
            envelope * 0.3 *
            (std::sin(2 * std::numbers::pi * 523 * t) + std::sin(2 * std::numbers::pi * 784 * t));
        qToLittleEndian<qint16>(qint16(std::lround(value * 32767)), header + 44 + 2 * n);
    }
    return wav;
}

// Whether a device of the engine can serve a part of the telephone.
bool canServe(const LinphoneAudioDevice *device, RTC_AUDIO_DEVICE part) {
    return linphone_audio_device_has_capability(device, part == RTCAD_MICROPHONE
                                                            ? LinphoneAudioDeviceCapabilityRecord
                                                            : LinphoneAudioDeviceCapabilityPlay);
}

void requirePart(RTC_AUDIO_DEVICE part) {
    if (part != RTCAD_SPEAKER && part != RTCAD_MICROPHONE && part != RTCAD_RINGER)
        throw RtcError(RTC_E_INVALIDARG, QStringLiteral("No such audio device part %1.").arg(part));
}

// Credentials the server refused are not sent again: the engine would send them again every
// minute, for ever, and a provider locks an account that keeps failing. The account stays as it
// is, unregistered, until the user logs in again, which makes a new one.
void stopRegistering(LinphoneAccount *account) {
    LinphoneAccountParams *params =
        linphone_account_params_clone(linphone_account_get_params(account));
    linphone_account_params_set_register_enabled(params, FALSE);
    linphone_account_set_params(account, params);
    linphone_account_params_unref(params);
}

void accountRegistrationChanged(LinphoneCore *core, LinphoneAccount *account,
                                LinphoneRegistrationState state, const char *) {
    atTheBoundary([&] {
        if (auto *client = static_cast<LinphoneClient *>(linphone_core_get_user_data(core)))
            client->onAccountRegistrationState(account, state);
    });
}

void callStateChanged(LinphoneCore *core, LinphoneCall *call, LinphoneCallState state,
                      const char *) {
    atTheBoundary([&] {
        if (auto *client = static_cast<LinphoneClient *>(linphone_core_get_user_data(core)))
            client->onCallState(call, state);
    });
}

// Whether the call's negotiated audio carries telephone events (RFC 2833): the payload types the
// audio stream sends with are what offer and answer agreed on, whatever the far end wrote beside
// its rtpmap (many send no fmtp line). Without a running audio stream no event can go out.
// Whether the registrar's last 200 OK bound the account for some time. A 200 OK whose contacts
// all carry expires=0, or that has none of its own and says "Expires: 0", binds nothing: the
// engine would show it as registered and never refresh it.
bool grantedSomeTime(LinphoneAccount *account) {
    const auto seconds = [](QByteArrayView text) {
        bool ok = false;
        const int value = text.trimmed().toByteArray().toInt(&ok);
        return ok ? value : -1;
    };
    const QByteArray contacts = linphone_account_get_custom_header(account, "Contact");
    bool anyContact = false;
    for (const QByteArray &contact : contacts.split(',')) {
        const qsizetype at = contact.toLower().indexOf(";expires=");
        if (at < 0)
            continue;
        anyContact = true;
        if (seconds(contact.mid(at + 9).split(';').first()) != 0)
            return true;
    }
    if (anyContact)
        return false;
    const char *expires = linphone_account_get_custom_header(account, "Expires");
    return !expires || seconds(expires) != 0;
}

bool negotiatedTelephoneEvents(LinphoneCall *call) {
    MediaStream *audio = linphone_call_get_stream(call, LinphoneStreamTypeAudio);
    RtpSession *session = audio ? media_stream_get_rtp_session(audio) : nullptr;
    return session && rtp_session_send_telephone_events_supported(session) >= 0;
}

// The one SRTP suite offered and accepted: the engine keeps the suite a call agreed on to itself,
// so with one suite the call's is known. Every SRTP end must support this one (RFC 4568, 6.2.1).
constexpr char kSrtpSuite[] = "AES_CM_128_HMAC_SHA1_80";

// How a call's media is encrypted now, as its streams run: empty while they are plain RTP.
QString mediaEncryption(LinphoneCall *call) {
    const LinphoneCallParams *params = linphone_call_get_current_params(call);
    if (!params || linphone_call_params_get_media_encryption(params) != LinphoneMediaEncryptionSRTP)
        return {};
    return QStringLiteral("SRTP, ") + QLatin1String(kSrtpSuite);
}

// Whether this host can bind IPv6 datagram sockets (a kernel or container without IPv6 cannot).
bool hasIpv6() {
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_any;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) == 0;
    ::close(fd);
    return bound;
}

// "host", "host:port" or "[v6]:port" into its parts; port 5060 when none is given.
std::pair<QString, quint16> splitHostPort(const QString &server) {
    QString host = server.trimmed();
    quint16 port = kStaticSipPort;
    const int colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && host.indexOf(QLatin1Char(':')) == colon) {
        bool ok = false;
        const uint value = host.mid(colon + 1).toUInt(&ok);
        if (ok && value > 0 && value < 65536)
            port = static_cast<quint16>(value);
        host.truncate(colon);
    }
    return {host, port};
}

} // namespace

// ---- sessions -------------------------------------------------------------------------------

// One call. An outgoing session has no call until its participant is added; an incoming one is
// made by the client when the call arrives. The session keeps the engine's call alive as long
// as the window holds the session, and forgets it when the client goes away.
class LinphoneSession final : public IRTCSession,
                              public std::enable_shared_from_this<LinphoneSession> {
public:
    LinphoneSession(LinphoneClient *client, bool throughProfile, LinphoneCall *call = nullptr)
        : m_client(client), m_throughProfile(throughProfile) {
        attach(call);
    }
    ~LinphoneSession() override { detach(); }

    void attach(LinphoneCall *call) {
        if (call)
            m_call = linphone_call_ref(call);
    }
    void detach() {
        if (m_call)
            linphone_call_unref(m_call);
        m_call = nullptr;
        m_client = nullptr;
    }
    LinphoneCall *call() const { return m_call; }

    RTC_SESSION_STATE State() const override { return m_state; }
    QString RemoteURI() const override {
        const LinphoneAddress *remote = m_call ? linphone_call_get_remote_address(m_call) : nullptr;
        if (!remote)
            return {};
        char *uri = linphone_address_as_string_uri_only(remote);
        const QString text = fromC(uri);
        ortp_free(uri);
        return text;
    }
    void setState(RTC_SESSION_STATE state) { m_state = state; }
    // Whether the call has been reported connected, and the media encryption last reported.
    bool wasConnected = false;
    QString reportedEncryption;

    IRTCParticipantPtr AddParticipant(const QString &userUri, const QString &name) override {
        if (m_call)
            throw RtcError(RTC_E_INVALIDARG, QStringLiteral("The session already has its party."));
        requireClient();
        attach(m_client->placeCall(userUri, name, m_throughProfile, shared_from_this()));
        return std::make_shared<Participant>(userUri, name);
    }

    void Answer() override {
        requireCall();
        m_client->followSoundServer();
        if (linphone_call_accept(m_call) != 0)
            throw RtcError(RTC_E_ENGINE, QStringLiteral("The call could not be answered."));
        m_client->wake();
        m_client->sessionStateChanged(shared_from_this(), RTCSS_ANSWERING);
    }

    void Terminate(RTC_TERMINATE_REASON reason) override {
        requireCall();
        const LinphoneCallState state = linphone_call_get_state(m_call);
        if (state == LinphoneCallStateEnd || state == LinphoneCallStateError ||
            state == LinphoneCallStateReleased)
            throw RtcError(RTC_E_INVALIDARG, QStringLiteral("The call has already ended."));
        // Reject: 603 Decline; the rest: CANCEL before an answer, BYE after it.
        const LinphoneStatus status = reason == RTCTR_REJECT
                                          ? linphone_call_decline(m_call, LinphoneReasonDeclined)
                                          : linphone_call_terminate(m_call);
        if (status != 0)
            throw RtcError(RTC_E_ENGINE, QStringLiteral("The call could not be ended."));
        m_client->wake();
    }

private:
    void requireClient() const {
        if (!m_client)
            throw RtcError(RTC_E_NOT_INITIALIZED,
                           QStringLiteral("The client of this session is gone."));
    }
    void requireCall() const {
        requireClient();
        if (!m_call)
            throw RtcError(RTC_E_INVALIDARG, QStringLiteral("The session has no call."));
    }

    LinphoneClient *m_client;
    bool m_throughProfile;
    LinphoneCall *m_call = nullptr;
    RTC_SESSION_STATE m_state = RTCSS_IDLE;
};

// ---- free helpers ---------------------------------------------------------------------------

namespace {

// The port a UDP socket gets when bound to address:port (0: any free one; an IPv6 address when
// it holds a colon), or -1 when it cannot be bound there. The socket is closed again: the engine
// binds it itself.
int probeUdpPort(const QString &bindAddress, int port) {
    sockaddr_storage address{};
    auto &v4 = reinterpret_cast<sockaddr_in &>(address);
    auto &v6 = reinterpret_cast<sockaddr_in6 &>(address);
    const QByteArray text = bindAddress.toLatin1();
    socklen_t length = sizeof v4;
    if (bindAddress.contains(QLatin1Char(':'))) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(quint16(port));
        if (inet_pton(AF_INET6, text.constData(), &v6.sin6_addr) != 1)
            return -1;
        length = sizeof v6;
    } else {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(quint16(port));
        v4.sin_addr.s_addr = htonl(INADDR_ANY);
        if (!bindAddress.isEmpty() && inet_pton(AF_INET, text.constData(), &v4.sin_addr) != 1)
            return -1;
    }
    const int fd = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int bound = -1;
    socklen_t got = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &got) == 0)
        bound = ntohs(address.ss_family == AF_INET6 ? v6.sin6_port : v4.sin_port);
    ::close(fd);
    return bound;
}

} // namespace

int chooseSipPort(const QString &bindAddress) {
    if (probeUdpPort(bindAddress, kStaticSipPort) == kStaticSipPort)
        return kStaticSipPort;
    return probeUdpPort(bindAddress, 0); // -1: let the engine pick one
}

namespace {

template <class Address> sockaddr_storage endpointOf(const Address &address) {
    sockaddr_storage endpoint{};
    std::memcpy(&endpoint, &address, sizeof address);
    return endpoint;
}

// Whether a datagram's source is the server: the same address and port, an IPv4 one also when it
// comes mapped into IPv6 (on a socket that takes both).
bool sameEndpoint(const sockaddr_storage &server, const sockaddr_storage &source) {
    if (server.ss_family == AF_INET6 && source.ss_family == AF_INET6) {
        const auto &a = reinterpret_cast<const sockaddr_in6 &>(server);
        const auto &b = reinterpret_cast<const sockaddr_in6 &>(source);
        return a.sin6_port == b.sin6_port && IN6_ARE_ADDR_EQUAL(&a.sin6_addr, &b.sin6_addr);
    }
    if (server.ss_family != AF_INET)
        return false;
    const auto &a = reinterpret_cast<const sockaddr_in &>(server);
    if (source.ss_family == AF_INET) {
        const auto &b = reinterpret_cast<const sockaddr_in &>(source);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    const auto &b = reinterpret_cast<const sockaddr_in6 &>(source);
    return source.ss_family == AF_INET6 && a.sin_port == b.sin6_port &&
           IN6_IS_ADDR_V4MAPPED(&b.sin6_addr) &&
           std::memcmp(&b.sin6_addr.s6_addr[12], &a.sin_addr, 4) == 0;
}

// The address of a server given as "address[:port]" or "localhost[:port]" (IPv4); none for other
// names.
std::optional<sockaddr_in> numericServerAddress(const QString &server) {
    const auto [host, port] = splitHostPort(server);
    if (host.isEmpty())
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    // Looking up a name here would block the window while DNS answers (or never does); the
    // engine resolves names itself, without blocking, and then binds every address. Only
    // addresses, and the host's own name for itself, are routed here.
    if (host != QLatin1String("localhost"))
        hints.ai_flags = AI_NUMERICHOST;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    sockaddr_in target = *reinterpret_cast<sockaddr_in *>(found->ai_addr);
    freeaddrinfo(found);
    target.sin_port = htons(port);
    return target;
}

// A server's port that refuses datagrams answers them with an ICMP "port unreachable", which the
// kernel reports on a connected socket as a refused connection, and a host or network that cannot
// be reached says so the same way. The engine's own socket is not connected and never hears of
// it, so a socket of our own sends the server one CRLF keep-alive (RFC 5626), which a SIP server
// takes without a word. Gives the socket, to be asked with refusedSince() once an answer has had
// time to come back; -1 when the datagram could not go out at all.
int sendKeepAlive(const sockaddr_in &server) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    static const char keepAlive[] = "\r\n\r\n";
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0 ||
        ::send(fd, keepAlive, sizeof keepAlive - 1, 0) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the keep-alive sent on fd was refused.
bool refusedSince(int fd) {
    char byte;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT) < 0 &&
           (errno == ECONNREFUSED || errno == EHOSTUNREACH || errno == ENETUNREACH);
}

} // namespace

namespace {

// The same for an IPv6 server given as "[address][:port]".
// The address and port of a server given as "[IPv6 address][:port]" (5060 when none is given);
// none for anything else.
std::optional<sockaddr_in6> numericServerAddress6(const QString &server) {
    const qsizetype close = server.indexOf(QLatin1Char(']'));
    if (!server.startsWith(QLatin1Char('[')) || close < 0)
        return std::nullopt;
    sockaddr_in6 target{};
    target.sin6_family = AF_INET6;
    target.sin6_port = htons(kStaticSipPort);
    if (inet_pton(AF_INET6, server.mid(1, close - 1).toLatin1().constData(), &target.sin6_addr) !=
        1)
        return std::nullopt;
    const QStringView rest = QStringView(server).mid(close + 1);
    if (rest.startsWith(QLatin1Char(':'))) {
        bool ok = false;
        const uint port = rest.mid(1).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return std::nullopt;
        target.sin6_port = htons(quint16(port));
    }
    return target;
}

QString localAddressTowards6(const QString &server) {
    const std::optional<sockaddr_in6> found = numericServerAddress6(server);
    if (!found)
        return {};
    const sockaddr_in6 target = *found;
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    QString local;
    sockaddr_in6 self{};
    socklen_t len = sizeof self;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&target), sizeof target) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&self), &len) == 0) {
        char text[INET6_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET6, &self.sin6_addr, text, sizeof text))
            local = QString::fromLatin1(text);
    }
    ::close(fd);
    return local;
}

} // namespace

QString localAddressTowards(const QString &server) {
    if (server.startsWith(QLatin1Char('[')))
        return localAddressTowards6(server);
    const std::optional<sockaddr_in> target = numericServerAddress(server);
    if (!target)
        return {};
    // A connected UDP socket sends nothing; it only asks the kernel which source it would use.
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return {};
    QString local;
    sockaddr_in self{};
    socklen_t len = sizeof self;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&*target), sizeof *target) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&self), &len) == 0) {
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &self.sin_addr, text, sizeof text))
            local = QString::fromLatin1(text);
    }
    ::close(fd);
    return local;
}

// The IPv4 and IPv6 sockets of this process of a type (SOCK_DGRAM, SOCK_STREAM), with the port
// each is bound to. The engine does not tell which descriptors it uses; the program itself opens
// no such sockets (it has no network library of its own).
std::vector<std::pair<int, int>> inetSockets(int wantedType) {
    std::vector<std::pair<int, int>> found;
    const QStringList entries = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const int fd = entry.toInt(&isNumber);
        struct stat info {};
        if (!isNumber || ::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        int type = 0;
        socklen_t typeLength = sizeof type;
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != wantedType ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            continue;
        if (address.ss_family == AF_INET)
            found.emplace_back(fd, ntohs(reinterpret_cast<sockaddr_in *>(&address)->sin_port));
        else if (address.ss_family == AF_INET6)
            found.emplace_back(fd, ntohs(reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port));
    }
    return found;
}

// The datagram sockets of this process bound to port: the engine's SIP sockets.
std::vector<int> udpSocketsOn(int port) {
    std::vector<int> found;
    for (const auto &[fd, bound] : inetSockets(SOCK_DGRAM))
        if (bound == port)
            found.push_back(fd);
    return found;
}

// The connected stream sockets of this process: the engine's SIP connections over TCP and TLS.
std::set<int> sipConnections() {
    std::set<int> found;
    for (const auto &[fd, bound] : inetSockets(SOCK_STREAM)) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0)
            found.insert(fd);
    }
    return found;
}

namespace {

// How often the engine sends its SIP keep-alive (a CRLF) to the server it registered with.
constexpr int kKeepAlivePeriodMs = 10000;

// A phone behind a home router (NAT) is reached only while the router keeps the mapping its
// registration opened, and routers forget a quiet UDP mapping after as little as 20 to 30 s,
// long before the registration is refreshed: calls to the phone would then be dropped at the
// router. The engine's keep-alives on the registration's flow keep the mapping open, but at its
// own period they come too seldom for such a router (a mapping was seen to expire between them);
// the period is read from the configuration when the engine starts. They are switched on
// explicitly too, not left to the engine's default.
void keepNatMappingsAlive(LinphoneConfig *config) {
    linphone_config_set_int(config, "sip", "keepalive_period", kKeepAlivePeriodMs);
}
void keepNatMappingsAlive(LinphoneCore *core) {
    linphone_core_enable_keep_alive(core, TRUE);
}

} // namespace

// How long the engine holds what it hears before playing it: what the jitter buffer starts
// with and never goes below, and the most it grows to (the engine's own ceiling, 500 ms, lets a
// burst of late packets leave a call half a second behind for good). The start is what every call
// pays on a quiet network, and it protects nothing where it counts: the buffer grows by itself to
// twice the jitter it measures, so a jittery network gets what it needs anyway. Between two
// programs, a start at 20 ms made calls about 10 ms shorter than one at 40, and 40 about 20 ms
// shorter than the engine's 60, with no sound lost.
constexpr int kJitterBufferMs = 20;
constexpr int kJitterBufferMostMs = 150;

// The call's delay is kept short by the jitter buffer above and by Opus, which both ends of a call
// between two such phones have, offered first. The engine's echo canceller is on unless the user
// says a headset is used, although it costs 20-30 ms and lets the delay move by up to 30 ms
// within a call (bench/README.md, mouth-to-ear: it hands the sound it has heard on to the
// speaker only as the microphone's 20 ms blocks come in): without it, a caller talking to someone
// on a laptop's speakers and microphone hears themselves back, and desktops do not cancel echo by
// themselves unless set up to.
void applyMediaTuning(LinphoneCore *core, bool echoCancelling) {
    linphone_core_enable_echo_cancellation(core, echoCancelling);
    linphone_core_set_audio_jittcomp(core, kJitterBufferMs);
    linphone_core_enable_audio_adaptive_jittcomp(core, TRUE);
    linphone_config_set_int(linphone_core_get_config(core), "rtp", "jitter_buffer_max_size",
                            kJitterBufferMostMs);
    bctbx_list_t *codecs = linphone_core_get_audio_payload_types(core);
    bctbx_list_t *ordered = nullptr;
    for (const bool opus : {true, false})
        for (bctbx_list_t *item = codecs; item; item = item->next) {
            auto *codec = static_cast<LinphonePayloadType *>(item->data);
            if ((qstricmp(linphone_payload_type_get_mime_type(codec), "opus") == 0) == opus)
                ordered = bctbx_list_append(ordered, codec);
        }
    linphone_core_set_audio_payload_types(core, ordered);
    bctbx_list_free(ordered);
    bctbx_list_free_with_data(codecs,
                              reinterpret_cast<bctbx_list_free_func>(linphone_payload_type_unref));
}

// The machine's addresses, in order.
static QStringList localAddresses() {
    QStringList addresses;
    ifaddrs *all = nullptr;
    if (::getifaddrs(&all) != 0)
        return addresses;
    for (const ifaddrs *entry = all; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr)
            continue;
        char text[INET6_ADDRSTRLEN] = {};
        const int family = entry->ifa_addr->sa_family;
        const void *raw =
            family == AF_INET
                ? static_cast<const void *>(
                      &reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr)
                : &reinterpret_cast<const sockaddr_in6 *>(entry->ifa_addr)->sin6_addr;
        if ((family == AF_INET || family == AF_INET6) && inet_ntop(family, raw, text, sizeof text))
            addresses << QString::fromLatin1(text);
    }
    ::freeifaddrs(all);
    addresses.sort();
    return addresses;
}

// ---- the client -----------------------------------------------------------------------------

LinphoneClient::LinphoneClient(QObject *parent) : IRTCClient(parent) {
    m_busyTickMs = kIterateMs;
    m_idleTickMs = kIdleTickMs;
    m_iterateTimer.setInterval(kIterateMs);
    connect(&m_iterateTimer, &QTimer::timeout, this, [this] {
        watchSipSockets();
        iterate();
    });
    m_sinceActivity.start();
    m_followUp.setInterval(kFollowUpMs);
    connect(&m_followUp, &QTimer::timeout, this, [this] {
        if (--m_followUpsLeft <= 0)
            m_followUp.stop();
        iterate();
    });
    m_registerRetry.setSingleShot(true);
    m_registerRetry.setInterval(kFirstRegisterRetryMs);
    connect(&m_registerRetry, &QTimer::timeout, this, [this] {
        if (!m_core || !m_account ||
            linphone_account_get_state(m_account) != LinphoneRegistrationFailed)
            return;
        m_registerRetry.setInterval(std::min(m_registerRetry.interval() * 2, kMostRegisterRetryMs));
        linphone_account_refresh_register(m_account);
        wake();
    });
    m_tonePacer.setSingleShot(true);
    m_tonePacer.setInterval(kToneSpacingMs);
    connect(&m_tonePacer, &QTimer::timeout, this, &LinphoneClient::sendNextTone);
}

LinphoneClient::~LinphoneClient() {
    m_iterateTimer.stop();
    m_followUp.stop();
    m_sipNotifiers.clear();
    m_connectionNotifiers.clear();
    m_networkWatch.reset();
    if (m_networkNews >= 0)
        ::close(m_networkNews);
    // Sessions the window still holds must not touch the engine once it is gone.
    for (auto &[call, session] : m_sessions)
        session->detach();
    m_sessions.clear();
    if (!m_core)
        return;
    StopEchoTest();
    StopCaptureMeter();
    if (m_ringer)
        linphone_ringtoneplayer_destroy(m_ringer);
    linphone_core_set_user_data(m_core, nullptr);
    linphone_core_stop(m_core);
    linphone_core_unref(m_core);
}

void LinphoneClient::requireCore(const char *operation) const {
    if (!m_core)
        throw RtcError(
            RTC_E_NOT_INITIALIZED,
            QStringLiteral("%1: the client is not initialized.").arg(QLatin1String(operation)));
}

// Making the engine's core (its XML, TLS and SRTP libraries set up, the sound cards found) takes
// 20 to 30 ms; done while the login dialog is up, LOGIN no longer waits for it.
void LinphoneClient::Prepare() {
    if (m_core)
        return;
    installLogHandler();
    // The sound server the cards are found on now: one that starts again before Initialize has
    // the cards found anew there (see watchSoundServer).
    m_soundSocket = soundServerSocket();
    noteSoundServer();
    m_cardsServer = m_soundServer;
    LinphoneFactory *factory = linphone_factory_get();
    // An empty plug-in folder: the engine's video plug-ins would load a second GUI toolkit.
    linphone_factory_set_msplugins_dir(
        factory, engineFolder(QStringLiteral("plugins")).toUtf8().constData());
    linphone_factory_set_data_dir(factory,
                                  engineFolder(QStringLiteral("data")).toUtf8().constData());
    linphone_factory_set_config_dir(factory,
                                    engineFolder(QStringLiteral("config")).toUtf8().constData());

    // The configuration lives in memory: the program keeps its own account and call log, so
    // nothing the engine knows needs to outlive the run.
    LinphoneConfig *config = linphone_factory_create_config_from_string(factory, "");
    // Not listening until ListenForIncomingSessions says where; otherwise it would bind 5060 now.
    linphone_config_set_int(config, "sip", "sip_port", 0);
    linphone_config_set_int(config, "sip", "sip_tcp_port", 0);
    linphone_config_set_int(config, "sip", "sip_tls_port", 0);
    linphone_config_set_int(config, "sip", "ipv6", 0);
    // The engine's own watch of the network takes a host without a default route for one
    // without a network, and a few seconds later drops the registration without a word, even
    // at a server on loopback (a laptop offline with the demo exchange). Whether the server is
    // reached is what the registration itself tells.
    linphone_config_set_int(config, "sip", "auto_net_state_mon", 0);
    // No database at all ("null" is the engine's word for none): the program keeps its own call
    // log and has no chats or contacts in the engine, and building the engine's schema, even in
    // memory, cost every start about 7 ms and 1.4 MiB.
    linphone_config_set_string(config, "storage", "uri", "null");
    linphone_config_set_string(config, "storage", "call_logs_db_uri", "null");
    linphone_config_set_string(config, "storage", "zrtp_secrets_db_uri", "null");
    linphone_config_set_int(config, "video", "capture", 0);
    linphone_config_set_int(config, "video", "display", 0);
    linphone_config_set_int(config, "video", "automatically_initiate", 0);
    linphone_config_set_int(config, "video", "automatically_accept", 0);
    linphone_config_set_int(config, "rtp", "audio_rtp_port", -1);
    linphone_config_set_int(config, "misc", "enable_basic_to_client_group_chat_room_migration", 0);
    // The program decides what is heard: no engine tones for busy, waiting or ended calls.
    linphone_config_set_int(config, "sound", "tone_indications", 0);
    linphone_config_set_int(config, "sip", "use_info", 0);
    linphone_config_set_int(config, "sip", "use_rfc2833", 1);
    keepNatMappingsAlive(config);

    LinphoneCore *core = linphone_factory_create_core_with_config_3(factory, config, nullptr);
    linphone_config_unref(config);
    if (!core)
        throw RtcError(RTC_E_ENGINE, QStringLiteral("The SIP engine could not be created."));
    m_core = core;
    linphone_core_set_user_data(core, this);
    // The window holds one call and leaves one more caller ringing; the engine refuses any further
    // caller at once (486 Busy Here) instead of keeping each one, with its memory, until it gives
    // up or the engine's own time-out ends it. (Its "max_calls" setting is not read from a
    // configuration given at creation.)
    linphone_core_set_max_calls(core, kMostCalls);
    // A caller rings until they, or their exchange, give up: the engine's own 30 s limit would
    // turn away a caller waiting behind a call before the user could take them. Its limit stays
    // as a backstop for a caller that never gives up.
    linphone_core_set_inc_timeout(core, kLongestRingSeconds);

    LinphoneCoreCbs *cbs = linphone_factory_create_core_cbs(factory);
    linphone_core_cbs_set_account_registration_state_changed(cbs, accountRegistrationChanged);
    linphone_core_cbs_set_call_state_changed(cbs, callStateChanged);
    linphone_core_add_callbacks(core, cbs);
    linphone_core_cbs_unref(cbs);

    linphone_core_set_user_agent(core, "Kirrow", "1.0");
    if (linphone_core_start(core) != 0)
        throw RtcError(RTC_E_ENGINE, QStringLiteral("The SIP engine could not be started."));
}

void LinphoneClient::Initialize() {
    if (m_initialized)
        throw RtcError(RTC_E_INVALIDARG, QStringLiteral("The client is already initialized."));
    Prepare();
    m_initialized = true;
    LinphoneCore *core = m_core;

    // Settings the engine resets while starting: the program rings itself when it decides to;
    // the engine plays the ringback while a far end rings without sending sound of its own.
    linphone_core_set_ring(core, nullptr);
    useRingback();
    linphone_core_enable_video_capture(core, FALSE);
    linphone_core_enable_video_display(core, FALSE);
    useTrustStore();
    // ALSA's default until a call asks the sound server for its own (followSoundServer): asking
    // here would hold LOGIN up by a round trip to the server.
    for (const RTC_AUDIO_DEVICE part : {RTCAD_SPEAKER, RTCAD_MICROPHONE, RTCAD_RINGER})
        useDevice(part, QString());
    // Reachability is what the registration tells; the engine's own guess from the default route
    // takes a loopback-only host for one without a network.
    linphone_core_enable_auto_iterate(core, FALSE);
    linphone_core_set_network_reachable(core, TRUE);
    watchNetworkChanges();
    watchSoundServer();
    keepNatMappingsAlive(core);
    linphone_core_set_srtp_crypto_suites(core, kSrtpSuite);
    applyMediaTuning(core, m_echoCancelling);
    applyConnection();
    prepareMediaIdentity();
    m_iterateTimer.start();
}

// The engine makes the certificate it shows a far end offering DTLS (a 3072-bit RSA key) when the
// first call's streams are made, on the thread that runs it, and keeps it in its certificates
// folder: the first caller of a new profile rang 0.1 to 1.3 s late while the key was made. Made
// here on a thread of its own instead, as the engine would name and keep it; the engine finds it
// there when its first call comes.
void LinphoneClient::prepareMediaIdentity() {
    const char *folder = linphone_core_get_user_certificates_path(m_core);
    if (!folder || !*folder)
        return;
    std::thread([path = QByteArray(folder)] {
        static constexpr char kSubject[] = "linphone-dtls-default-identity";
        belle_sip_certificates_chain_t *certificate = nullptr;
        belle_sip_signing_key_t *key = nullptr;
        if (belle_sip_get_certificate_and_pkey_in_dir(path.constData(), kSubject, &certificate,
                                                      &key,
                                                      BELLE_SIP_CERTIFICATE_RAW_FORMAT_PEM) != 0)
            belle_sip_generate_self_signed_certificate(path.constData(), kSubject, &certificate,
                                                       &key);
        if (certificate)
            belle_sip_object_unref(certificate);
        if (key)
            belle_sip_object_unref(key);
    }).detach();
}

// The engine's own watch of the network is off (see Initialize), so the client follows the
// system's addresses and routes itself: a laptop that moves to another network listens on its
// new address and registers from there at once, rather than when the registration runs out.
void LinphoneClient::watchNetworkChanges() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    // Addresses only: a link's flags change for many reasons (a capture taking it promiscuous)
    // that move nothing.
    address.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    m_networkNews = fd;
    m_localAddresses = localAddresses();
    // A change comes as a burst of messages (the link, its addresses, its routes).
    m_networkSettle.setSingleShot(true);
    m_networkSettle.setInterval(kNetworkSettleMs);
    connect(&m_networkSettle, &QTimer::timeout, this, &LinphoneClient::networkChanged);
    m_networkWatch = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_networkWatch.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[8192];
        while (::recv(m_networkNews, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
        m_networkSettle.start();
    });
}

// The engine tries a failed registration again only when its own watch of the network, which is
// off (see Initialize), says the network came back: the client does it, less often the longer
// the server stays away.
void LinphoneClient::retryRegisterLater() {
    if (m_registerRetry.isActive())
        return;
    m_registerRetry.start();
}

void LinphoneClient::networkChanged() {
    // An address that came and went again, or news of another kind, moves nothing.
    QStringList addresses = localAddresses();
    if (addresses == m_localAddresses)
        return;
    m_localAddresses = std::move(addresses);
    const auto *object = dynamic_cast<const ProfileObject *>(m_enabledProfile.get());
    if (!m_core || !m_account || !object)
        return;
    bindTo(localAddressTowards(object->data.proxy));
    linphone_core_refresh_registers(m_core);
    wake();
}

// A TLS server must show a certificate the system trusts, for the name or address it was reached
// at. The engine reads no SSL_CERT_FILE of its own: the file it names, where set, is the trust
// store the user chose.
void LinphoneClient::useTrustStore() {
    QString store = qEnvironmentVariable("SSL_CERT_FILE");
    if (store.isEmpty())
        store = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
    linphone_core_set_root_ca(m_core, QFile::encodeName(store).constData());
    linphone_core_verify_server_certificates(m_core, TRUE);
    linphone_core_verify_server_cn(m_core, TRUE);
    // Deprecated by the engine for a callback on its TLS configuration, which the engine keeps
    // to itself: this is the one way to hear of a refused certificate.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    belle_sip_tls_set_verify_error_cb(reinterpret_cast<void *>(&certificateChecked));
#pragma GCC diagnostic pop
}

QByteArray LinphoneClient::RefusedCertificate() const {
    return certificateChecks().refusedLeaf;
}

void LinphoneClient::SetTrustedCertificate(const QByteArray &sha256) {
    certificateChecks().trusted = sha256;
}

void LinphoneClient::SetConnectionOptions(const ConnectionOptions &options) {
    m_connection = options;
    if (m_core)
        applyConnection();
}

QByteArray LinphoneClient::anyAddress() const {
    return m_connection.ipv6 && hasIpv6() ? QByteArrayLiteral("::0") : QByteArrayLiteral("0.0.0.0");
}

void LinphoneClient::applyConnection() {
    LinphoneNatPolicy *policy = linphone_core_create_nat_policy(m_core);
    const QByteArray stun = m_connection.stunServer.trimmed().toUtf8();
    linphone_nat_policy_set_stun_server(policy, stun.isEmpty() ? nullptr : stun.constData());
    linphone_nat_policy_enable_stun(policy, !stun.isEmpty());
    linphone_nat_policy_enable_ice(policy, m_connection.ice);
    linphone_core_set_nat_policy(m_core, policy);
    linphone_nat_policy_unref(policy);

    if (bool(linphone_core_ipv6_enabled(m_core)) != m_connection.ipv6) {
        // The engine opens its sockets afresh on the same port, so the registration's contact
        // stays good.
        if (m_bindAddress.isEmpty()) {
            LinphoneConfig *config = linphone_core_get_config(m_core);
            linphone_config_set_string(config, "sip", "bind_address", anyAddress().constData());
            linphone_config_set_string(config, "rtp", "bind_address", anyAddress().constData());
        }
        linphone_core_enable_ipv6(m_core, m_connection.ipv6);
        if (m_sipPort != 0)
            applyTransports();
    }

    // When possible: plain RTP offered with SRTP as a capability (RFC 5939), which a far end that
    // encrypts takes and any other ignores. Always: SRTP offered, and a call without it fails.
    const bool always = m_connection.encryption == RTCEN_ALWAYS;
    const bool possible = m_connection.encryption == RTCEN_WHEN_POSSIBLE;
    linphone_core_set_media_encryption(m_core, always ? LinphoneMediaEncryptionSRTP
                                                      : LinphoneMediaEncryptionNone);
    linphone_core_set_media_encryption_mandatory(m_core, always);
    bctbx_list_t *supported =
        possible ? bctbx_list_append(
                       nullptr, reinterpret_cast<void *>(intptr_t(LinphoneMediaEncryptionSRTP)))
                 : nullptr;
    linphone_core_set_supported_media_encryptions(m_core, supported);
    bctbx_list_free(supported);
    linphone_core_enable_capability_negociation(m_core, possible);
}

// With encryption a must, the engine offers SRTP only: a far end that answers with plain RTP has
// the call ended by the engine at once, with no SIP code of the far end's, and one that cannot
// take SRTP refuses the offer with 488.
QString LinphoneClient::endedHere(LinphoneCall *call) const {
    if (m_connection.encryption != RTCEN_ALWAYS ||
        linphone_call_get_dir(call) != LinphoneCallOutgoing)
        return {};
    const long code = endCode(call);
    const LinphoneCallParams *remote = linphone_call_get_remote_params(call);
    const bool plainAnswer =
        code == 0 && remote &&
        linphone_call_params_get_media_encryption(remote) != LinphoneMediaEncryptionSRTP;
    if (!plainAnswer && code != 488)
        return {};
    // Short: the status line is narrow.
    return QStringLiteral("Far end won't encrypt");
}

void LinphoneClient::SetRingSounds(const RingSounds &sounds) {
    m_ringSounds = sounds;
    if (m_core)
        useRingback();
}

void LinphoneClient::useRingback() {
    const QString ringback = engineSound(QStringLiteral("ringback.wav"), m_ringSounds.ringback);
    linphone_core_set_ringback(m_core,
                               ringback.isEmpty() ? nullptr : ringback.toUtf8().constData());
}

void LinphoneClient::setEventFilter(long filter) {
    m_eventFilter = filter;
}

long LinphoneClient::EventFilter() const {
    return m_eventFilter;
}

void LinphoneClient::ListenForIncomingSessions(RTC_LISTEN_MODE mode) {
    requireCore("ListenForIncomingSessions");
    // Both modes listen on one UDP port: 5060 when it is free, any free port otherwise.
    m_sipPort = mode == RTCLM_NONE ? 0 : chooseSipPort(m_bindAddress);
    applyTransports();
}

void LinphoneClient::SetPreferredMediaTypes(long mediaTypes, bool) {
    requireCore("SetPreferredMediaTypes");
    // Audio only: video never starts, whatever is asked.
    m_mediaTypes = mediaTypes & (RTCMT_AUDIO_SEND | RTCMT_AUDIO_RECEIVE);
    linphone_core_enable_video_capture(m_core, FALSE);
    linphone_core_enable_video_display(m_core, FALSE);
}

IRTCClientProvisioning *LinphoneClient::provisioning() {
    return this;
}

void LinphoneClient::applyTransports() {
    LinphoneTransports *transports = linphone_factory_create_transports(linphone_factory_get());
    linphone_transports_set_udp_port(transports, m_sipPort);
    // A server reached over TCP or TLS is reached from a port of the system's choosing, and the
    // server's requests come back on that connection: nothing listens for new ones.
    const int streamPort = m_streamTransports ? LC_SIP_TRANSPORT_DONTBIND : 0;
    linphone_transports_set_tcp_port(transports, streamPort);
    linphone_transports_set_tls_port(transports, streamPort);
    linphone_transports_set_dtls_port(transports, 0);
    const LinphoneStatus status = linphone_core_set_transports(m_core, transports);
    linphone_transports_unref(transports);
    if (status != 0)
        throw RtcError(
            RTC_E_ENGINE,
            QStringLiteral("The SIP engine cannot listen on UDP port %1.").arg(m_sipPort));
    // The engine has closed its old socket and opened a new one.
    m_watchedPort = -1;
    watchSipSockets();
}

// Listen on, and advertise, the local address that routes to the server: a server on 127.0.0.1
// must be told 127.0.0.1, never an address of another interface.
void LinphoneClient::bindTo(const QString &address) {
    if (address == m_bindAddress)
        return;
    m_bindAddress = address;
    LinphoneConfig *config = linphone_core_get_config(m_core);
    const QByteArray bind = address.isEmpty() ? anyAddress() : address.toUtf8();
    linphone_config_set_string(config, "sip", "bind_address", bind.constData());
    linphone_config_set_string(config, "rtp", "bind_address", bind.constData());
    if (m_sipPort != 0) {
        // The port chosen for the old address may be taken on the new one.
        m_sipPort = chooseSipPort(m_bindAddress);
        applyTransports();
    }
}

IRTCProfilePtr LinphoneClient::CreateProfile(const QString &profileXml) {
    requireCore("CreateProfile");
    return std::make_shared<ProfileObject>(parseProvisioningProfile(profileXml));
}

void LinphoneClient::EnableProfile(const IRTCProfilePtr &profile, long) {
    requireCore("EnableProfile");
    auto *object = dynamic_cast<ProfileObject *>(profile.get());
    if (!object)
        throw RtcError(RTC_E_INVALIDARG,
                       QStringLiteral("EnableProfile: not a profile of this client."));
    const ProvisioningProfile &data = object->data;
    LinphoneFactory *factory = linphone_factory_get();

    const QString registrar =
        QStringLiteral("sip:%1;transport=%2").arg(data.registrar, data.transport.toLower());
    const QString proxy =
        QStringLiteral("sip:%1;transport=%2;lr").arg(data.proxy, data.proxyTransport.toLower());
    LinphoneAddress *identity =
        linphone_factory_create_address(factory, data.userUri.toUtf8().constData());
    LinphoneAddress *route = linphone_factory_create_address(factory, proxy.toUtf8().constData());
    if (!identity || !route) {
        if (identity)
            linphone_address_unref(identity);
        if (route)
            linphone_address_unref(route);
        throw RtcError(RTC_E_INVALID_PROFILE,
                       QStringLiteral("EnableProfile: \"%1\" or \"%2\" is not a SIP address.")
                           .arg(data.userUri, data.proxy));
    }
    if (!data.userName.isEmpty())
        linphone_address_set_display_name(identity, data.userName.toUtf8().constData());
    certificateChecks().domain = QByteArray(linphone_address_get_domain(identity));

    const bool streams =
        data.transport != QLatin1String("UDP") || data.proxyTransport != QLatin1String("UDP");
    const bool transportsChanged = streams != m_streamTransports;
    m_streamTransports = streams;
    // An IPv6 server is reached only by an engine that uses IPv6.
    if (data.proxy.startsWith(QLatin1Char('[')))
        linphone_core_enable_ipv6(m_core, TRUE);
    const QString boundBefore = m_bindAddress;
    bindTo(localAddressTowards(data.proxy));
    trustServer(data);
    if (transportsChanged && (boundBefore == m_bindAddress || m_sipPort == 0))
        applyTransports();

    // One profile at a time: accounts and credentials of an earlier profile would register too.
    linphone_core_clear_accounts(m_core);
    linphone_core_clear_all_auth_info(m_core);
    m_account = nullptr;

    LinphoneAuthInfo *auth = linphone_factory_create_auth_info(
        factory, data.account.toUtf8().constData(), nullptr, data.password.toUtf8().constData(),
        nullptr, nullptr, nullptr);
    linphone_core_add_auth_info(m_core, auth);
    linphone_auth_info_unref(auth);

    LinphoneAccountParams *params = linphone_core_create_account_params(m_core);
    linphone_account_params_set_identity_address(params, identity);
    linphone_account_params_set_server_addr(params, registrar.toUtf8().constData());
    bctbx_list_t *routes = bctbx_list_append(nullptr, route);
    linphone_account_params_set_routes_addresses(params, routes);
    bctbx_list_free(routes);
    linphone_account_params_set_expires(params, data.expires);
    linphone_account_params_set_register_enabled(params, TRUE);
    linphone_account_params_set_publish_enabled(params, FALSE);
    linphone_address_unref(identity);
    linphone_address_unref(route);

    LinphoneAccount *account = linphone_core_create_account(m_core, params);
    linphone_account_params_unref(params);
    m_enabledProfile = profile;
    m_account = account;
    const bool added = linphone_core_add_account(m_core, account) == 0;
    if (added)
        linphone_core_set_default_account(m_core, account);
    linphone_account_unref(account);
    if (!added) {
        m_account = nullptr;
        throw RtcError(RTC_E_ENGINE,
                       QStringLiteral("EnableProfile: the SIP engine refused the account."));
    }
    wake();
}

IRTCSessionPtr LinphoneClient::CreateSession(RTC_SESSION_TYPE type, const QString &,
                                             const IRTCProfilePtr &profile, long flags) {
    requireCore("CreateSession");
    const bool throughProfile = type == RTCST_PC_TO_PHONE;
    if (throughProfile && (flags & RTCCS_FORCE_PROFILE) &&
        (!profile || profile != m_enabledProfile))
        throw RtcError(RTC_E_INVALIDARG,
                       QStringLiteral("CreateSession: the profile is not enabled."));
    return std::make_shared<LinphoneSession>(this, throughProfile);
}

LinphoneCall *LinphoneClient::placeCall(const QString &uri, const QString &name,
                                        bool throughProfile,
                                        const std::shared_ptr<LinphoneSession> &session) {
    requireCore("AddParticipant");
    if (throughProfile && !m_account)
        throw RtcError(RTC_E_INVALIDARG, QStringLiteral("AddParticipant: no profile is enabled."));
    LinphoneAddress *address =
        linphone_factory_create_address(linphone_factory_get(), uri.toUtf8().constData());
    if (!address)
        throw RtcError(RTC_E_INVALIDARG, QStringLiteral("\"%1\" is not a SIP address.").arg(uri));
    if (!name.isEmpty())
        linphone_address_set_display_name(address, name.toUtf8().constData());
    followSoundServer();
    LinphoneCallParams *params = linphone_core_create_call_params(m_core, nullptr);
    linphone_call_params_enable_video(params, FALSE);
    // The engine reports the new call while inviting; it must already belong to this session.
    m_placing = session;
    LinphoneCall *call = linphone_core_invite_address_with_params(m_core, address, params);
    m_placing.reset();
    linphone_call_params_unref(params);
    linphone_address_unref(address);
    if (!call)
        throw RtcError(RTC_E_ENGINE,
                       QStringLiteral("The call to %1 could not be started.").arg(uri));
    m_sessions[call] = session;
    wake();
    return call;
}

void LinphoneClient::sessionStateChanged(const std::shared_ptr<LinphoneSession> &session,
                                         RTC_SESSION_STATE state, long code, const QString &text,
                                         const QString &encryption) {
    session->setState(state);
    session->wasConnected |= state == RTCSS_CONNECTED;
    session->reportedEncryption = encryption;
    queueEvent(RTCE_SESSION_STATE_CHANGE,
               std::make_shared<SessionEvent>(session, state, code, text, encryption));
}

void LinphoneClient::onCallState(LinphoneCall *call, int state) {
    std::shared_ptr<LinphoneSession> session;
    if (auto found = m_sessions.find(call); found != m_sessions.end())
        session = found->second;
    else if (m_placing)
        session = m_sessions[call] = m_placing;
    const auto callState = static_cast<LinphoneCallState>(state);
    if (!session && callState == LinphoneCallStateIncomingReceived) {
        session = std::make_shared<LinphoneSession>(this, true, call);
        m_sessions[call] = session;
    }
    if (!session)
        return;
    switch (callState) {
    case LinphoneCallStateIncomingReceived:
        sessionStateChanged(session, RTCSS_INCOMING);
        break;
    case LinphoneCallStateOutgoingInit:
    case LinphoneCallStateOutgoingProgress:
    case LinphoneCallStateOutgoingRinging:
    case LinphoneCallStateOutgoingEarlyMedia:
        sessionStateChanged(session, RTCSS_INPROGRESS);
        break;
    case LinphoneCallStateConnected:
        sessionStateChanged(session, RTCSS_CONNECTED, 0, {}, mediaEncryption(call));
        break;
    case LinphoneCallStateStreamsRunning:
        // Streams started while the desktop's sound server is gone have no sound until it is
        // back (followSoundServer then moves them): said at once, not shown as a call with sound.
        if (m_hadSoundServer && m_soundServer == std::pair<quint64, quint64>{0, 0})
            reportCallSound(RTCMET_FAILED);
        // Streams starting are no new state, but only running streams tell whether the media is
        // encrypted (and a far end may change it): a change is reported as connected again.
        if (session->wasConnected) {
            const QString encryption = mediaEncryption(call);
            if (encryption != session->reportedEncryption)
                sessionStateChanged(session, RTCSS_CONNECTED, 0, {}, encryption);
        }
        break;
    case LinphoneCallStatePaused:
    case LinphoneCallStatePausedByRemote:
        sessionStateChanged(session, RTCSS_HOLD);
        break;
    case LinphoneCallStateError:
    case LinphoneCallStateEnd:
        if (session->State() != RTCSS_DISCONNECTED)
            sessionStateChanged(session, RTCSS_DISCONNECTED, endCode(call), endedHere(call));
        break;
    case LinphoneCallStateReleased:
        m_sessions.erase(call);
        m_memoryFreed = true; // the call's streams and their threads are gone
        QTimer::singleShot(0, this, [this] {
            if (m_core)
                findStaleSoundCards();
        });
        break;
    default:
        break;
    }
}

void LinphoneClient::PlayRing(RTC_RING_TYPE type, bool play) {
    requireCore("PlayRing");
    if (type != RTCRT_PHONE)
        throw RtcError(RTC_E_INVALIDARG,
                       QStringLiteral("PlayRing: only the telephone ring is available."));
    stopRinging();
    if (!play)
        return;
    followSoundServer();
    // A ringer the user chose rings through the engine, on that device.
    if (!m_devices[RTCAD_RINGER].isEmpty()) {
        MSFactory *factory = linphone_core_get_ms_factory(m_core);
        MSSndCard *card = ms_snd_card_manager_get_card(
            ms_factory_get_snd_card_manager(factory), m_devices[RTCAD_RINGER].toUtf8().constData());
        const QString file = engineSound(QStringLiteral("ring.wav"), m_ringSounds.ring);
        if (!m_ringer)
            m_ringer = linphone_ringtoneplayer_new();
        // The clip holds its own pause: played again at once, it rings as the telephone does.
        if (card && !file.isEmpty() &&
            linphone_ringtoneplayer_start(factory, m_ringer, card, file.toUtf8().constData(), 0) ==
                0)
            return;
        qCWarning(lcEngine) << "the ringer device cannot ring; the default device rings instead";
    }
    // Otherwise the program's own player rings on the default device, repeating until stopped;
    // the engine's ring is off so it rings only when told.
    if (!m_ringSounds.playRing || !m_ringSounds.playRing(m_ringSounds.ring))
        throw RtcError(RTC_E_ENGINE, QStringLiteral("PlayRing: the ring cannot be played."));
}

void LinphoneClient::stopRinging() {
    if (m_ringer)
        linphone_ringtoneplayer_stop(m_ringer);
    if (m_ringSounds.stopRing)
        m_ringSounds.stopRing();
}

void LinphoneClient::SendDTMF(RTC_DTMF tone) {
    requireCore("SendDTMF");
    static const char keys[] = "0123456789*#ABCD!";
    if (tone < RTC_DTMF_0 || tone > RTC_DTMF_FLASH)
        throw RtcError(RTC_E_INVALIDARG, QStringLiteral("SendDTMF: no such tone %1.").arg(tone));
    if (!linphone_core_get_current_call(m_core))
        throw RtcError(RTC_E_INVALIDARG, QStringLiteral("SendDTMF: there is no call."));
    m_tones.push_back(keys[tone]);
    if (!m_tonePacer.isActive())
        sendNextTone();
}

void LinphoneClient::sendNextTone() {
    LinphoneCall *call = m_core ? linphone_core_get_current_call(m_core) : nullptr;
    if (!call) {
        m_tones.clear(); // the call is over: its tones with it
        return;
    }
    if (m_tones.empty())
        return;
    // RFC 2833 events to a far end that agreed on none are silently lost: send SIP INFO there.
    const bool events = negotiatedTelephoneEvents(call);
    linphone_core_set_use_rfc2833_for_dtmf(m_core, events);
    linphone_core_set_use_info_for_dtmf(m_core, !events);
    // A tone the engine will not take now is tried again on the next turn, a few times.
    if (linphone_call_send_dtmf(call, m_tones.front()) == 0 || ++m_toneTries >= kToneTries) {
        if (m_toneTries >= kToneTries)
            emit Dropped(QStringLiteral("the touch tone %1 could not be sent")
                             .arg(QLatin1Char(m_tones.front())));
        m_tones.pop_front();
        m_toneTries = 0;
    }
    wake(); // a tone sent as SIP INFO is a request
    m_tonePacer.start();
}

// ---- sound devices --------------------------------------------------------------------------

QList<AudioDevice> LinphoneClient::AudioDevices() {
    requireCore("AudioDevices");
    // The engine finds its devices once, when it starts. It looks again here, unless sound is
    // in use, which a new list would cut off.
    if (linphone_core_get_calls_nb(m_core) == 0 && !ownSoundInUse())
        findSoundCards();
    QList<AudioDevice> devices;
    bctbx_list_t *list = linphone_core_get_extended_audio_devices(m_core);
    for (const bctbx_list_t *item = list; item; item = item->next) {
        const auto *device = static_cast<const LinphoneAudioDevice *>(item->data);
        AudioDevice entry{fromC(linphone_audio_device_get_id(device)),
                          fromC(linphone_audio_device_get_device_name(device)),
                          canServe(device, RTCAD_SPEAKER), canServe(device, RTCAD_MICROPHONE)};
        // Devices of one name have one id: the engine cannot tell them apart either.
        if (std::none_of(devices.cbegin(), devices.cend(),
                         [&](const AudioDevice &other) { return other.id == entry.id; }))
            devices.append(entry);
    }
    bctbx_list_free_with_data(list,
                              reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
    // A chosen device that has gone: the engine is back on its default for it, and says so here.
    for (const RTC_AUDIO_DEVICE part : {RTCAD_SPEAKER, RTCAD_MICROPHONE, RTCAD_RINGER})
        if (!m_devices[part].isEmpty() && !hasDevice(m_devices[part], part))
            useDevice(part, QString());
    return devices;
}

QString LinphoneClient::PreferredAudioDevice(RTC_AUDIO_DEVICE part) const {
    requirePart(part);
    return m_devices[part];
}

bool LinphoneClient::SetPreferredAudioDevice(RTC_AUDIO_DEVICE part, const QString &id) {
    requireCore("SetPreferredAudioDevice");
    requirePart(part);
    // The engine takes any id and quietly uses its default for one it does not have: looked up
    // here, so that the caller is told.
    const bool found = id.isEmpty() || hasDevice(id, part);
    useDevice(part, found ? id : QString());
    // The tests in progress move to the new device.
    if (m_echoTesting && part != RTCAD_RINGER) {
        StopEchoTest();
        StartEchoTest();
    }
    if (m_meter && part == RTCAD_MICROPHONE) {
        StopCaptureMeter();
        StartCaptureMeter();
    }
    return found;
}

bool LinphoneClient::hasDevice(const QString &id, RTC_AUDIO_DEVICE part) const {
    const QByteArray wanted = id.toUtf8();
    bool found = false;
    bctbx_list_t *list = linphone_core_get_extended_audio_devices(m_core);
    for (const bctbx_list_t *item = list; item && !found; item = item->next) {
        const auto *device = static_cast<const LinphoneAudioDevice *>(item->data);
        found = wanted == linphone_audio_device_get_id(device) && canServe(device, part);
    }
    bctbx_list_free_with_data(list,
                              reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
    return found;
}

// The engine's card that is the desktop's default for a part. Under a sound server (PulseAudio,
// PipeWire) it is the engine's own card for the output or input the server has as default when
// a call starts (asked again before each), so calls follow the user's choice of the day, and the
// speaker slider's mixer (ALSA "default", which the server routes to that output) acts on it.
// ALSA's "default" device would reach the same output through the server's ALSA plug-in, but
// that plug-in locks up for good when its server goes away in the middle of a call, and with it
// whatever stops the call's sound, hanging up included; the engine's own card for the server
// does not. The engine names the server's cards by their descriptions, which two devices may
// share ("Null Output"): then, and without a sound server, it is ALSA's "default". The engine's
// own default (no device) is merely the first card it found, which need not be the desktop's.
// Empty when there is none.
QString LinphoneClient::desktopDefaultDevice(RTC_AUDIO_DEVICE part) const {
    const QString serverDefault = !m_serverDefaults          ? QString()
                                  : part == RTCAD_MICROPHONE ? m_serverDefaults->source
                                                             : m_serverDefaults->sink;
    QStringList named; // the server's cards of the default's name: one, or it is not known which
    QString alsa;
    bctbx_list_t *list = linphone_core_get_extended_audio_devices(m_core);
    for (const bctbx_list_t *item = list; item; item = item->next) {
        const auto *device = static_cast<const LinphoneAudioDevice *>(item->data);
        if (!canServe(device, part))
            continue;
        const char *driver = linphone_audio_device_get_driver_name(device);
        const QString name = fromC(linphone_audio_device_get_device_name(device));
        if (qstrcmp(driver, "PulseAudio") == 0 && !serverDefault.isEmpty() && name == serverDefault)
            named << fromC(linphone_audio_device_get_id(device));
        else if (qstrcmp(driver, "ALSA") == 0 && name == QLatin1String("default") && alsa.isEmpty())
            alsa = fromC(linphone_audio_device_get_id(device));
    }
    bctbx_list_free_with_data(list,
                              reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
    return named.size() == 1 ? named.first() : alsa;
}

// The parts the user left to the desktop take the server's defaults as they are now.
void LinphoneClient::followDesktopDefaults() {
    m_serverDefaults = soundServerIdentity(m_soundSocket) == std::pair<quint64, quint64>{0, 0}
                           ? std::nullopt
                           : askSoundServerDefaults(kAskSoundServerMs);
    for (const RTC_AUDIO_DEVICE part : {RTCAD_SPEAKER, RTCAD_MICROPHONE, RTCAD_RINGER})
        if (m_devices[part].isEmpty())
            useDevice(part, QString());
}

void LinphoneClient::useDevice(RTC_AUDIO_DEVICE part, const QString &id) {
    // None chosen: the desktop's default device.
    const QByteArray utf8 = (id.isEmpty() ? desktopDefaultDevice(part) : id).toUtf8();
    const char *device = utf8.isEmpty() ? nullptr : utf8.constData();
    switch (part) {
    case RTCAD_SPEAKER:
        linphone_core_set_playback_device(m_core, device);
        break;
    case RTCAD_MICROPHONE:
        linphone_core_set_capture_device(m_core, device);
        break;
    case RTCAD_RINGER:
        linphone_core_set_ringer_device(m_core, device);
        break;
    }
    m_devices[part] = id;
}

void LinphoneClient::PlayTestSound() {
    requireCore("PlayTestSound");
    const QString file = engineSound(QStringLiteral("testsound.wav"), testChime());
    if (file.isEmpty() || linphone_core_play_local(m_core, file.toUtf8().constData()) != 0)
        throw RtcError(RTC_E_ENGINE, QStringLiteral("The test sound cannot be played."));
}

void LinphoneClient::SetEchoCancelling(bool on) {
    m_echoCancelling = on;
    if (m_core)
        linphone_core_enable_echo_cancellation(m_core, on);
}

void LinphoneClient::StartEchoTest() {
    requireCore("StartEchoTest");
    if (m_echoTesting)
        return;
    // The engine reports a test that started with 1, not 0.
    if (linphone_core_start_echo_tester(m_core, kEchoTestRate) < 0)
        throw RtcError(RTC_E_ENGINE, QStringLiteral("The echo test cannot be started."));
    m_echoTesting = true;
}

void LinphoneClient::StopEchoTest() {
    if (!m_core || !m_echoTesting)
        return;
    linphone_core_stop_echo_tester(m_core);
    m_echoTesting = false;
}

// The meter is a recording of the microphone, into a file of the engine's that goes when it
// stops: the engine measures the level of what it records, and nothing else of its.
void LinphoneClient::StartCaptureMeter() {
    requireCore("StartCaptureMeter");
    if (m_meter)
        return;
    LinphoneRecorderParams *params = linphone_core_create_recorder_params(m_core);
    linphone_recorder_params_set_file_format(params, LinphoneRecorderFileFormatWav);
    const QByteArray capture = linphone_core_get_capture_device(m_core);
    bctbx_list_t *list = linphone_core_get_extended_audio_devices(m_core);
    for (const bctbx_list_t *item = list; item; item = item->next) {
        const auto *device = static_cast<const LinphoneAudioDevice *>(item->data);
        if (capture == linphone_audio_device_get_id(device) && canServe(device, RTCAD_MICROPHONE)) {
            linphone_recorder_params_set_audio_device(params, device);
            break;
        }
    }
    LinphoneRecorder *recorder = linphone_core_create_recorder(m_core, params);
    bctbx_list_free_with_data(list,
                              reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
    linphone_recorder_params_unref(params);
    const QString file = engineFolder(QStringLiteral("data")) + QStringLiteral("meter.wav");
    if (!recorder || linphone_recorder_open(recorder, file.toUtf8().constData()) != 0 ||
        linphone_recorder_start(recorder) != 0) {
        if (recorder) {
            linphone_recorder_close(recorder);
            linphone_recorder_unref(recorder);
        }
        QFile::remove(file);
        throw RtcError(RTC_E_ENGINE, QStringLiteral("The microphone cannot be listened to."));
    }
    m_meter = recorder;
}

void LinphoneClient::StopCaptureMeter() {
    if (!m_meter)
        return;
    linphone_recorder_close(m_meter);
    linphone_recorder_unref(m_meter);
    m_meter = nullptr;
    QFile::remove(engineFolder(QStringLiteral("data")) + QStringLiteral("meter.wav"));
}

double LinphoneClient::CaptureLevel() const {
    // A recorder that is not recording reads as full scale: only a running one is asked.
    if (!m_meter)
        return 0;
    return std::clamp(double(linphone_recorder_get_capture_volume(m_meter)), 0.0, 1.0);
}

void LinphoneClient::onAccountRegistrationState(LinphoneAccount *account, int state) {
    if (account != m_account)
        return; // an account of an earlier profile, going away
    RTC_REGISTRATION_STATE value;
    switch (static_cast<LinphoneRegistrationState>(state)) {
    case LinphoneRegistrationNone:
        value = RTCRS_NOT_REGISTERED;
        break;
    case LinphoneRegistrationProgress:
        value = RTCRS_REGISTERING;
        m_registeringSince.start();
        m_refusalsBefore = certificateChecks().refused;
        break;
    case LinphoneRegistrationOk:
        m_memoryFreed = true; // the engine's start-up, or a refresh, is behind it
        if (!grantedSomeTime(account)) {
            queueEvent(RTCE_REGISTRATION_STATE_CHANGE,
                       std::make_shared<RegistrationEvent>(
                           RTCRS_ERROR, 200, QStringLiteral("Expires: 0"), m_enabledProfile));
            return;
        }
        value = RTCRS_REGISTERED;
        break;
    case LinphoneRegistrationCleared:
        value = RTCRS_LOGGED_OFF;
        break;
    case LinphoneRegistrationFailed: {
        const LinphoneReason reason = linphone_account_get_error(account);
        value = (reason == LinphoneReasonForbidden || reason == LinphoneReasonUnauthorized)
                    ? RTCRS_REJECTED
                    : RTCRS_ERROR;
        if (value == RTCRS_REJECTED)
            stopRegistering(account);
        else
            retryRegisterLater();
        break;
    }
    default:
        return; // refreshing an existing registration is no change of state
    }
    if (value != RTCRS_ERROR)
        m_registerRetry.setInterval(kFirstRegisterRetryMs);
    const LinphoneErrorInfo *info = linphone_account_get_error_info(account);
    long code = info ? linphone_error_info_get_protocol_code(info) : 0;
    const QString text = info ? fromC(linphone_error_info_get_phrase(info)) : QString();
    // A request that got no SIP answer says which way it failed: the engine's own "503 io error"
    // is no answer of a server (see reportWayFailure); a request never answered is a timeout.
    if (value == RTCRS_ERROR) {
        const LinphoneReason reason = linphone_account_get_error(account);
        // A server whose certificate was refused was never spoken to: the engine tells it as
        // any connection that failed.
        if (reason == LinphoneReasonIOError && certificateChecks().refused != m_refusalsBefore) {
            queueEvent(RTCE_REGISTRATION_STATE_CHANGE,
                       std::make_shared<RegistrationEvent>(value, RTC_STATUS_CERTIFICATE_REFUSED,
                                                           text, m_enabledProfile));
            return;
        }
        if (reason == LinphoneReasonIOError) {
            reportWayFailure(text);
            return;
        }
        if (code == 0 &&
            (reason == LinphoneReasonNoResponse || reason == LinphoneReasonNotAnswered ||
             reason == LinphoneReasonServerTimeout))
            code = 408;
    }
    queueEvent(RTCE_REGISTRATION_STATE_CHANGE,
               std::make_shared<RegistrationEvent>(value, code, text, m_enabledProfile));
}

// The engine's "503 io error" is no answer of a server: the request could not go out (a name
// that resolves to nothing, a network that refuses it), or it went out and, over UDP, nothing
// answered until the transaction timed out, which the engine counts against the way to the
// server too. Told apart here: a failure before a request could time out is a way that leads
// nowhere (code 0), and so is a server whose port refuses datagrams; the rest is a timeout (408).
void LinphoneClient::reportWayFailure(const QString &text) {
    const IRTCProfilePtr profile = m_enabledProfile;
    const auto report = [this, profile, text](long code) {
        if (profile == m_enabledProfile) // no new login since
            queueEvent(RTCE_REGISTRATION_STATE_CHANGE,
                       std::make_shared<RegistrationEvent>(RTCRS_ERROR, code, text, profile));
    };
    const auto *object = dynamic_cast<const ProfileObject *>(profile.get());
    const std::optional<sockaddr_in> server =
        object ? numericServerAddress(object->data.registrar) : std::nullopt;
    if (!m_registeringSince.isValid() || m_registeringSince.elapsed() < kRequestTimeoutMs) {
        report(0);
        return;
    }
    if (!server) {
        report(408); // a name that resolved: its server was asked
        return;
    }
    const int fd = sendKeepAlive(*server);
    if (fd < 0) {
        report(0);
        return;
    }
    // Closed once asked, or with the client if it goes first.
    const std::shared_ptr<const int> probe(new int(fd), [](const int *socket) {
        ::close(*socket);
        delete socket;
    });
    QTimer::singleShot(kRefusalWaitMs, this, [this, probe, report] {
        report(refusedSince(*probe) ? 0 : 408);
        wake(); // raises it
    });
}

void LinphoneClient::queueEvent(long type, IRTCEventPtr event) {
    if (m_eventFilter & eventFilterBit(type))
        m_pending.emplace_back(type, std::move(event));
}

void LinphoneClient::iterate() {
    if (!m_core)
        return;
    screenSipSockets();
    linphone_core_iterate(m_core);
    probeSoundServer();
    // The engine logs every call it sees, refused callers too, and keeps the last thousand
    // entries of some kilobytes each in memory; the program keeps its own log.
    if (linphone_core_get_call_logs(m_core))
        linphone_core_clear_call_logs(m_core);
    // Handlers may run nested event loops (modal dialogs) in which this timer fires again; each
    // event is taken off the queue before it is raised so none is raised twice.
    while (!m_pending.empty()) {
        auto [type, event] = std::move(m_pending.front());
        m_pending.pop_front();
        emit Event(type, event);
    }
    // After the events: the window lets go of an ended call's session in handling them.
    if (std::exchange(m_memoryFreed, false))
        returnFreedMemory();
    watchSipConnections();
    paceTicks();
}

// Whether the engine has work that runs on its timers now: a call (ringing, being set up, up or
// ending), sound of its own, tones to send, a registration under way, or a message just gone
// in or out whose transaction may still want its timers.
bool LinphoneClient::engineBusy() const {
    if (linphone_core_get_calls_nb(m_core) > 0 || ownSoundInUse() || !m_tones.empty())
        return true;
    if (m_account && linphone_account_get_state(m_account) == LinphoneRegistrationProgress)
        return true;
    return m_sinceActivity.elapsed() < kSettleMs;
}

// The slow tick while the engine is busy, the idle tick otherwise. A message arriving wakes it
// at once either way (see watchSipSockets), and every operation does (wake).
void LinphoneClient::paceTicks() {
    const int interval = engineBusy() ? m_busyTickMs : m_idleTickMs;
    if (m_iterateTimer.interval() != interval)
        m_iterateTimer.start(interval);
}

LinphoneClient::Load LinphoneClient::load() const {
    Load load;
    if (!m_core)
        return load;
    load.calls = linphone_core_get_calls_nb(m_core);
    for (const bctbx_list_t *it = linphone_core_get_calls(m_core); it; it = it->next) {
        auto *call = static_cast<LinphoneCall *>(it->data);
        if (linphone_call_get_state(call) == LinphoneCallStateIncomingReceived)
            ++load.ringing;
        LinphoneCallStats *stats = linphone_call_get_audio_stats(call);
        if (!stats)
            continue;
        if (const rtp_stats_t *rtp = linphone_call_stats_get_rtp_stats(stats)) {
            load.audioSent += rtp->packet_sent;
            load.audioReceived += rtp->packet_recv;
        }
        linphone_call_stats_unref(stats);
    }
    return load;
}

void LinphoneClient::wake() {
    m_sinceActivity.start();
    m_followUpsLeft = kFollowUpTurns;
    m_followUp.start();
    QTimer::singleShot(0, this, &LinphoneClient::iterate);
}

// Follows the engine's SIP socket: found once the engine listens, and again when its port
// changes. A message arriving runs the engine at once, and a few turns after for the answers and
// requests it queues in handling it.
// The engine reads one datagram of a socket per iteration, so looking at the one at the head of
// each socket before every iteration screens every datagram before the engine parses it.
void LinphoneClient::screenSipSockets() {
    static thread_local QByteArray buffer(SipLimits().datagramBytes + 1, Qt::Uninitialized);
    for (const auto &notifier : m_sipNotifiers) {
        const int fd = int(notifier->socket());
        for (;;) {
            sockaddr_storage source{};
            socklen_t sourceLength = sizeof source;
            const ssize_t size = ::recvfrom(fd, buffer.data(), size_t(buffer.size()),
                                            MSG_PEEK | MSG_DONTWAIT | MSG_TRUNC,
                                            reinterpret_cast<sockaddr *>(&source), &sourceLength);
            if (size < 0)
                break;
            const QByteArrayView seen(buffer.constData(), std::min<qsizetype>(size, buffer.size()));
            const SipVerdict verdict = screenSipDatagram(seen, size);
            if (verdict == SipVerdict::Pass && refusesStranger(seen, source)) {
                const QByteArray answer = forbiddenAnswer(seen);
                if (!answer.isEmpty())
                    ::sendto(fd, answer.constData(), size_t(answer.size()), MSG_DONTWAIT,
                             reinterpret_cast<const sockaddr *>(&source), sourceLength);
            } else if (verdict == SipVerdict::Pass) {
                break;
            }
            char discard;
            if (::recv(fd, &discard, 1, MSG_DONTWAIT) < 0)
                break;
            ++m_sipDropped;
        }
    }
}

// Anyone who can reach the phone's SIP port could ring it with any caller's number: while the
// account is registered through an exchange, only that exchange may send requests, unless the
// user allows direct calls.
bool LinphoneClient::refusesStranger(QByteArrayView datagram,
                                     const sockaddr_storage &source) const {
    if (m_connection.directCalls || m_serverSources.empty() || !m_account ||
        linphone_account_get_state(m_account) != LinphoneRegistrationOk || !isSipRequest(datagram))
        return false;
    return std::none_of(
        m_serverSources.begin(), m_serverSources.end(),
        [&](const sockaddr_storage &server) { return sameEndpoint(server, source); });
}

// The exchange's addresses, for refusesStranger: at once for an address, and for a name once it
// is looked up, off the GUI thread (a DNS server that does not answer would hold the window); the
// engine then listens on the address that routes to it too, not on every one.
void LinphoneClient::trustServer(const ProvisioningProfile &profile) {
    m_serverSources.clear();
    if (profile.proxyTransport.compare(QLatin1String("UDP"), Qt::CaseInsensitive) != 0)
        return; // requests come over the exchange's own connection, none over UDP
    if (const std::optional<sockaddr_in> address = numericServerAddress(profile.proxy)) {
        m_serverSources.push_back(endpointOf(*address));
        return;
    }
    if (const std::optional<sockaddr_in6> address = numericServerAddress6(profile.proxy)) {
        m_serverSources.push_back(endpointOf(*address));
        return;
    }
    const auto [host, port] = splitHostPort(profile.proxy);
    if (host.isEmpty() || host.startsWith(QLatin1Char('[')))
        return;
    std::thread([alive = std::weak_ptr<int>(m_alive), client = this, name = host.toUtf8(),
                 port = port, proxy = profile.proxy] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo *found = nullptr;
        std::vector<sockaddr_storage> addresses;
        if (getaddrinfo(name.constData(), nullptr, &hints, &found) == 0) {
            for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
                sockaddr_in address = *reinterpret_cast<const sockaddr_in *>(entry->ai_addr);
                address.sin_port = htons(port);
                addresses.push_back(endpointOf(address));
            }
            freeaddrinfo(found);
        }
        QMetaObject::invokeMethod(QCoreApplication::instance(), [alive, client, addresses, proxy] {
            if (alive.expired() || addresses.empty())
                return;
            const auto *object =
                dynamic_cast<const ProfileObject *>(client->m_enabledProfile.get());
            if (!object || object->data.proxy != proxy)
                return; // another login since
            client->m_serverSources = addresses;
            const auto &first = reinterpret_cast<const sockaddr_in &>(addresses.front());
            char text[INET_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET, &first.sin_addr, text, sizeof text))
                client->bindTo(localAddressTowards(
                    QStringLiteral("%1:%2").arg(QLatin1String(text)).arg(ntohs(first.sin_port))));
        });
    }).detach();
}

// A message arriving runs the engine at once, and a few turns after for the answers and requests
// it queues in handling it; the busy tick holds while the transaction may want its timers.
void LinphoneClient::sipMessageArrived() {
    m_sinceActivity.start();
    iterate();
    m_followUpsLeft = kFollowUpTurns;
    m_followUp.start();
}

void LinphoneClient::watchSipSockets() {
    if (!m_core || m_watchedPort == m_sipPort)
        return;
    m_sipNotifiers.clear();
    m_watchedPort = m_sipPort;
    if (m_sipPort == 0)
        return;
    for (const int fd : udpSocketsOn(m_sipPort)) {
        auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(notifier.get(), &QSocketNotifier::activated, this,
                &LinphoneClient::sipMessageArrived);
        m_sipNotifiers.push_back(std::move(notifier));
    }
    // Not open yet: looked for again on the next tick.
    if (m_sipNotifiers.empty())
        m_watchedPort = -1;
}

// The engine's connections to the server over TCP or TLS, which it opens and closes as it goes
// (in an iteration): followed after each one, so that a message arriving on one runs the engine
// at once, as on the datagram sockets; the engine's tick alone would hold each message of a
// transaction back by up to a tick. A connection it closed is let go before its descriptor can
// be taken by anything else.
void LinphoneClient::watchSipConnections() {
    if (!m_streamTransports && m_connectionNotifiers.empty())
        return;
    const std::set<int> open = m_streamTransports ? sipConnections() : std::set<int>{};
    std::erase_if(m_connectionNotifiers,
                  [&open](const auto &notifier) { return !open.count(int(notifier->socket())); });
    for (const int fd : open) {
        if (std::any_of(m_connectionNotifiers.begin(), m_connectionNotifiers.end(),
                        [fd](const auto &notifier) {
                            return notifier->socket() == fd &&
                                   notifier->type() == QSocketNotifier::Read;
                        }))
            continue;
        auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(notifier.get(), &QSocketNotifier::activated, this,
                &LinphoneClient::sipMessageArrived);
        m_connectionNotifiers.push_back(std::move(notifier));
        // A connection found new may still be connecting: the engine sends once it is.
        auto connected = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        connect(connected.get(), &QSocketNotifier::activated, this,
                [this, watch = connected.get()] {
                    watch->setEnabled(false);
                    iterate();
                });
        m_connectionNotifiers.push_back(std::move(connected));
    }
}

// ---- the sound server ---------------------------------------------------------------------

namespace {

// A restart of the sound server is a burst of changes in its folder (its socket goes, the folder
// may be made again, the socket comes back).
constexpr int kSoundSettleMs = 1500;
// How long a call moved to the devices of a sound server come back is given to send again, and
// how much it must send meanwhile: a 20 ms stream sends 50 packets a second, a dead one almost
// none.
constexpr int kSoundCheckMs = 1000;
// How often a call checks that the sound server it sounds through is still there.
constexpr int kSoundProbeMs = 1000;
constexpr quint64 kLeastPacketsSent = 25;
// A media thread runs every 10 ms: one that has not run for this long is stuck.
constexpr int kTickerProbeMs = 300;

// The socket of the desktop's sound server: PulseAudio's, which PipeWire's pipewire-pulse serves
// as well, where its clients (the engine's cards among them) find it. Empty for a server over the
// network, which has nothing here to watch.
QString soundServerSocket() {
    const QString server = qEnvironmentVariable("PULSE_SERVER");
    for (const QString &entry : server.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (entry.startsWith(QLatin1String("unix:")))
            return entry.mid(5);
        if (entry.startsWith(QLatin1Char('/')))
            return entry;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!server.isEmpty() || runtime.isEmpty())
        return {};
    return runtime + QStringLiteral("/pulse/native");
}

bool isStreaming(LinphoneCall *call) {
    switch (linphone_call_get_state(call)) {
    case LinphoneCallStateStreamsRunning:
    case LinphoneCallStateUpdatedByRemote:
    case LinphoneCallStateUpdating:
    case LinphoneCallStatePausedByRemote:
        return true;
    default:
        return false;
    }
}

// The engine's device of that id for a part, referenced; null when it has none.
LinphoneAudioDevice *findAudioDevice(LinphoneCore *core, const char *id, RTC_AUDIO_DEVICE part) {
    LinphoneAudioDevice *found = nullptr;
    bctbx_list_t *list = linphone_core_get_extended_audio_devices(core);
    for (const bctbx_list_t *item = list; item && id && !found; item = item->next) {
        auto *device = static_cast<LinphoneAudioDevice *>(item->data);
        if (qstrcmp(linphone_audio_device_get_id(device), id) == 0 && canServe(device, part))
            found = linphone_audio_device_ref(device);
    }
    bctbx_list_free_with_data(list,
                              reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
    return found;
}

} // namespace

// Whether a server takes connections on the socket: one killed outright (a crash, the
// out-of-memory killer) leaves its socket behind, and a connection to it is refused at once.
static bool takesConnections(const QByteArray &path) {
    sockaddr_un address{};
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return true; // cannot be asked; taken to be there
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return true;
    const bool taken =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 ||
        errno == EINPROGRESS || errno == EAGAIN;
    ::close(fd);
    return taken;
}

std::pair<quint64, quint64> soundServerIdentity(const QString &socket) {
    struct stat info {};
    const QByteArray path = QFile::encodeName(socket);
    if (socket.isEmpty() || ::stat(path.constData(), &info) != 0 || !S_ISSOCK(info.st_mode) ||
        !takesConnections(path))
        return {0, 0};
    // A file system may give the new socket the inode the old one freed: its time tells them
    // apart.
    return {quint64(info.st_ino),
            quint64(info.st_ctim.tv_sec) * 1000000000u + quint64(info.st_ctim.tv_nsec)};
}

// The engine finds its sound cards once, and a card of a sound server that has gone is a dead
// end: a stream started on it crashes the engine, and one running on it goes silent. The client
// watches the server's socket in its folder (no polling, no connection of its own to the server):
// when the server goes, the calls are told to have no sound; when a server is there again, the
// cards are found anew and the calls moved to them.
void LinphoneClient::watchSoundServer() {
    if (m_soundSocket.isEmpty())
        return;
    m_soundWatch = std::make_unique<QFileSystemWatcher>();
    m_soundSettle.setSingleShot(true);
    m_soundSettle.setInterval(kSoundSettleMs);
    connect(&m_soundSettle, &QTimer::timeout, this, &LinphoneClient::soundServerChanged);
    connect(m_soundWatch.get(), &QFileSystemWatcher::directoryChanged, &m_soundSettle,
            qOverload<>(&QTimer::start));
    soundServerChanged();
}

void LinphoneClient::soundServerChanged() {
    // The socket's folder, and the one above for when the folder itself is made again.
    const QString folder = QFileInfo(m_soundSocket).absolutePath();
    for (const QString &path : {folder, QFileInfo(folder).absolutePath()})
        if (!m_soundWatch->directories().contains(path) && QFileInfo(path).isDir())
            m_soundWatch->addPath(path);
    const std::pair<quint64, quint64> now = soundServerIdentity(m_soundSocket);
    if (now == m_soundServer)
        return;
    if (now == std::pair<quint64, quint64>{0, 0}) {
        qCDebug(lcEngine) << "the sound server has gone";
        if (callsHaveStreams()) {
            m_soundServer = now;
            reportCallSound(RTCMET_FAILED);
        } else {
            reloadSoundDevices(); // its cards go before anything starts on them
        }
        return;
    }
    qCDebug(lcEngine) << "the sound server is back";
    followSoundServer();
}

// Also asked before every stream starts (a call placed or answered, a ring), for a server that
// went or came back too recently to have settled.
void LinphoneClient::followSoundServer() {
    followDesktopDefaults();
    const std::pair<quint64, quint64> now = soundServerIdentity(m_soundSocket);
    if (m_soundSocket.isEmpty() || now == m_soundServer) {
        // A chosen device plugged in again since is looked for, unless sound is running, which
        // a new list of cards would cut off.
        if (!callsHaveStreams() && !ownSoundInUse() && chosenDeviceMissing()) {
            reloadSoundDevices();
            moveCallsToDevices(); // a call ringing in took the devices there were
        } else
            findStaleSoundCards();
        return;
    }
    reloadSoundDevices();
    if (!callsHaveStreams())
        return;
    // The media thread of a call may be stuck for good in the old server's ALSA plug-in, which
    // locks up when its server goes away in the middle of a read: it is then left alone, since
    // whatever stops or changes its streams waits for it, and the call has no sound.
    QTimer::singleShot(kTickerProbeMs, this, [this, ticks = mediaTicks()] {
        if (!callsHaveStreams())
            return;
        if (mediaTicks() == ticks) {
            qCWarning(lcEngine) << "the call's media thread is stuck on the old sound server";
            reportCallSound(RTCMET_FAILED);
            return;
        }
        restartCallSound();
    });
}

void LinphoneClient::restartCallSound() {
    moveCallsToDevices();
    // Counted once the streams have started again, which starts their counts afresh.
    QTimer::singleShot(kSoundCheckMs, this, [this] {
        QTimer::singleShot(kSoundCheckMs, this,
                           [this, sent = audioPacketsSent()] { checkCallsHaveSound(sent); });
    });
}

// The devices the user chose stay chosen even when the new server lacks one for now: the
// desktop's default stands in until it is there again.
void LinphoneClient::reloadSoundDevices() {
    findSoundCards();
    m_serverDefaults = m_soundServer == std::pair<quint64, quint64>{0, 0}
                           ? std::nullopt
                           : askSoundServerDefaults(kAskSoundServerMs);
    for (const RTC_AUDIO_DEVICE part : {RTCAD_SPEAKER, RTCAD_MICROPHONE, RTCAD_RINGER}) {
        const QString chosen = m_devices[part];
        useDevice(part, hasDevice(chosen, part) ? chosen : QString());
        m_devices[part] = chosen;
    }
}

// The engine's PulseAudio driver keeps one connection to its server for the whole process,
// counting each search for cards as one more holder and each card manager's end as one fewer,
// and never connects again once the server has dropped it: after a restart of the server it
// would find none of the new server's cards, and calls would fall back to ALSA's plug-in for
// it. Each search here gives its hold back, so the count stays at the core's one. When the
// server the connection went to is gone, the hold is given back before the search instead: the
// last holder gone closes the old connection, and the search opens one to the server there now.
// That waits for an idle engine (the echo test, the meter, the ringer and every call ended),
// since a stream on the old connection would be cut from under it.
void LinphoneClient::findSoundCards() {
    MSSndCardManager *manager =
        ms_factory_get_snd_card_manager(linphone_core_get_ms_factory(m_core));
    MSSndCardDesc *pulse = nullptr;
    for (const bctbx_list_t *it = manager->descs; it && !pulse; it = it->next)
        if (auto *desc = static_cast<MSSndCardDesc *>(it->data);
            qstrcmp(desc->driver_type, "PulseAudio") == 0 && desc->unload)
            pulse = desc;
    const bool stale = pulse && soundServerIdentity(m_soundSocket) != m_cardsServer;
    const bool idle = linphone_core_get_calls_nb(m_core) == 0 && !ownSoundInUse();
    const bool reconnect = stale && idle && releaseToneStream(manager);
    if (reconnect)
        pulse->unload(manager);
    linphone_core_reload_sound_devices(m_core);
    if (pulse && !reconnect)
        pulse->unload(manager);
    noteSoundServer();
    if (!stale || reconnect)
        m_cardsServer = m_soundServer;
    if (reconnect) {
        const QString ringer = m_devices[RTCAD_RINGER];
        useDevice(RTCAD_RINGER, hasDevice(ringer, RTCAD_RINGER) ? ringer : QString());
        m_devices[RTCAD_RINGER] = ringer;
    }
}

// The engine keeps the stream of its last tone or test sound until its tone stream stops, and
// stops that only once started. It is started and stopped on ALSA's card: the engine crashes
// making a stream on a card of a server whose connection has failed. False when there is no
// such card to do it on.
bool LinphoneClient::releaseToneStream(MSSndCardManager *manager) {
    for (const bctbx_list_t *it = manager->cards; it; it = it->next) {
        auto *card = static_cast<MSSndCard *>(it->data);
        if (qstrcmp(ms_snd_card_get_driver_type(card), "ALSA") == 0 &&
            qstrcmp(ms_snd_card_get_name(card), "default") == 0 &&
            (ms_snd_card_get_capabilities(card) & MS_SND_CARD_CAP_PLAYBACK)) {
            linphone_core_set_ringer_device(m_core, ms_snd_card_get_string_id(card));
            linphone_core_start_dtmf_stream(m_core);
            linphone_core_stop_dtmf_stream(m_core);
            return true;
        }
    }
    return false;
}

// Once the last call has gone, cards found while a call held on to the engine's old connection
// are found again on the server there now, before the next call wants them.
void LinphoneClient::findStaleSoundCards() {
    if (linphone_core_get_calls_nb(m_core) == 0 && !ownSoundInUse() &&
        m_cardsServer != soundServerIdentity(m_soundSocket))
        reloadSoundDevices();
}

// Sound the client started itself, outside calls.
bool LinphoneClient::ownSoundInUse() const {
    return m_echoTesting || m_meter || (m_ringer && linphone_ringtoneplayer_is_started(m_ringer));
}

// A device the user chose that the engine lacks (unplugged, or on a server that was not there)
// leaves the desktop's default in its place until it is found again.
bool LinphoneClient::chosenDeviceMissing() const {
    for (const RTC_AUDIO_DEVICE part : {RTCAD_SPEAKER, RTCAD_MICROPHONE, RTCAD_RINGER})
        if (!m_devices[part].isEmpty() && !hasDevice(m_devices[part], part))
            return true;
    return false;
}

// A server killed outright leaves its socket as it was, which the watch on its folder cannot
// see: while a call's sound depends on it, the socket is tried once a second, on the ticks the
// call makes anyway.
void LinphoneClient::probeSoundServer() {
    if (!m_hadSoundServer || m_soundServer == std::pair<quint64, quint64>{0, 0} ||
        (m_soundProbe.isValid() && !m_soundProbe.hasExpired(kSoundProbeMs)))
        return;
    m_soundProbe.start();
    if (callsHaveStreams() && soundServerIdentity(m_soundSocket) != m_soundServer)
        soundServerChanged();
}

void LinphoneClient::noteSoundServer() {
    m_soundServer = soundServerIdentity(m_soundSocket);
    m_hadSoundServer |= m_soundServer != std::pair<quint64, quint64>{0, 0};
}

// The calls take the engine's devices anew: a running call's streams leave the old server's
// cards for the new ones. A card of the same name is the same device to the engine, which then
// keeps the stream it has; whether that one still sends is told after (checkCallsHaveSound).
void LinphoneClient::moveCallsToDevices() {
    LinphoneAudioDevice *output =
        findAudioDevice(m_core, linphone_core_get_playback_device(m_core), RTCAD_SPEAKER);
    LinphoneAudioDevice *input =
        findAudioDevice(m_core, linphone_core_get_capture_device(m_core), RTCAD_MICROPHONE);
    for (const bctbx_list_t *it = linphone_core_get_calls(m_core); it; it = it->next) {
        auto *call = static_cast<LinphoneCall *>(it->data);
        if (output)
            linphone_call_set_output_audio_device(call, output);
        if (input)
            linphone_call_set_input_audio_device(call, input);
        // The engine starts the streams again on a card other than its own only with the next
        // change of the call: one without changes, sent now.
        if (isStreaming(call) && linphone_call_get_state(call) == LinphoneCallStateStreamsRunning)
            linphone_call_update(call, nullptr);
    }
    wake();
    if (output)
        linphone_audio_device_unref(output);
    if (input)
        linphone_audio_device_unref(input);
}

// Whether the calls moved send sound again; the window is told either way, so that a call left
// without sound never shows as a call that has it.
void LinphoneClient::checkCallsHaveSound(quint64 sentBefore) {
    if (!m_core || !callsHaveStreams())
        return;
    const quint64 sent = audioPacketsSent();
    reportCallSound(sent >= sentBefore + kLeastPacketsSent ? RTCMET_STARTED : RTCMET_FAILED);
}

bool LinphoneClient::callsHaveStreams() const {
    for (const bctbx_list_t *it = linphone_core_get_calls(m_core); it; it = it->next)
        if (isStreaming(static_cast<LinphoneCall *>(it->data)))
            return true;
    return false;
}

// How often the media threads of the calls have run so far.
quint64 LinphoneClient::mediaTicks() const {
    quint64 ticks = 0;
    for (const bctbx_list_t *it = linphone_core_get_calls(m_core); it; it = it->next) {
        auto *call = static_cast<LinphoneCall *>(it->data);
        MediaStream *audio =
            isStreaming(call) ? linphone_call_get_stream(call, LinphoneStreamTypeAudio) : nullptr;
        if (audio && audio->sessions.ticker)
            ticks += __atomic_load_n(&audio->sessions.ticker->ticks, __ATOMIC_RELAXED);
    }
    return ticks;
}

quint64 LinphoneClient::audioPacketsSent() const {
    return load().audioSent;
}

void LinphoneClient::reportCallSound(long eventType) {
    queueEvent(RTCE_MEDIA,
               std::make_shared<MediaEvent>(eventType, RTCMT_AUDIO_SEND | RTCMT_AUDIO_RECEIVE));
    wake(); // raises it
}

} // namespace rtc
