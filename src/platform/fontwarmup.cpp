#include "fontwarmup.h"

#include <fontconfig/fontconfig.h>

#include <thread>

namespace platform {

namespace {
// Joined at the latest as the program ends, which must not find it running.
struct Reader {
    std::thread thread;
    ~Reader() {
        if (thread.joinable())
            thread.join();
    }
};

std::thread &reader() {
    static Reader reader;
    return reader.thread;
}
} // namespace

void startReadingFonts() {
    if (!reader().joinable())
        reader() = std::thread([] { FcInit(); });
}

// fontconfig installs a configuration read by two threads at once only once, so Qt reading it
// while the thread still runs would cost the time twice but never go wrong; waiting here keeps it
// to once.
void awaitFonts() {
    if (reader().joinable())
        reader().join();
}

} // namespace platform
