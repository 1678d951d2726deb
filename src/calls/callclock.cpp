#include "callclock.h"

#include <limits>

namespace calls {

void tick(CallClock &clock) {
    if (++clock.seconds == 60) {
        clock.seconds = 0;
        ++clock.minutes;
    }
    if (clock.minutes == 60) {
        clock.minutes = 0;
        // Past 32767 hours the clock stays there rather than showing a negative time.
        if (clock.hours < std::numeric_limits<qint16>::max())
            ++clock.hours;
    }
}

QString durationText(const CallClock &clock) {
    return QStringLiteral("%1:%2:%3").arg(clock.hours).arg(clock.minutes).arg(clock.seconds);
}

QString connectedText(const CallClock &clock) {
    return QStringLiteral("CONNECTED ") + durationText(clock);
}

} // namespace calls
