#pragma once

// Numeric values of the communications client. The windows store and compare these numbers, so
// they keep the values the client has always reported.

#include <QString>

namespace rtc {

// Event types delivered through IRTCClient::Event.
enum RTC_EVENT : long {
    RTCE_CLIENT = 0,
    RTCE_REGISTRATION_STATE_CHANGE = 1,
    RTCE_SESSION_STATE_CHANGE = 2,
    RTCE_SESSION_OPERATION_COMPLETE = 3,
    RTCE_PARTICIPANT_STATE_CHANGE = 4,
    RTCE_MEDIA = 5,
};

// Bits of the event filter: an event type is delivered only when its bit is set.
enum RTC_EVENT_FILTER : long {
    RTCEF_CLIENT = 0x1,
    RTCEF_REGISTRATION_STATE_CHANGE = 0x2,
    RTCEF_SESSION_STATE_CHANGE = 0x4,
    RTCEF_SESSION_OPERATION_COMPLETE = 0x8,
    RTCEF_PARTICIPANT_STATE_CHANGE = 0x10,
    RTCEF_MEDIA = 0x20,
};

// What a media event tells of a stream (IRTCMediaEvent::EventType).
enum RTC_MEDIA_EVENT_TYPE : long {
    RTCMET_STOPPED = 0,
    RTCMET_STARTED = 1,
    RTCMET_FAILED = 2,
};

enum RTC_REGISTRATION_STATE : long {
    RTCRS_NOT_REGISTERED = 0,
    RTCRS_REGISTERING = 1,
    RTCRS_REGISTERED = 2,
    RTCRS_REJECTED = 3, // the server refused the credentials
    RTCRS_UNREGISTERING = 4,
    RTCRS_ERROR = 5,      // no answer, network failure, any other refusal
    RTCRS_LOGGED_OFF = 6, // the registration was cleared
    RTCRS_LOCAL_PA_LOGGED_OFF = 7,
};

enum RTC_SESSION_STATE : long {
    RTCSS_IDLE = 0,
    RTCSS_INCOMING = 1,
    RTCSS_ANSWERING = 2,
    RTCSS_INPROGRESS = 3,
    RTCSS_CONNECTED = 4,
    RTCSS_DISCONNECTED = 5,
    RTCSS_HOLD = 6,
    RTCSS_REFER = 7,
};

enum RTC_SESSION_TYPE : long {
    RTCST_PC_TO_PC = 0,
    RTCST_PC_TO_PHONE = 1,
};

enum RTC_TERMINATE_REASON : long {
    RTCTR_NORMAL = 0,
    RTCTR_DND = 1,
    RTCTR_BUSY = 2,
    RTCTR_REJECT = 3,
    RTCTR_TIMEOUT = 4,
    RTCTR_SHUTDOWN = 5,
};

enum RTC_RING_TYPE : long {
    RTCRT_PHONE = 0,
    RTCRT_MESSAGE = 1,
    RTCRT_RINGBACK = 2,
};

enum RTC_LISTEN_MODE : long {
    RTCLM_NONE = 0,
    RTCLM_DYNAMIC = 1,
    RTCLM_BOTH = 2,
};

// The parts of the telephone a sound device is chosen for.
enum RTC_AUDIO_DEVICE : long {
    RTCAD_SPEAKER = 0,    // what the far end says, and the test sound
    RTCAD_MICROPHONE = 1, // what is said to the far end
    RTCAD_RINGER = 2,     // the ring of a call coming in
};

// Flags of CreateSession.
enum : long {
    RTCCS_FORCE_PROFILE = 0x1,
};

// Media types for SetPreferredMediaTypes.
enum : long {
    RTCMT_AUDIO_SEND = 0x1,
    RTCMT_AUDIO_RECEIVE = 0x2,
    RTCMT_VIDEO_SEND = 0x4,
    RTCMT_VIDEO_RECEIVE = 0x8,
};

// What EnableProfile registers for.
enum : long {
    RTCRF_REGISTER_INVITE_SESSIONS = 0x1,
    RTCRF_REGISTER_MESSAGE_SESSIONS = 0x2,
    RTCRF_REGISTER_PRESENCE = 0x4,
    RTCRF_REGISTER_ALL = 0x7,
};

enum RTC_DTMF : long {
    RTC_DTMF_0 = 0,
    RTC_DTMF_1,
    RTC_DTMF_2,
    RTC_DTMF_3,
    RTC_DTMF_4,
    RTC_DTMF_5,
    RTC_DTMF_6,
    RTC_DTMF_7,
    RTC_DTMF_8,
    RTC_DTMF_9,
    RTC_DTMF_STAR,
    RTC_DTMF_POUND,
    RTC_DTMF_A,
    RTC_DTMF_B,
    RTC_DTMF_C,
    RTC_DTMF_D,
    RTC_DTMF_FLASH,
};

// The status code of a registration that failed because the server's TLS certificate did not
// verify: no SIP status says so, as nothing was sent to the server.
enum : long {
    RTC_STATUS_CERTIFICATE_REFUSED = -495,
};

// Whether the media of calls is encrypted (SRTP).
enum RTC_ENCRYPTION : long {
    RTCEN_OFF = 0,           // plain RTP only
    RTCEN_WHEN_POSSIBLE = 1, // SRTP offered, plain RTP taken from a far end that will not encrypt
    RTCEN_ALWAYS = 2,        // SRTP or no call
};

// How the client reaches the network and the far ends. The defaults work at a typical provider.
struct ConnectionOptions {
    QString stunServer; // "host[:port]" (3478 when none is given); empty for none
    bool ice = false;
    RTC_ENCRYPTION encryption = RTCEN_WHEN_POSSIBLE;
    bool ipv6 = true;
    // Calls sent to the phone straight, not through the exchange it is registered with, ring
    // too; off, they are refused (anyone who can reach the port could ring with any number).
    bool directCalls = false;
    bool operator==(const ConnectionOptions &) const = default;
};

// Error numbers carried by RtcError (negative, as the client has always reported them).
enum : long {
    RTC_E_NOTIMPL = static_cast<long>(0x80004001 - 0x100000000),
    RTC_E_INVALIDARG = static_cast<long>(0x80070057 - 0x100000000),
    RTC_E_NOT_INITIALIZED = static_cast<long>(0x80EE0001 - 0x100000000),
    RTC_E_INVALID_PROFILE = static_cast<long>(0x80EE0016 - 0x100000000),
    RTC_E_ENGINE = static_cast<long>(0x80EE0030 - 0x100000000),
};

} // namespace rtc
