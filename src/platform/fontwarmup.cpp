#include "fontwarmup.h"

#include "startupwork.h"

#include <fontconfig/fontconfig.h>

namespace platform {

namespace {
StartupWork &reader() {
    static StartupWork work;
    return work;
}
} // namespace

void startReadingFonts() {
    reader().start([] { FcInit(); });
}

// fontconfig installs a configuration read by two threads at once only once, so Qt reading it
// while the thread still runs would cost the time twice but never go wrong; waiting here keeps it
// to once.
void awaitFonts() {
    reader().await();
}

} // namespace platform
