#pragma once

#include <QByteArray>

namespace platform {

// The window system the program asks Qt for, from the environment's QT_QPA_PLATFORM, DISPLAY and
// WAYLAND_DISPLAY. The telephone is a shaped window dragged by its skin, with its menus, boxes
// and dialogs placed over it: X11 gives all of that (window shapes, positions on the screen); a
// Wayland compositor gives neither, and there the skin would show its cut-away corners. So on a
// Wayland desktop that runs XWayland (DISPLAY is set) the program uses XWayland. A choice the
// user made in QT_QPA_PLATFORM always stands. Empty means Qt's own choice.
QByteArray preferredPlatform(const QByteArray &qpaPlatform, const QByteArray &display,
                             const QByteArray &waylandDisplay);

// Applies preferredPlatform to this process; call before the application object exists.
void choosePlatform();

} // namespace platform
