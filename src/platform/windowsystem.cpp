#include "windowsystem.h"

#include <QtGlobal>

namespace platform {

QByteArray preferredPlatform(const QByteArray &qpaPlatform, const QByteArray &display,
                             const QByteArray &waylandDisplay) {
    if (!qpaPlatform.isEmpty())
        return qpaPlatform;
    if (!waylandDisplay.isEmpty() && !display.isEmpty())
        return QByteArrayLiteral("xcb");
    return {};
}

void choosePlatform() {
    const QByteArray chosen = preferredPlatform(qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"),
                                                qgetenv("WAYLAND_DISPLAY"));
    if (!chosen.isEmpty())
        qputenv("QT_QPA_PLATFORM", chosen);
}

} // namespace platform
