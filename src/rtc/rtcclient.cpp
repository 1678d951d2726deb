#include "rtcclient.h"

namespace rtc {

void notAvailableYet(const char *operation) {
    throw RtcError(RTC_E_NOTIMPL, QStringLiteral("%1 is not available in this version of Kirrow.")
                                      .arg(QLatin1String(operation)));
}

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
