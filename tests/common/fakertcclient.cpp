#include "fakertcclient.h"

#include "provisioningprofile.h"
#include "serverlocator.h"

#include <algorithm>

namespace {

class FakeProfile final : public rtc::IRTCProfile {
public:
    explicit FakeProfile(rtc::ProvisioningProfile data) : m_data(std::move(data)) {}
    QString Key() const override { return m_data.key; }
    QString Name() const override { return m_data.name; }
    QString UserURI() const override { return m_data.userUri; }

private:
    rtc::ProvisioningProfile m_data;
};

class FakeParticipant final : public rtc::IRTCParticipant {
public:
    explicit FakeParticipant(QString uri) : m_uri(std::move(uri)) {}
    QString UserURI() const override { return m_uri; }
    QString Name() const override { return QStringLiteral("Any Name"); }

private:
    QString m_uri;
};

// Records what the window does with a session into the client's list of calls.
class FakeSession final : public rtc::IRTCSession {
public:
    explicit FakeSession(std::function<void(const QString &)> record)
        : m_record(std::move(record)) {}
    rtc::RTC_SESSION_STATE State() const override { return m_state; }
    void setState(long state) { m_state = static_cast<rtc::RTC_SESSION_STATE>(state); }
    QString RemoteURI() const override { return m_remote; }
    void setRemote(const QString &uri) { m_remote = uri; }
    rtc::IRTCParticipantPtr AddParticipant(const QString &uri, const QString &name) override {
        m_record(QStringLiteral("AddParticipant %1 %2").arg(uri, name));
        m_remote = uri;
        return std::make_shared<FakeParticipant>(uri);
    }
    void Answer() override { m_record(QStringLiteral("Answer")); }
    void Terminate(rtc::RTC_TERMINATE_REASON reason) override {
        m_record(QStringLiteral("Terminate %1").arg(reason));
    }

private:
    std::function<void(const QString &)> m_record;
    rtc::RTC_SESSION_STATE m_state = rtc::RTCSS_IDLE;
    QString m_remote;
};

class FakeSessionEvent final : public rtc::IRTCSessionStateChangeEvent {
public:
    FakeSessionEvent(rtc::IRTCSessionPtr session, long state, long code)
        : m_session(std::move(session)), m_state(state), m_code(code) {}
    rtc::IRTCSessionPtr Session() const override { return m_session; }
    rtc::RTC_SESSION_STATE State() const override {
        return static_cast<rtc::RTC_SESSION_STATE>(m_state);
    }
    long StatusCode() const override { return m_code; }
    QString StatusText() const override { return {}; }
    QString MediaEncryption() const override { return {}; }

private:
    rtc::IRTCSessionPtr m_session;
    long m_state;
    long m_code;
};

class FakeRegistrationEvent final : public rtc::IRTCRegistrationStateChangeEvent {
public:
    explicit FakeRegistrationEvent(long state) : m_state(state) {}
    rtc::RTC_REGISTRATION_STATE State() const override {
        return static_cast<rtc::RTC_REGISTRATION_STATE>(m_state);
    }
    long StatusCode() const override { return 0; }
    QString StatusText() const override { return {}; }
    rtc::IRTCProfilePtr Profile() const override { return {}; }

private:
    long m_state;
};

class FakeMediaEvent final : public rtc::IRTCMediaEvent {
public:
    FakeMediaEvent(long type, long media) : m_type(type), m_media(media) {}
    long EventType() const override { return m_type; }
    long MediaType() const override { return m_media; }

private:
    long m_type;
    long m_media;
};

} // namespace

void FakeRTCClient::record(const QString &call) {
    calls << call;
    if (!failOn.isEmpty() && call.startsWith(failOn))
        throw rtc::RtcError(rtc::RTC_E_ENGINE,
                            QStringLiteral("%1 failed as the test asked.").arg(failOn));
}

void FakeRTCClient::Initialize() {
    // The servers a fake engine registers at are made-up names: DNS is not asked where they are,
    // and the profile is made at once.
    account::ServerLocator::setLookupsEnabled(false);
    record(QStringLiteral("Initialize"));
    m_initialized = true;
}

void FakeRTCClient::requireInitialized() const {
    if (!m_initialized)
        throw rtc::RtcError(rtc::RTC_E_NOT_INITIALIZED,
                            QStringLiteral("The client is not initialized."));
}

void FakeRTCClient::setEventFilter(long filter) {
    record(QStringLiteral("EventFilter %1").arg(filter));
    m_filter = filter;
}

void FakeRTCClient::ListenForIncomingSessions(rtc::RTC_LISTEN_MODE mode) {
    record(QStringLiteral("ListenForIncomingSessions %1").arg(mode));
}

void FakeRTCClient::SetPreferredMediaTypes(long mediaTypes, bool persistent) {
    record(QStringLiteral("SetPreferredMediaTypes %1 %2").arg(mediaTypes).arg(persistent));
}

rtc::IRTCSessionPtr FakeRTCClient::CreateSession(rtc::RTC_SESSION_TYPE type, const QString &,
                                                 const rtc::IRTCProfilePtr &profile, long flags) {
    record(QStringLiteral("CreateSession %1 %2 %3")
               .arg(type)
               .arg(profile ? "profile" : "none")
               .arg(flags));
    return lastSession = newSession();
}

rtc::IRTCSessionPtr FakeRTCClient::newSession(const QString &remote) {
    auto session = std::make_shared<FakeSession>([this](const QString &call) { record(call); });
    session->setRemote(remote);
    return session;
}

void FakeRTCClient::PlayRing(rtc::RTC_RING_TYPE type, bool play) {
    record(QStringLiteral("PlayRing %1 %2").arg(type).arg(play));
}

void FakeRTCClient::SendDTMF(rtc::RTC_DTMF tone) {
    record(QStringLiteral("SendDTMF %1").arg(tone));
}

void FakeRTCClient::raiseSession(long state, rtc::IRTCSessionPtr session, long code) {
    if (!session)
        session = lastSession;
    if (auto *fake = dynamic_cast<FakeSession *>(session.get()))
        fake->setState(state);
    raise(rtc::RTCE_SESSION_STATE_CHANGE, std::make_shared<FakeSessionEvent>(session, state, code));
}

rtc::IRTCProfilePtr FakeRTCClient::CreateProfile(const QString &profileXml) {
    profileTexts << profileXml;
    record(QStringLiteral("CreateProfile"));
    requireInitialized();
    // The same validation as the real client, so refusals show as they would.
    return std::make_shared<FakeProfile>(rtc::parseProvisioningProfile(profileXml));
}

void FakeRTCClient::EnableProfile(const rtc::IRTCProfilePtr &, long registerFlags) {
    record(QStringLiteral("EnableProfile %1").arg(registerFlags));
    requireInitialized();
}

void FakeRTCClient::raise(long type, const rtc::IRTCEventPtr &event) {
    if (m_filter & rtc::eventFilterBit(type))
        emit Event(type, event);
}

void FakeRTCClient::raiseRegistration(long state) {
    raise(rtc::RTCE_REGISTRATION_STATE_CHANGE, std::make_shared<FakeRegistrationEvent>(state));
}

void FakeRTCClient::raiseMedia(long eventType, long mediaType) {
    raise(rtc::RTCE_MEDIA, std::make_shared<FakeMediaEvent>(eventType, mediaType));
}

QList<rtc::AudioDevice> FakeRTCClient::AudioDevices() {
    record(QStringLiteral("AudioDevices"));
    requireInitialized();
    // As the real client: a chosen device that has gone leaves its part on the default.
    for (QString &chosen : m_devices)
        if (std::none_of(devices.cbegin(), devices.cend(),
                         [&](const rtc::AudioDevice &device) { return device.id == chosen; }))
            chosen.clear();
    return devices;
}

QString FakeRTCClient::PreferredAudioDevice(rtc::RTC_AUDIO_DEVICE part) const {
    return m_devices[part];
}

bool FakeRTCClient::SetPreferredAudioDevice(rtc::RTC_AUDIO_DEVICE part, const QString &id) {
    record(QStringLiteral("SetPreferredAudioDevice %1 %2").arg(part).arg(id));
    requireInitialized();
    const bool found =
        id.isEmpty() ||
        std::any_of(devices.cbegin(), devices.cend(), [&](const rtc::AudioDevice &device) {
            return device.id == id &&
                   (part == rtc::RTCAD_MICROPHONE ? device.canCapture : device.canPlay);
        });
    m_devices[part] = found ? id : QString();
    return found;
}

void FakeRTCClient::StartCaptureMeter() {
    record(QStringLiteral("StartCaptureMeter"));
    m_metering = true;
}

void FakeRTCClient::StopCaptureMeter() {
    record(QStringLiteral("StopCaptureMeter"));
    m_metering = false;
}
