#pragma once
// _NET_WM_PING (EWMH), as a window manager asks whether a window's program still answers: the
// program sends the message back to the root window from its event loop. Qt sends it there for
// clients that select the root's structure events (StructureNotifyMask), which the caller must.

#include <X11/Xlib.h>

namespace bench {

struct NetWmPing {
    explicit NetWmPing(Display *display)
        : display(display), protocols(XInternAtom(display, "WM_PROTOCOLS", False)),
          ping(XInternAtom(display, "_NET_WM_PING", False)) {}

    // Asks the window; stamp comes back in the answer, to tell answers apart.
    void send(Window window, long stamp) const {
        XEvent message{};
        message.xclient.type = ClientMessage;
        message.xclient.window = window;
        message.xclient.message_type = protocols;
        message.xclient.format = 32;
        message.xclient.data.l[0] = static_cast<long>(ping);
        message.xclient.data.l[1] = stamp;
        message.xclient.data.l[2] = static_cast<long>(window);
        XSendEvent(display, window, False, NoEventMask, &message);
        XFlush(display);
    }

    // Whether the event is the window's answer to the ping that carried stamp.
    bool isAnswer(const XEvent &event, Window window, long stamp) const {
        return event.type == ClientMessage && event.xclient.message_type == protocols &&
               static_cast<Atom>(event.xclient.data.l[0]) == ping &&
               event.xclient.data.l[1] == stamp &&
               static_cast<Window>(event.xclient.data.l[2]) == window;
    }

    Display *display;
    Atom protocols;
    Atom ping;
};

} // namespace bench
