#pragma once

#include <functional>
#include <thread>

namespace platform {

// Work of the program's start that runs on a thread of its own beside Qt's start, and that the
// GUI thread waits for where it needs the result. Waiting is harmless when the work never
// started or is done; the thread is waited for at the latest as its owner goes, since a program
// must not end with it running.
class StartupWork {
public:
    StartupWork() = default;
    StartupWork(const StartupWork &) = delete;
    StartupWork &operator=(const StartupWork &) = delete;
    ~StartupWork() { await(); }

    // Starts work unless some has been started already; returns whether it started.
    bool start(std::function<void()> work) {
        if (m_started)
            return false;
        m_started = true;
        m_thread = std::thread(std::move(work));
        return true;
    }
    void await() {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
    bool m_started = false;
};

} // namespace platform
