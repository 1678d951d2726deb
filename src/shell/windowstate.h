#pragma once

class QWidget;

namespace shell {

// Qt marks a window it minimises as one to be mapped minimised (ICCCM's initial state in
// WM_HINTS) and leaves the mark there when the desktop restores the window: hidden to the tray
// and shown again, such a window came back minimised. This clears the mark, so the window is
// mapped in its normal state. Nothing to do on a window system other than X11, or before the
// window has its native window.
void clearStartMinimised(QWidget *window);

} // namespace shell
