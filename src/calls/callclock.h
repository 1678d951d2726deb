#pragma once

#include <QString>

namespace calls {

// The connected-call clock: seconds and minutes roll over at 60, hours count on.
struct CallClock {
    qint16 hours = 0;
    qint16 minutes = 0;
    qint16 seconds = 0;
};

// One second more.
void tick(CallClock &clock);

// "CONNECTED h:m:s", without leading zeros.
QString connectedText(const CallClock &clock);

// "h:m:s", as the recent-call log writes the duration.
QString durationText(const CallClock &clock);

} // namespace calls
