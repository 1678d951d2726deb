#include "windowstate.h"

#include <QGuiApplication>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

namespace shell {

namespace {
// WM_HINTS as ICCCM lays it out: nine 32-bit fields, the flags first and the initial state third.
constexpr int kHintsFields = 9;
constexpr int kFlags = 0;
constexpr int kInitialState = 2;
constexpr quint32 kStateHint = 1u << 1;
constexpr quint32 kNormalState = 1;
} // namespace

void clearStartMinimised(QWidget *window) {
    // The off-screen platform has an X11 interface too, without a connection of its own.
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    const WId id = window->internalWinId();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !x11 || !x11->connection() ||
        id == 0)
        return;
    xcb_connection_t *connection = x11->connection();
    const auto xid = static_cast<xcb_window_t>(id);
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, xid, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, kHintsFields),
        nullptr);
    std::array<quint32, kHintsFields> hints{};
    if (reply && reply->format == 32) {
        const int fields = std::min(xcb_get_property_value_length(reply) / 4, kHintsFields);
        std::memcpy(hints.data(), xcb_get_property_value(reply), fields * sizeof(quint32));
    }
    std::free(reply);
    if ((hints[kFlags] & kStateHint) == 0 || hints[kInitialState] == kNormalState)
        return;
    hints[kInitialState] = kNormalState;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xid, XCB_ATOM_WM_HINTS,
                        XCB_ATOM_WM_HINTS, 32, kHintsFields, hints.data());
    xcb_flush(connection);
}

} // namespace shell
