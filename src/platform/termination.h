#pragma once

#include <functional>

class QObject;

namespace platform {

// Runs quit on the GUI thread when the program is asked to end by SIGTERM, SIGINT or SIGHUP (the
// desktop session ending, `kill`, Ctrl+C in a terminal, the terminal it was started from closing),
// so that it shuts down as through its close
// button instead of dying where it stands. A second signal ends the program at once, as without
// this. Call once, from the GUI thread; context owns the watcher.
void onTerminationSignal(QObject *context, std::function<void()> quit);

} // namespace platform
