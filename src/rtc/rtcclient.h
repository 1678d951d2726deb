#pragma once

#include "rtcvalues.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>

namespace rtc {

// A failed client operation: the negative error number and a description for the user.
class RtcError : public std::runtime_error {
public:
    RtcError(long number, const QString &description)
        : std::runtime_error(description.toStdString()), m_number(number),
          m_description(description) {}
    long number() const { return m_number; }
    QString description() const { return m_description; }

private:
    long m_number;
    QString m_description;
};

// An event object. The handler asks for the view it expects with eventView<>(); asking for the
// wrong one is an error, as it is for the client's own event objects.
class IRTCEvent {
public:
    virtual ~IRTCEvent() = default;
};

class IRTCProfile {
public:
    virtual ~IRTCProfile() = default;
    virtual QString Key() const = 0;
    virtual QString Name() const = 0;
    virtual QString UserURI() const = 0;
};
using IRTCProfilePtr = std::shared_ptr<IRTCProfile>;

class IRTCParticipant {
public:
    virtual ~IRTCParticipant() = default;
    virtual QString UserURI() const = 0;
    virtual QString Name() const = 0;
};
using IRTCParticipantPtr = std::shared_ptr<IRTCParticipant>;

class IRTCSession {
public:
    virtual ~IRTCSession() = default;
    virtual RTC_SESSION_STATE State() const = 0;
    // The address of the other party ("sip:1003@example.net"), empty while there is none.
    virtual QString RemoteURI() const = 0;
    virtual IRTCParticipantPtr AddParticipant(const QString &userUri, const QString &name) = 0;
    virtual void Answer() = 0;
    virtual void Terminate(RTC_TERMINATE_REASON reason) = 0;
};
using IRTCSessionPtr = std::shared_ptr<IRTCSession>;

class IRTCRegistrationStateChangeEvent : public IRTCEvent {
public:
    virtual RTC_REGISTRATION_STATE State() const = 0;
    virtual long StatusCode() const = 0;
    virtual QString StatusText() const = 0;
    virtual IRTCProfilePtr Profile() const = 0;
};

class IRTCSessionStateChangeEvent : public IRTCEvent {
public:
    virtual IRTCSessionPtr Session() const = 0;
    virtual RTC_SESSION_STATE State() const = 0;
    // For a call that ended: the SIP code it ended with (486 for a busy far end), 0 when it was
    // hung up.
    virtual long StatusCode() const = 0;
    // For a call that ended: why, when the client itself ended or refused it (a far end that
    // would not encrypt the media); empty otherwise.
    virtual QString StatusText() const = 0;
    // For a connected call: how its media is encrypted ("SRTP, AES_CM_128_HMAC_SHA1_80"), empty
    // while it is not. A connected call whose encryption changes is reported connected again.
    virtual QString MediaEncryption() const = 0;
};

class IRTCMediaEvent : public IRTCEvent {
public:
    virtual long EventType() const = 0;
    virtual long MediaType() const = 0;
};

using IRTCEventPtr = std::shared_ptr<IRTCEvent>;

// Takes the view V of an event object; throws when the object has no such view.
template <class V> std::shared_ptr<V> eventView(const IRTCEventPtr &event) {
    auto view = std::dynamic_pointer_cast<V>(event);
    if (!view)
        throw RtcError(RTC_E_INVALIDARG, QStringLiteral("The event has no such view."));
    return view;
}

// Creating and enabling provisioning profiles.
class IRTCClientProvisioning {
public:
    virtual ~IRTCClientProvisioning() = default;
    // Parses the profile text; text that is not well-formed, or lacks what registration needs,
    // throws RtcError.
    virtual IRTCProfilePtr CreateProfile(const QString &profileXml) = 0;
    // Starts registering the profile's user; progress arrives as registration events.
    virtual void EnableProfile(const IRTCProfilePtr &profile, long registerFlags) = 0;
};

// A sound device the client can use: the id it is chosen by (and kept in the settings by), the
// name a user knows it by, and whether it plays, records or both.
struct AudioDevice {
    QString id;
    QString name;
    bool canPlay = false;
    bool canCapture = false;
    bool operator==(const AudioDevice &) const = default;
};

// What the client rings with. The clips and the player of the program's own sounds belong to the
// program, which hands them over before Initialize: the client looks nothing up in the program.
struct RingSounds {
    QByteArray ring;     // a WAV clip holding its own pause, played again and again while it rings
    QByteArray ringback; // a WAV clip heard while a far end rings without sound of its own
    // Rings on the default sound device (no ringer device chosen), repeating the clip until
    // stopRing; false when it cannot be played.
    std::function<bool(const QByteArray &wav)> playRing;
    std::function<void()> stopRing;
};

// The communications client: one object for the whole run. Every event is raised through the
// Event signal on the GUI thread, filtered by EventFilter.
class IRTCClient : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~IRTCClient() override = default;

    // Before Initialize (ringback) and before the first PlayRing; without them the client does
    // not ring.
    virtual void SetRingSounds(const RingSounds &sounds) = 0;
    virtual void Initialize() = 0;
    // Does the slow part of Initialize ahead, before the user asks for the client (while the
    // login dialog is up), so that Initialize then only finishes. Optional; may be left out.
    virtual void Prepare() {}
    virtual void setEventFilter(long filter) = 0;
    virtual long EventFilter() const = 0;
    virtual void ListenForIncomingSessions(RTC_LISTEN_MODE mode) = 0;
    virtual void SetPreferredMediaTypes(long mediaTypes, bool persistent) = 0;
    virtual IRTCClientProvisioning *provisioning() = 0;

    virtual IRTCSessionPtr CreateSession(RTC_SESSION_TYPE type, const QString &localPhoneUri,
                                         const IRTCProfilePtr &profile, long flags) = 0;
    virtual void PlayRing(RTC_RING_TYPE type, bool play) = 0;
    virtual void SendDTMF(RTC_DTMF tone) = 0;

    // Sound devices, for the audio tuning wizard and the calls. The devices are looked for
    // afresh on each call, so one plugged in or taken out since shows.
    virtual QList<AudioDevice> AudioDevices() = 0;
    // The device chosen for a part, "" for the client's default device.
    virtual QString PreferredAudioDevice(RTC_AUDIO_DEVICE part) const = 0;
    // Chooses the device for a part from the next call (or ring, or test) on; "" chooses the
    // default. A device that is not there, or cannot do the part, is not chosen: the part falls
    // back to the default device, never to silence, and false says so.
    virtual bool SetPreferredAudioDevice(RTC_AUDIO_DEVICE part, const QString &id) = 0;
    // Plays a short chime on the speaker device.
    virtual void PlayTestSound() = 0;
    // What the microphone hears is played on the speaker device until the test is stopped.
    virtual void StartEchoTest() = 0;
    virtual void StopEchoTest() = 0;
    // While the capture meter runs, CaptureLevel() tells how loud the microphone device hears:
    // 0 for silence to 1 for full scale (linear); 0 while the meter is stopped. It follows the
    // microphone when another is chosen.
    virtual void StartCaptureMeter() = 0;
    virtual void StopCaptureMeter() = 0;
    virtual double CaptureLevel() const = 0;
    // Echo cancelling of the calls, from the next call on: on unless the user hears through a
    // headset, or a far end would hear itself back from the speakers.
    virtual void SetEchoCancelling(bool on) = 0;
    virtual bool EchoCancelling() const = 0;

    // The certificate (DER) a TLS server showed in the latest handshake the client refused;
    // empty when none was refused.
    virtual QByteArray RefusedCertificate() const { return {}; }
    // A server certificate (its SHA-256 digest) the user trusts for the server registered next,
    // whoever signed it and whatever name it bears; empty for none.
    virtual void SetTrustedCertificate(const QByteArray &sha256) { Q_UNUSED(sha256); }
    // From now on: the STUN server, ICE and IPv6 at once (the registration is kept), the
    // encryption from the next call on.
    virtual void SetConnectionOptions(const ConnectionOptions &options) = 0;

signals:
    void Event(long RTCEvent, const rtc::IRTCEventPtr &pevent);
    // Something the client took on and then dropped after the operation had returned (a touch
    // tone the engine would not send): no caller is left to tell, so it is reported here, for
    // the program's log.
    void Dropped(const QString &what);
};

using IRTCClientPtr = std::shared_ptr<IRTCClient>;
using RTCClientFactory = std::function<IRTCClientPtr()>;

// The filter bit that lets an event type through, 0 for types that no bit covers.
long eventFilterBit(long eventType);

} // namespace rtc

Q_DECLARE_METATYPE(rtc::IRTCEventPtr)
