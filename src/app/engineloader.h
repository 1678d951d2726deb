#pragma once

#include "rtcclient.h"

#include <QString>

#include <memory>
#include <thread>

// Loads the SIP engine (liblinphone behind the client interface), which is a module of its own,
// on a thread of its own: the program's first window shows without waiting for the engine and
// the hundred and more libraries it brings, and a login pressed quickly waits only for what is
// left of the loading.
class EngineLoader {
public:
    // Where the engine is looked for: $KIRROW_ENGINE when set, else beside the program (installed,
    // the program and its engine share libexec/kirrow; bin/kirrow links to the program there).
    static QString enginePath();

    EngineLoader() = default;
    ~EngineLoader();
    EngineLoader(const EngineLoader &) = delete;
    EngineLoader &operator=(const EngineLoader &) = delete;

    // Begins loading; once is enough, later calls change nothing.
    void start();
    // Begins loading at the event loop's first turn, when the login dialog takes input: loading
    // beside the window being built behind the dialog held the dialog's input back by about 5 ms
    // on a machine with two cores.
    void startOnceRunning();
    // Waits for the loading to end and makes a client (or gives the one made once the engine was
    // loaded, its slow part done while the login dialog was up). An engine that is missing or
    // cannot be loaded is told to the user in plain words, and throws.
    rtc::IRTCClientPtr createClient();

private:
    void prepareClient();
    rtc::IRTCClientPtr makeClient();

    std::thread m_thread;
    bool m_preparing = false;
    rtc::IRTCClientPtr m_prepared; // made and prepared while the login dialog is up
    bool m_started = false;
    void *m_handle = nullptr;
    QString m_error;
};
