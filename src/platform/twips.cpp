#include "twips.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace platform {

namespace {
int twipsPerPixel(qreal dotsPerInch) {
    if (dotsPerInch <= 0)
        return kDesignTwipsPerPixel;
    return std::max(1, static_cast<int>(std::lround(1440.0 / dotsPerInch)));
}
} // namespace

int screenTwipsPerPixelX() {
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? twipsPerPixel(screen->logicalDotsPerInchX()) : kDesignTwipsPerPixel;
}

int screenTwipsPerPixelY() {
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? twipsPerPixel(screen->logicalDotsPerInchY()) : kDesignTwipsPerPixel;
}

int roundHalfEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

int twipsToPixelsX(int twips) {
    return roundHalfEven(double(twips) / screenTwipsPerPixelX());
}
int twipsToPixelsY(int twips) {
    return roundHalfEven(double(twips) / screenTwipsPerPixelY());
}

QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twipsToPixelsX(left), twipsToPixelsY(top), twipsToPixelsX(width),
                 twipsToPixelsY(height));
}

} // namespace platform
