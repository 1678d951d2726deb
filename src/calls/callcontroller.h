#pragma once

#include "callclock.h"
#include "registrationcontroller.h"
#include "rtcclient.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace calls {

// What the window shows of the call, as the engine last reported it for the call the window holds.
enum class CallState { None, Idle, Incoming, Answering, InProgress, Connected, Disconnected };

// Which of the call controls the user may use.
enum class Arrangement {
    Idle,    // no call: Call, the number box, clear and back; End is off
    Ringing, // a call rings here: Call answers, End declines; the number is the caller's
    InCall,  // dialling, ringing out or connected: End only
};

// The number of a SIP or tel address: its user part ("sip:1003@example.net;x=y" -> "1003").
QString callerNumber(const QString &uri);

// Why a call that never connected ended, from the SIP code it ended with: "busy", "no such
// number", "no answer", "declined", "refused" (any other refusal); empty for no refusal.
QString endReason(long sipCode);

// The SIP address a number is dialled at on server: its user part escaped as SIP requires, so
// service codes such as "*21#" reach the exchange ("sip:*21%23@server").
QString dialledAddress(const QString &number, const QString &server);

// The telephone's calls, without widgets: the one call the window holds and its state, the
// number being entered, dialling it key by key, answering and ending, the connected-call clock,
// key tones and touch tones, and the recent-call log. The window shows what it signals and
// forwards its buttons and keys here.
class CallController : public QObject {
    Q_OBJECT
public:
    // Calls are placed with the client, server and profile the account's registration holds,
    // and follow the call events its client reports.
    explicit CallController(const account::RegistrationController &registration,
                            QObject *parent = nullptr);
    ~CallController() override;

    // Where the ended calls are written.
    void setLogPath(const QString &path) { m_logPath = path; }

    // The number being entered; the window's number box shows it.
    QString number() const { return m_number; }
    void setNumber(const QString &number);
    // A number handed over from outside (a link the desktop opened): it replaces the number being
    // entered once the telephone is ready for it and holds no call, and waits until then; a
    // later one replaces one still waiting. Never dialled.
    void offerNumber(const QString &number);
    // Ready once the user has logged in at start-up.
    void setReadyForNumbers(bool ready);
    bool readyForNumbers() const { return m_readyForNumbers; }

    CallState state() const { return m_state; }
    Arrangement arrangement() const { return m_arrangement; }
    bool IsConnected() const { return m_state == CallState::Connected; }
    bool IsActiveCall() const;
    bool isDialling() const { return m_dialling.active; }
    const CallClock &clock() const { return m_clock; }
    const rtc::IRTCSessionPtr &session() const { return g_objSession; }
    // A second caller ringing while the window holds a call; empty when none waits.
    const rtc::IRTCSessionPtr &waitingSession() const { return m_waiting.session; }

    // One session-state event of the engine.
    void OnSessionStateChange(const rtc::IRTCEventPtr &pevent);
    // The connected call's sound stopped, or goes again.
    void OnCallSoundChange(bool flowing);
    // Dials the number: its key tones 100 ms apart, then the call. Refuses while not registered;
    // places nothing while a number is being dialled or a call is held.
    void MakeCall();
    // Call: answers a ringing call, otherwise dials.
    void Picture6_Click();
    // End: declines a ringing call, hangs up any other, stops a number being dialled.
    void Picture8_Click();
    // Clear the number, and delete its last character.
    void Picture16_Click();
    void Picture17_Click();
    // A dial-pad button.
    void DialPadClick(QChar key);
    // A key the number box accepted, before the box applies it ('\r' for Enter). Returns false
    // when the box must not apply it.
    bool cmbPhoneNo_KeyPress(QChar key);
    // A key's tone here, or its touch tone to the far end while connected.
    void PlayTone(const QString &name);
    // Ends the call the program is leaving, and logs it.
    void EndActiveCall();

    // The one-second clock of a connected call.
    QTimer *const tmrConnected;
    void tmrConnected_Timer();

signals:
    void statusChanged(const QString &text);
    void arrangementChanged(calls::Arrangement arrangement);
    void numberChanged(const QString &number);
    // The user cleared the number and goes on typing.
    void numberFocusWanted();
    // A call rings here, from number; then its ringing ends: answered, declined, or (missed) the
    // caller gave up before anyone answered.
    void incomingCall(const QString &number);
    void ringingEnded(bool missed);
    // The number of a second caller waiting while the window holds a call; empty when none waits.
    void waitingCallerChanged(const QString &number);
    // How the connected call's media is encrypted ("SRTP, AES_CM_128_HMAC_SHA1_80"); empty while
    // it is not, and once the call has ended.
    void encryptionChanged(const QString &how);

private:
    void setStatus(const QString &text);
    void setState(CallState state, const QString &text);
    void setArrangement(Arrangement arrangement);
    // The connected call's clock, or that it has no sound.
    void ShowConnected();
    void DialNextCharacter();
    void TakeOfferedNumber();
    void PlaceCall();
    void TakeIncoming(const rtc::IRTCSessionPtr &session);
    void EndOfCall(long sipCode, const QString &why);
    void setEncryption(const QString &how);
    void TakeWaiting(const rtc::IRTCSessionPtr &session);
    void AnnounceWaiting();
    void WaitingCallerGone();
    void TakeWaitingCall();
    void LogCall(const QString &number, const CallClock &clock);
    void ShowLogFailure();
    void StopRing(bool missed = false);
    bool showError(const std::function<void()> &step, bool byNumber);

    const rtc::IRTCClientPtr &client() const { return m_registration.Client(); }

    const account::RegistrationController &m_registration;
    rtc::IRTCSessionPtr g_objSession;
    rtc::IRTCParticipantPtr g_objParticipant;
    QString m_logPath;
    // The recent-call log could not be written: told once, until a call is written again; the
    // status line's words for it, until they are shown.
    bool m_logFailing = false;
    QString m_logFailureText;

    QString m_number;
    QString m_offeredNumber;
    bool m_readyForNumbers = false;
    CallState m_state = CallState::None;
    Arrangement m_arrangement = Arrangement::Idle;
    CallClock m_clock;
    QString m_encryption;

    // The call the window holds: its number, whether it rang here, whether End has ended it,
    // whether it was placed here, and whether it was ever connected.
    struct HeldCall {
        QString number;
        bool ringing = false;
        bool ending = false;
        bool outgoing = false;
        bool connected = false;
        bool soundless = false; // connected, and its sound stopped
    } m_call;

    // A second caller, left ringing at their end while the window holds a call, and announced
    // by a short tone every few seconds.
    struct WaitingCall {
        rtc::IRTCSessionPtr session;
        QString number;
    } m_waiting;
    QTimer m_waitingTone;

    // A number being dialled: its key tones one after the other, then the call.
    struct Dialling {
        bool active = false;
        QString number;
        int next = 0;
    } m_dialling;
    QTimer m_dialTimer;
};

} // namespace calls

Q_DECLARE_METATYPE(calls::Arrangement)
