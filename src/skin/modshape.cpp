#include "modshape.h"

#include "twips.h"

#include <QPainterPath>
#include <QWidget>

namespace modShape {

QRegion roundedStartupRegion(int w, int h) {
    QPainterPath path;
    // Right and bottom edges are exclusive, as the rectangle's corners are given.
    path.addRoundedRect(QRectF(10, 10, w - 10, h - 45 - 10), 150 / 2.0, 100 / 2.0);
    return QRegion(path.toFillPolygon().toPolygon(), Qt::WindingFill);
}

void RoundFormRegion(QWidget *frm) {
    // From the size in twips, as the window's size is designed.
    const int tppX = platform::screenTwipsPerPixelX();
    const int tppY = platform::screenTwipsPerPixelY();
    const int w = platform::roundHalfEven(double(frm->width() * tppX) / tppX);
    const int h = platform::roundHalfEven(double(frm->height() * tppY) / tppY);
    frm->setMask(roundedStartupRegion(w, h));
}

} // namespace modShape
