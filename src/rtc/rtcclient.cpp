#include "rtcclient.h"

namespace rtc {

long eventFilterBit(long eventType) {
    switch (eventType) {
    case RTCE_CLIENT:
        return RTCEF_CLIENT;
    case RTCE_REGISTRATION_STATE_CHANGE:
        return RTCEF_REGISTRATION_STATE_CHANGE;
    case RTCE_SESSION_STATE_CHANGE:
        return RTCEF_SESSION_STATE_CHANGE;
    case RTCE_SESSION_OPERATION_COMPLETE:
        return RTCEF_SESSION_OPERATION_COMPLETE;
    case RTCE_PARTICIPANT_STATE_CHANGE:
        return RTCEF_PARTICIPANT_STATE_CHANGE;
    case RTCE_MEDIA:
        return RTCEF_MEDIA;
    default:
        return 0;
    }
}

} // namespace rtc
