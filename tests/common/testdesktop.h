#pragma once

#include <QtTest>

// Tests that type and click on the X display, load modules into the sound server or change its
// defaults and levels run only on the desktop scripts/test-env makes for them (its own Xvfb,
// PulseAudio and session bus), never on the desktop of whoever runs them.
inline bool onTestDesktop() {
    return !qEnvironmentVariableIsEmpty("KIRROW_TEST_DESKTOP");
}

#define REQUIRE_TEST_DESKTOP()                                                                     \
    do {                                                                                           \
        if (!onTestDesktop())                                                                      \
            QSKIP("runs only on scripts/test-env's desktop (scripts/test, or scripts/test-env "    \
                  "run COMMAND): it works the display and the sound server as its own");           \
    } while (false)
