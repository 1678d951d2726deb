#pragma once

#include "rtcclient.h"

#include <QStringList>

// A scripted communications client for tests of the windows: it records every operation it is
// asked for, fails the one named in failOn, and raises the events a test tells it to.
class FakeRTCClient final : public rtc::IRTCClient, public rtc::IRTCClientProvisioning {
    Q_OBJECT
public:
    QStringList calls;        // "Initialize", "EventFilter 39", "EnableProfile 7", ...
    QStringList profileTexts; // every text given to CreateProfile
    QString failOn;           // an operation name that throws RtcError

    void SetRingSounds(const rtc::RingSounds &sounds) override { ringSounds = sounds; }
    void Initialize() override;
    void setEventFilter(long filter) override;
    long EventFilter() const override { return m_filter; }
    void ListenForIncomingSessions(rtc::RTC_LISTEN_MODE mode) override;
    void SetPreferredMediaTypes(long mediaTypes, bool persistent) override;
    rtc::IRTCClientProvisioning *provisioning() override { return this; }
    rtc::IRTCSessionPtr CreateSession(rtc::RTC_SESSION_TYPE, const QString &,
                                      const rtc::IRTCProfilePtr &, long) override;
    void PlayRing(rtc::RTC_RING_TYPE type, bool play) override;
    void SendDTMF(rtc::RTC_DTMF tone) override;
    // Sound devices: those the test puts in `devices`; the choices, tests and meter recorded.
    QList<rtc::AudioDevice> devices;
    double captureLevel = 0;    // what the meter reads while it runs
    rtc::RingSounds ringSounds; // what the program handed over to ring with
    QList<rtc::AudioDevice> AudioDevices() override;
    QString PreferredAudioDevice(rtc::RTC_AUDIO_DEVICE part) const override;
    bool SetPreferredAudioDevice(rtc::RTC_AUDIO_DEVICE part, const QString &id) override;
    void PlayTestSound() override { record(QStringLiteral("PlayTestSound")); }
    void StartEchoTest() override { record(QStringLiteral("StartEchoTest")); }
    void StopEchoTest() override { record(QStringLiteral("StopEchoTest")); }
    void StartCaptureMeter() override;
    void StopCaptureMeter() override;
    double CaptureLevel() const override { return m_metering ? captureLevel : 0; }
    bool echoCancelling = true;
    void SetEchoCancelling(bool on) override { echoCancelling = on; }
    bool EchoCancelling() const override { return echoCancelling; }
    // The options given last (kept out of `calls`: every client is given them as it starts).
    rtc::ConnectionOptions connection;
    void SetConnectionOptions(const rtc::ConnectionOptions &options) override {
        connection = options;
    }
    rtc::IRTCProfilePtr CreateProfile(const QString &profileXml) override;
    void EnableProfile(const rtc::IRTCProfilePtr &profile, long registerFlags) override;

    // Raise events as the real client would, through the event filter.
    void raiseRegistration(long state);
    // A session event; the session's own state follows it. Without a session, the last made.
    // code: the SIP code an ended call ended with.
    void raiseSession(long state, rtc::IRTCSessionPtr session = {}, long code = 0);
    // A session as an incoming call from remote makes it.
    rtc::IRTCSessionPtr newSession(const QString &remote = QString());
    rtc::IRTCSessionPtr lastSession;
    void raiseMedia(long eventType, long mediaType);
    void raise(long type, const rtc::IRTCEventPtr &event);

private:
    void record(const QString &call);
    void requireInitialized() const;
    long m_filter = 0;
    bool m_initialized = false; // like the real client, profiles need an initialized one
    QString m_devices[3];
    bool m_metering = false;
};
