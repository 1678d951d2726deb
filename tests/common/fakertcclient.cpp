#include "fakertcclient.h"

#include "provisioningprofile.h"

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

rtc::IRTCSessionPtr FakeRTCClient::CreateSession(rtc::RTC_SESSION_TYPE, const QString &,
                                                 const rtc::IRTCProfilePtr &, long) {
    rtc::notAvailableYet("CreateSession");
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
