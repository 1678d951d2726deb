#include "callcontroller.h"

#include "errortraps.h"
#include "freedmemory.h"
#include "keytone.h"
#include "messagebox.h"
#include "recentlog.h"
#include "toneclips.h"

#include <QUrl>

#include <utility>

namespace calls {

namespace {

// The dialling pace: each key's tone has sounded before the next one starts.
constexpr int kDialPauseMs = 100;
// How often a waiting caller is announced, as telephones do.
constexpr int kWaitingToneMs = 5000;

bool isKeypadKey(QChar c) {
    return c.isDigit() || c == QLatin1Char('*') || c == QLatin1Char('#');
}

// The tone name of a keypad character, empty for any other.
QString toneNameOf(QChar key) {
    for (const KeyTone &tone : keyTones())
        if (tone.key == key)
            return tone.toneName;
    return {};
}

} // namespace

QString callerNumber(const QString &uri) {
    QString rest = uri.trimmed();
    if (const int open = rest.indexOf(QLatin1Char('<')); open >= 0)
        rest = rest.mid(open + 1).section(QLatin1Char('>'), 0, 0);
    if (const int colon = rest.indexOf(QLatin1Char(':')); colon >= 0)
        rest = rest.mid(colon + 1);
    if (const int at = rest.indexOf(QLatin1Char('@')); at >= 0)
        rest.truncate(at);
    return rest.section(QLatin1Char(';'), 0, 0);
}

QString endReason(long sipCode) {
    switch (sipCode) {
    case 486:
    case 600:
        return QStringLiteral("busy");
    case 404:
    case 484:
    case 604:
        return QStringLiteral("no such number");
    case 408:
    case 480:
        return QStringLiteral("no answer");
    case 603:
        return QStringLiteral("declined");
    default:
        return sipCode >= 400 && sipCode < 700 ? QStringLiteral("refused") : QString();
    }
}

QString dialledAddress(const QString &number, const QString &server) {
    // A user part keeps letters, digits, its marks and the user-unreserved characters as they
    // are (RFC 3261, 25.1); every other character goes as %HH of its UTF-8 bytes.
    static const QByteArray kKept = QByteArrayLiteral("!*'()&=+$,;?/");
    return QStringLiteral("sip:") + QString::fromLatin1(QUrl::toPercentEncoding(number, kKept)) +
           QLatin1Char('@') + server;
}

CallController::CallController(const account::RegistrationController &registration, QObject *parent)
    : QObject(parent), tmrConnected(new QTimer(this)), m_registration(registration) {
    connect(&registration, &account::RegistrationController::sessionStateChanged, this,
            &CallController::OnSessionStateChange);
    connect(&registration, &account::RegistrationController::callSoundChanged, this,
            &CallController::OnCallSoundChange);
    qRegisterMetaType<calls::Arrangement>();
    tmrConnected->setObjectName(QStringLiteral("tmrConnected"));
    tmrConnected->setInterval(1000);
    connect(tmrConnected, &QTimer::timeout, this, &CallController::tmrConnected_Timer);
    m_dialTimer.setSingleShot(true);
    connect(&m_dialTimer, &QTimer::timeout, this, &CallController::DialNextCharacter);
    m_waitingTone.setInterval(kWaitingToneMs);
    connect(&m_waitingTone, &QTimer::timeout, this, &CallController::AnnounceWaiting);
}

CallController::~CallController() = default;

bool CallController::IsActiveCall() const {
    return g_objSession && (m_state == CallState::Incoming || m_state == CallState::Answering ||
                            m_state == CallState::InProgress || m_state == CallState::Connected);
}

void CallController::setNumber(const QString &number) {
    if (number == m_number)
        return;
    m_number = number;
    emit numberChanged(m_number);
}

void CallController::offerNumber(const QString &number) {
    m_offeredNumber = number;
    TakeOfferedNumber();
}

void CallController::setReadyForNumbers(bool ready) {
    m_readyForNumbers = ready;
    TakeOfferedNumber();
}

// While a call rings, is dialled or is connected, the number box shows that call's number, which
// a link opened meanwhile must not hide.
void CallController::TakeOfferedNumber() {
    if (m_offeredNumber.isEmpty() || !m_readyForNumbers || m_arrangement != Arrangement::Idle)
        return;
    setNumber(std::exchange(m_offeredNumber, QString()));
}

void CallController::setStatus(const QString &text) {
    emit statusChanged(text);
}

void CallController::setState(CallState state, const QString &text) {
    m_state = state;
    setStatus(text);
}

void CallController::setArrangement(Arrangement arrangement) {
    if (arrangement != Arrangement::InCall || !IsConnected())
        tmrConnected->stop();
    m_arrangement = arrangement;
    emit arrangementChanged(arrangement);
    TakeOfferedNumber();
}

bool CallController::showError(const std::function<void()> &step, bool byNumber) {
    return platform::showInStatusLine([this](const QString &text) { setStatus(text); }, step,
                                      byNumber ? platform::ErrorText::Number
                                               : platform::ErrorText::Description);
}

// ---- session states ---------------------------------------------------------------------------

void CallController::OnSessionStateChange(const rtc::IRTCEventPtr &pevent) {
    std::shared_ptr<rtc::IRTCSessionStateChangeEvent> view;
    long state = -1;
    long code = 0;
    QString why;
    QString encryption;
    rtc::IRTCSessionPtr session;
    platform::skipOnError([&] { view = rtc::eventView<rtc::IRTCSessionStateChangeEvent>(pevent); });
    platform::skipOnError([&] {
        if (view) {
            state = view->State();
            session = view->Session();
            code = view->StatusCode();
        }
    });
    platform::skipOnError([&] {
        if (view) {
            why = view->StatusText();
            encryption = view->MediaEncryption();
        }
    });
    if (state == rtc::RTCSS_INCOMING) {
        // The window holds one call: while one is being dialled, rings or is connected, a new
        // caller waits, ringing at their end, until that call ends or they give up.
        if (!session)
            return;
        if (!g_objSession && !m_dialling.active)
            TakeIncoming(session);
        else if (!m_waiting.session)
            TakeWaiting(session);
        return;
    }
    if (session && session == m_waiting.session) {
        if (state == rtc::RTCSS_DISCONNECTED)
            WaitingCallerGone();
        return;
    }
    // Events about calls the window does not hold change nothing.
    if (!session || session != g_objSession)
        return;
    switch (state) {
    case rtc::RTCSS_IDLE:
        setState(CallState::Idle, QStringLiteral("IDLE"));
        break;
    case rtc::RTCSS_ANSWERING:
        setState(CallState::Answering, QStringLiteral("ANSWERING"));
        StopRing();
        break;
    case rtc::RTCSS_INPROGRESS:
        setState(CallState::InProgress, QStringLiteral("INPROGRESS"));
        break;
    case rtc::RTCSS_CONNECTED:
        setEncryption(encryption);
        if (m_call.connected)
            break; // connected still, its encryption changed
        setState(CallState::Connected, QStringLiteral("CONNECTED"));
        if (std::exchange(m_call.ringing, false))
            emit ringingEnded(false);
        m_call.connected = true;
        m_clock = {};
        tmrConnected->start();
        setArrangement(Arrangement::InCall);
        break;
    case rtc::RTCSS_DISCONNECTED:
        EndOfCall(code, why);
        break;
    default:
        break; // hold, refer and later states change nothing
    }
}

// A call whose sound stopped says so instead of its clock, until the sound goes again: it is
// never shown as a call that can be heard.
void CallController::OnCallSoundChange(bool flowing) {
    if (!IsConnected() || m_call.soundless == !flowing)
        return;
    m_call.soundless = !flowing;
    ShowConnected();
}

void CallController::TakeIncoming(const rtc::IRTCSessionPtr &session) {
    setState(CallState::Incoming, QStringLiteral("INCOMING"));
    platform::skipOnError([this] { client()->PlayRing(rtc::RTCRT_PHONE, true); });
    g_objSession = session;
    m_clock = {};
    m_call = {};
    m_call.ringing = true;
    platform::skipOnError([&] { m_call.number = callerNumber(session->RemoteURI()); });
    setNumber(m_call.number);
    setArrangement(Arrangement::Ringing);
    emit incomingCall(m_call.number);
}

void CallController::setEncryption(const QString &how) {
    if (how == m_encryption)
        return;
    m_encryption = how;
    emit encryptionChanged(how);
}

// The call the window holds has ended, whoever ended it. A call placed here that the far end
// or the network refused says why, and a busy far end is heard too; a call the engine ended
// itself (a far end that would not encrypt it) is an error, told as the others are.
void CallController::EndOfCall(long sipCode, const QString &why) {
    setEncryption(QString());
    if (m_call.ringing)
        StopRing(true); // the caller gave up (a declined call stopped ringing with End)
    LogCall(m_call.number, m_clock);
    const bool refused = m_call.outgoing && !m_call.connected && !m_call.ending;
    const QString reason = refused ? endReason(sipCode) : QString();
    g_objSession.reset();
    g_objParticipant.reset();
    m_call = {};
    if (!why.isEmpty())
        setState(CallState::Disconnected, QStringLiteral("Error:  ") + why);
    else
        setState(CallState::Disconnected, reason.isEmpty()
                                              ? QStringLiteral("DISCONNECTED")
                                              : QStringLiteral("DISCONNECTED ") + reason);
    setArrangement(Arrangement::Idle);
    ShowLogFailure();
    if (reason == QLatin1String("busy"))
        playCallToneLocally(QStringLiteral("BUSY.WAV"));
    platform::returnFreedMemoryWhenSettled();
    TakeWaitingCall();
}

void CallController::TakeWaiting(const rtc::IRTCSessionPtr &session) {
    m_waiting.session = session;
    m_waiting.number.clear();
    platform::skipOnError([&] { m_waiting.number = callerNumber(session->RemoteURI()); });
    AnnounceWaiting();
    m_waitingTone.start();
    emit waitingCallerChanged(m_waiting.number);
}

// The tone would cut off the ring of a call ringing here, which tells of a call already.
void CallController::AnnounceWaiting() {
    if (!m_call.ringing)
        playCallToneLocally(QStringLiteral("WAITING.WAV"));
}

// The waiting caller gave up: a missed call, logged as any other.
void CallController::WaitingCallerGone() {
    const WaitingCall gone = std::exchange(m_waiting, {});
    m_waitingTone.stop();
    emit waitingCallerChanged(QString());
    LogCall(gone.number, {});
    ShowLogFailure();
}

// Nothing is held any more: a caller still waiting rings here now, as any incoming call.
void CallController::TakeWaitingCall() {
    if (!m_waiting.session || g_objSession || m_dialling.active)
        return;
    const WaitingCall waiting = std::exchange(m_waiting, {});
    m_waitingTone.stop();
    emit waitingCallerChanged(QString());
    TakeIncoming(waiting.session);
}

void CallController::StopRing(bool missed) {
    const bool rang = std::exchange(m_call.ringing, false);
    platform::skipOnError([this] { client()->PlayRing(rtc::RTCRT_PHONE, false); });
    if (rang)
        emit ringingEnded(missed);
}

// Every call that ends goes to the top of the recent-call log once, with how long it was
// connected (0:0:0 when it never was). A call that cannot be logged (a full or read-only disk)
// is told in the status line and the program's log, once: not again with every following call
// until one is written.
void CallController::LogCall(const QString &number, const CallClock &clock) {
    const QString line = number + QStringLiteral("--Duration: ") + durationText(clock);
    const QString path = m_logPath.isEmpty() ? recentLogPath() : m_logPath;
    bool written = false;
    QString error;
    platform::skipOnError([&] { written = addRecentCall(path, line, &error); });
    if (written) {
        m_logFailing = false;
        m_logFailureText.clear();
        return;
    }
    if (std::exchange(m_logFailing, true))
        return; // told already
    platform::logError(QStringLiteral("recent calls"),
                       QStringLiteral("the call could not be written to %1: %2").arg(path, error));
    m_logFailureText = QStringLiteral("The call could not be added to the recent calls: ") + error;
}

// After the call's own last words (DISCONNECTED), which would hide it.
void CallController::ShowLogFailure() {
    if (!m_logFailureText.isEmpty())
        setStatus(QStringLiteral("Error:  ") + std::exchange(m_logFailureText, {}));
}

// ---- placing, answering, ending ---------------------------------------------------------------

void CallController::MakeCall() {
    if (m_dialling.active || g_objSession)
        return;
    if (!m_registration.IsRegistered()) {
        platform::showMessage(
            QStringLiteral("Sorry, you are not registered, please select Menu - LoginAs"));
        return;
    }
    m_dialling = {true, m_number, 0};
    setArrangement(Arrangement::InCall);
    DialNextCharacter();
}

// One character of the number: its tone, or a warning for a character no keypad has (the number
// is dialled as it stands all the same), then a pause before the next.
void CallController::DialNextCharacter() {
    if (!m_dialling.active)
        return;
    if (m_dialling.next >= m_dialling.number.size()) {
        PlaceCall();
        return;
    }
    const bool first = m_dialling.next == 0;
    const QChar c = m_dialling.number.at(m_dialling.next++);
    if (isKeypadKey(c))
        PlayTone(toneNameOf(c));
    else if (c != QChar(8) && !(first && c == QLatin1Char('+')))
        platform::showInputError(); // a leading '+' (an international number) has no key
    if (m_dialling.active)
        m_dialTimer.start(kDialPauseMs);
}

void CallController::PlaceCall() {
    m_dialling.active = false;
    const QString number = m_dialling.number;
    const QString uri = dialledAddress(number, m_registration.SipServer());
    m_clock = {};
    m_call = {};
    m_call.number = number;
    m_call.outgoing = true;
    const bool created = showError(
        [&] {
            g_objSession =
                number.size() == 10
                    ? client()->CreateSession(rtc::RTCST_PC_TO_PC, QString(), nullptr, 0)
                    : client()->CreateSession(rtc::RTCST_PC_TO_PHONE, QString(),
                                              m_registration.Profile(), rtc::RTCCS_FORCE_PROFILE);
        },
        true);
    const bool added = created && showError(
                                      [&] {
                                          g_objParticipant = g_objSession->AddParticipant(
                                              uri, QStringLiteral("Any Name"));
                                      },
                                      true);
    if (added)
        return; // the in-call arrangement stands; the engine's events follow
    // A call that could not be placed leaves nothing to end: ready for the next one.
    g_objSession.reset();
    g_objParticipant.reset();
    setArrangement(Arrangement::Idle);
    TakeWaitingCall();
}

void CallController::Picture6_Click() {
    if (m_state == CallState::Incoming && g_objSession) {
        showError([this] { g_objSession->Answer(); }, true);
        return;
    }
    MakeCall();
}

void CallController::Picture8_Click() {
    if (m_dialling.active) {
        // Hung up before the number was dialled: nothing was placed.
        m_dialling.active = false;
        m_dialTimer.stop();
        setArrangement(Arrangement::Idle);
        TakeWaitingCall();
        return;
    }
    if (!g_objSession) {
        setStatus(QStringLiteral("Error:  There is no call."));
        StopRing();
        setArrangement(Arrangement::Idle);
        return;
    }
    if (m_call.ending)
        return; // already ended; the engine's word that it has is on its way
    // A state that cannot be read is taken for a ringing call, so the ring stops whatever happens.
    bool incoming = true;
    showError([&] { incoming = g_objSession->State() == rtc::RTCSS_INCOMING; }, false);
    const rtc::IRTCSessionPtr session = g_objSession;
    if (incoming) {
        m_call.ending = showError([&] { session->Terminate(rtc::RTCTR_REJECT); }, false);
        StopRing();
    } else {
        m_call.ending = showError([&] { session->Terminate(rtc::RTCTR_NORMAL); }, false);
    }
}

void CallController::EndActiveCall() {
    m_dialling.active = false;
    m_dialTimer.stop();
    // Leaving must not be stopped by a call that cannot be ended cleanly. A caller still waiting
    // is a missed call.
    if (const rtc::IRTCSessionPtr waiting = m_waiting.session) {
        platform::skipOnError([&] { waiting->Terminate(rtc::RTCTR_SHUTDOWN); });
        WaitingCallerGone();
    }
    if (!IsActiveCall())
        return;
    const rtc::IRTCSessionPtr session = g_objSession;
    platform::skipOnError([&] { session->Terminate(rtc::RTCTR_SHUTDOWN); });
    if (m_call.ringing)
        StopRing();
    LogCall(m_call.number, m_clock);
    g_objSession.reset();
    g_objParticipant.reset();
    m_call = {};
    tmrConnected->stop();
    setEncryption(QString());
}

void CallController::tmrConnected_Timer() {
    tick(m_clock);
    ShowConnected();
}

void CallController::ShowConnected() {
    setStatus(m_call.soundless
                  ? QStringLiteral("Error:  The call has no sound: the sound devices are gone.")
                  : connectedText(m_clock));
}

// ---- number entry -----------------------------------------------------------------------------

void CallController::DialPadClick(QChar key) {
    PlayTone(toneNameOf(key));
    setNumber(m_number + key);
}

void CallController::Picture16_Click() {
    setStatus(QStringLiteral("Ready..."));
    setNumber(QString());
    emit numberFocusWanted();
}

void CallController::Picture17_Click() {
    if (!m_number.isEmpty())
        setNumber(m_number.left(m_number.size() - 1));
}

bool CallController::cmbPhoneNo_KeyPress(QChar key) {
    if (key == QLatin1Char('\r')) {
        if (m_number.size() > 9) {
            MakeCall();
            return false;
        }
        return true;
    }
    if (isKeypadKey(key))
        PlayTone(toneNameOf(key));
    return true;
}

// ---- key tones --------------------------------------------------------------------------------

void CallController::PlayTone(const QString &name) {
    if (IsConnected()) {
        for (const KeyTone &tone : keyTones()) {
            if (tone.toneName == name) {
                platform::skipOnError(
                    [&] { client()->SendDTMF(static_cast<rtc::RTC_DTMF>(tone.dtmf)); });
                return;
            }
        }
        return;
    }
    platform::skipOnError([&] { playKeyToneLocally(name); });
}

} // namespace calls
