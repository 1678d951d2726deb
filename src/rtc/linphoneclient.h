#pragma once

#include "provisioningprofile.h"
#include "rtcclient.h"
#include "soundserverdefaults.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

class QFileSystemWatcher;
class QSocketNotifier;

// liblinphone types stay out of every header the windows see.
struct _LinphoneCore;
struct _LinphoneAccount;
struct _LinphoneCall;
struct _LinphoneRecorder;
struct _LinphoneRingtonePlayer;
struct _MSSndCardManager;

namespace rtc {

// The communications client over liblinphone. The engine runs on the GUI thread, and only when
// there is work for it: when its SIP socket has a message, at once after every operation that
// sends one (and a few turns after, for what it defers), and on a slow tick for its timers
// (retransmissions, refreshes): every 100 ms while it is busy, every 2.5 s while it rests. The
// events its callbacks produce are raised after the iteration returns, so a handler that opens a
// modal dialog never re-enters the engine.
class LinphoneClient final : public IRTCClient, public IRTCClientProvisioning {
    Q_OBJECT
public:
    explicit LinphoneClient(QObject *parent = nullptr);
    ~LinphoneClient() override;

    void SetRingSounds(const RingSounds &sounds) override;
    void Initialize() override;
    void Prepare() override;
    void setEventFilter(long filter) override;
    long EventFilter() const override;
    void ListenForIncomingSessions(RTC_LISTEN_MODE mode) override;
    void SetPreferredMediaTypes(long mediaTypes, bool persistent) override;
    IRTCClientProvisioning *provisioning() override;

    IRTCSessionPtr CreateSession(RTC_SESSION_TYPE type, const QString &localPhoneUri,
                                 const IRTCProfilePtr &profile, long flags) override;
    void PlayRing(RTC_RING_TYPE type, bool play) override;
    void SendDTMF(RTC_DTMF tone) override;

    QList<AudioDevice> AudioDevices() override;
    QString PreferredAudioDevice(RTC_AUDIO_DEVICE part) const override;
    bool SetPreferredAudioDevice(RTC_AUDIO_DEVICE part, const QString &id) override;
    void PlayTestSound() override;
    void StartEchoTest() override;
    void StopEchoTest() override;
    void StartCaptureMeter() override;
    void StopCaptureMeter() override;
    double CaptureLevel() const override;
    void SetEchoCancelling(bool on) override;
    bool EchoCancelling() const override { return m_echoCancelling; }
    QByteArray RefusedCertificate() const override;
    void SetTrustedCertificate(const QByteArray &sha256) override;
    void SetConnectionOptions(const ConnectionOptions &options) override;

    IRTCProfilePtr CreateProfile(const QString &profileXml) override;
    void EnableProfile(const IRTCProfilePtr &profile, long registerFlags) override;

    // The UDP port the engine listens on for SIP, 0 while it does not listen.
    int sipPort() const { return m_sipPort; }
    // The local address the engine binds and advertises, empty for every address.
    QString bindAddress() const { return m_bindAddress; }
    // How many of the engine's SIP sockets wake it when a message comes in.
    int sipSocketsWatched() const { return int(m_sipNotifiers.size()); }
    // Datagrams dropped before the engine read them, as beyond what a message may cost.
    quint64 sipDatagramsDropped() const { return m_sipDropped; }
    // The slow tick that runs the engine's timers while it is busy (100 ms; 2.5 s when idle);
    // tests lengthen both to show that messages alone wake the engine.
    void setSlowTick(int ms) {
        m_busyTickMs = ms;
        m_idleTickMs = std::max(m_idleTickMs, ms);
        m_iterateTimer.setInterval(ms);
    }
    // How long the engine's timers may wait now (the slow or the idle tick).
    int tickInterval() const { return m_iterateTimer.interval(); }
    // What the engine carries right now: its calls (held, ringing or being refused) and the RTP
    // packets of their audio so far, for the benchmarks that load it while a call is up.
    struct Load {
        int calls = 0;
        int ringing = 0; // incoming calls not answered yet
        quint64 audioSent = 0;
        quint64 audioReceived = 0;
    };
    Load load() const;

    // Engine callbacks (called from C).
    void onAccountRegistrationState(_LinphoneAccount *account, int state);
    void onCallState(_LinphoneCall *call, int state);

    // Used by the session objects.
    _LinphoneCall *placeCall(const QString &uri, const QString &name, bool throughProfile,
                             const std::shared_ptr<class LinphoneSession> &session);
    // A session's new state; code is the SIP code an ended call ended with (0: hung up), text why
    // the client ended it, encryption how a connected call's media is encrypted.
    void sessionStateChanged(const std::shared_ptr<class LinphoneSession> &session,
                             RTC_SESSION_STATE state, long code = 0, const QString &text = {},
                             const QString &encryption = {});
    // Runs the engine now and for a few turns after: an operation has just given it work.
    void wake();
    // Before a stream starts: the engine's sound devices found anew, and the devices chosen
    // applied again, when the desktop's sound server has started again since they were found.
    void followSoundServer();

private:
    void requireCore(const char *operation) const;
    void iterate();
    bool engineBusy() const;
    void paceTicks();
    void queueEvent(long type, IRTCEventPtr event);
    void applyTransports();
    void useTrustStore();
    void prepareMediaIdentity();
    void bindTo(const QString &address);
    void sendNextTone();
    void watchSipSockets();
    void watchSipConnections();
    void sipMessageArrived();
    void screenSipSockets();
    bool hasDevice(const QString &id, RTC_AUDIO_DEVICE part) const;
    void useDevice(RTC_AUDIO_DEVICE part, const QString &id);
    QString desktopDefaultDevice(RTC_AUDIO_DEVICE part) const;
    void followDesktopDefaults();
    void stopRinging();
    // The program's ringback as the engine's, from a file of the engine's folder.
    void useRingback();
    void reportWayFailure(const QString &text);
    void watchNetworkChanges();
    void networkChanged();
    void retryRegisterLater();
    void trustServer(const ProvisioningProfile &profile);
    bool refusesStranger(QByteArrayView datagram, const sockaddr_storage &source) const;
    // The connection options as the engine's NAT policy, IPv6 and media encryption.
    void applyConnection();
    // What the engine listens on when no address is chosen: every IPv6 and IPv4 address, or
    // every IPv4 one.
    QByteArray anyAddress() const;
    // Why the engine ended a call itself, for the user; empty when it did not.
    QString endedHere(_LinphoneCall *call) const;
    // The desktop's sound server, followed through its socket (see watchSoundServer).
    void watchSoundServer();
    void soundServerChanged();
    void noteSoundServer(); // the server the engine's devices are found on now
    void findSoundCards();
    bool releaseToneStream(_MSSndCardManager *manager);
    void findStaleSoundCards();
    void probeSoundServer();
    bool ownSoundInUse() const;
    bool chosenDeviceMissing() const;
    void reloadSoundDevices();
    void restartCallSound();
    void moveCallsToDevices();
    quint64 mediaTicks() const;
    void checkCallsHaveSound(quint64 sentBefore);
    bool callsHaveStreams() const;
    quint64 audioPacketsSent() const;
    void reportCallSound(long eventType);

    _LinphoneCore *m_core = nullptr; // made by Prepare
    bool m_initialized = false;
    QTimer m_iterateTimer; // the slow tick, or the idle tick
    int m_busyTickMs = 0;  // set with the constants of the source file
    int m_idleTickMs = 0;
    QElapsedTimer m_sinceActivity; // the latest message in or out
    QTimer m_followUp;             // the turns after an operation or a message
    int m_followUpsLeft = 0;
    // The engine's SIP sockets, which wake it when a message comes in.
    std::vector<std::unique_ptr<QSocketNotifier>> m_sipNotifiers;
    std::vector<std::unique_ptr<QSocketNotifier>> m_connectionNotifiers; // TCP and TLS
    // The system's news of addresses and routes coming and going, and the wait for it to settle.
    int m_networkNews = -1;
    std::unique_ptr<QSocketNotifier> m_networkWatch;
    QTimer m_networkSettle;
    QStringList m_localAddresses; // as last seen
    QTimer m_registerRetry;       // a failed registration tried again
    // Where the exchange sends from (UDP, IPv4): while registered, requests from anywhere else
    // are refused unless direct calls are allowed. Empty while not known (a name being looked
    // up), and then none is refused.
    std::vector<sockaddr_storage> m_serverSources;
    std::shared_ptr<int> m_alive = std::make_shared<int>(); // for lookups that end after it
    // The sound server's socket, its folder watched; which server (see soundServerIdentity) the
    // engine's devices were last found on, and the wait for a restart's burst of changes to settle.
    QString m_soundSocket;
    std::optional<SoundServerDefaults> m_serverDefaults; // as the server named them last
    std::unique_ptr<QFileSystemWatcher> m_soundWatch;
    QTimer m_soundSettle;
    std::pair<quint64, quint64> m_soundServer{0, 0};
    std::pair<quint64, quint64> m_cardsServer{0, 0}; // where the engine looks for cards now
    QElapsedTimer m_soundProbe;                      // see probeSoundServer
    bool m_hadSoundServer = false; // a desktop without one (ALSA alone) is never told it is gone
    int m_watchedPort = -1;
    quint64 m_sipDropped = 0;
    // Touch tones go out one at a time: the engine drops a tone asked for while the one before is
    // still being sent, so keys pressed quickly wait here for their turn.
    std::deque<char> m_tones;
    QTimer m_tonePacer;
    int m_toneTries = 0;
    long m_eventFilter = 0;
    long m_mediaTypes = RTCMT_AUDIO_SEND | RTCMT_AUDIO_RECEIVE;
    int m_sipPort = 0;
    bool m_streamTransports = false; // the server is reached over TCP or TLS
    QString m_bindAddress;
    IRTCProfilePtr m_enabledProfile;
    _LinphoneAccount *m_account = nullptr;
    QElapsedTimer m_registeringSince; // the account's latest attempt to register
    int m_refusalsBefore = 0;         // server certificates refused before that attempt
    std::deque<std::pair<long, IRTCEventPtr>> m_pending;
    std::map<_LinphoneCall *, std::shared_ptr<class LinphoneSession>> m_sessions;
    // Set when the engine has just freed much (its start-up once registered, a call released):
    // the freed memory goes back to the system after the turn.
    bool m_memoryFreed = false;
    std::shared_ptr<class LinphoneSession> m_placing; // the session whose call is being invited
    // The devices chosen, by RTC_AUDIO_DEVICE; "" is the desktop's default.
    QString m_devices[3];
    bool m_echoTesting = false;
    bool m_echoCancelling = true;
    _LinphoneRecorder *m_meter = nullptr;        // records the microphone while the meter runs
    _LinphoneRingtonePlayer *m_ringer = nullptr; // rings on a ringer device of the user's choice
    RingSounds m_ringSounds;
    ConnectionOptions m_connection;
};

// Which UDP port to listen on: the static SIP port 5060 when it is free on the address, else any
// free one.
int chooseSipPort(const QString &bindAddress);

// The local address of the route to a server given as "address[:port]" or "localhost[:port]"
// (UDP, IPv4); empty for other names and for servers that cannot be reached.
QString localAddressTowards(const QString &server);

// Which sound server listens on a socket now: the socket's inode and change time, which a server
// started again makes anew; {0, 0} while there is none.
std::pair<quint64, quint64> soundServerIdentity(const QString &socket);

// The engine's media settings for a call with little delay (jitter buffer, echo canceller, codec
// order), as the client sets them on its engine once it has started.
void applyMediaTuning(_LinphoneCore *core, bool echoCancelling = true);

} // namespace rtc
