#pragma once

// What the benchmarks that run Kirrow's engine in their own process share.

#include "linphoneclient.h"

namespace bench {

// Sets a new client up as the main window sets it up: started, reporting what the window hears
// of, taking calls, audio both ways.
inline void setUpAsTheWindowDoes(rtc::LinphoneClient &client) {
    client.Initialize();
    client.setEventFilter(rtc::RTCEF_CLIENT | rtc::RTCEF_REGISTRATION_STATE_CHANGE |
                          rtc::RTCEF_SESSION_STATE_CHANGE | rtc::RTCEF_MEDIA);
    client.ListenForIncomingSessions(rtc::RTCLM_BOTH);
    client.SetPreferredMediaTypes(rtc::RTCMT_AUDIO_SEND | rtc::RTCMT_AUDIO_RECEIVE, true);
}

} // namespace bench
