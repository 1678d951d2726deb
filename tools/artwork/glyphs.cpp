#include "glyphs.h"

#include <QPainterPathStroker>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace art::glyphs {

namespace {

// Scales a symbol drawn in a designSize space to fit the box, centred, keeping its proportions.
QPainterPath fitted(const QPainterPath &design, const QSizeF &designSize, const QRectF &box) {
    const double scale =
        std::min(box.width() / designSize.width(), box.height() / designSize.height());
    QTransform t;
    t.translate(box.center().x(), box.center().y());
    t.scale(scale, scale);
    t.translate(-designSize.width() / 2, -designSize.height() / 2);
    return t.map(design);
}

QPainterPath stroked(const QPainterPath &line, double width, Qt::PenCapStyle cap = Qt::RoundCap) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(cap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(line).simplified();
}

QPainterPath roundedRect(const QRectF &r, double radius) {
    QPainterPath p;
    p.addRoundedRect(r, radius, radius);
    return p;
}

QPainterPath ellipse(const QPointF &centre, double rx, double ry) {
    QPainterPath p;
    p.addEllipse(centre, rx, ry);
    return p;
}

QPainterPath rotatedAbout(const QPainterPath &path, const QPointF &centre, double degrees) {
    QTransform t;
    t.translate(centre.x(), centre.y());
    t.rotate(degrees);
    t.translate(-centre.x(), -centre.y());
    return t.map(path);
}

} // namespace

QPainterPath handset(const QRectF &box, bool hungUp) {
    // Drawn upright in a 24 x 24 space: a handle bowed to the left, with the earpiece and the
    // mouthpiece cups reaching out to the right.
    constexpr QSizeF design{24, 24};
    const QPointF centre{12, 12};
    QPainterPath shape;
    shape.moveTo(8, 1);
    shape.lineTo(16.4, 1);
    shape.cubicTo(18.4, 1, 19.2, 2.4, 19.2, 4.5);
    shape.cubicTo(19.2, 6.6, 18.4, 8, 16.4, 8);
    shape.lineTo(11.8, 8);
    shape.cubicTo(9.8, 8.4, 8.8, 10, 8.8, 12);
    shape.cubicTo(8.8, 14, 9.8, 15.6, 11.8, 16);
    shape.lineTo(16.4, 16);
    shape.cubicTo(18.4, 16, 19.2, 17.4, 19.2, 19.5);
    shape.cubicTo(19.2, 21.6, 18.4, 23, 16.4, 23);
    shape.lineTo(8, 23);
    shape.cubicTo(5, 23, 3, 19, 3, 12);
    shape.cubicTo(3, 5, 5, 1, 8, 1);
    shape.closeSubpath();
    // Lifted handsets lean back with their cups up and to the right; hung up, the handset
    // lies flat with its cups facing down.
    shape = rotatedAbout(shape, centre, hungUp ? 90 : -45);
    if (hungUp) {
        // Lying down it is seen from the side, flatter than it is long.
        constexpr double kFlatten = 0.72;
        QTransform squash;
        squash.translate(centre.x(), centre.y());
        squash.scale(1, kFlatten);
        squash.translate(-centre.x(), -centre.y());
        shape = squash.map(shape);
    }
    return fitted(shape, design, box);
}

QPainterPath clock(const QRectF &box) {
    constexpr QSizeF design{16, 16};
    const QPointF c{8, 8};
    QPainterPath face = ellipse(c, 7.4, 7.4).subtracted(ellipse(c, 5.9, 5.9));
    QPainterPath hands;
    hands.moveTo(8, 3.6);
    hands.lineTo(8, 8);
    hands.lineTo(11.2, 9.8);
    face = face.united(stroked(hands, 1.5));
    return fitted(face, design, box);
}

QPainterPath addressBook(const QRectF &box) {
    constexpr QSizeF design{15, 16};
    QPainterPath book = roundedRect(QRectF(2.5, 0.5, 12, 15), 1.6);
    // The person printed on the cover is cut out of the book.
    QPainterPath person = ellipse(QPointF(8.8, 5.6), 2.3, 2.3);
    QPainterPath shoulders;
    shoulders.addEllipse(QRectF(4.9, 9.0, 7.8, 6.4));
    QPainterPath shouldersClip;
    shouldersClip.addRect(QRectF(4, 8.5, 10, 4.2));
    person = person.united(shoulders.intersected(shouldersClip));
    book = book.subtracted(person);
    // Binder rings along the spine.
    for (double y : {3.0, 7.0, 11.0})
        book = book.united(roundedRect(QRectF(0.5, y, 3.4, 1.8), 0.9));
    return fitted(book, design, box);
}

QPainterPath sliders(const QRectF &box) {
    constexpr QSizeF design{16, 15};
    QPainterPath shape;
    const double columns[] = {3, 8, 13};
    const double knobs[] = {4.5, 10.5, 6.5};
    for (int i = 0; i < 3; ++i) {
        QPainterPath track;
        track.addRect(QRectF(columns[i] - 0.75, 0.5, 1.5, 14));
        shape = shape.united(track);
        shape = shape.united(roundedRect(QRectF(columns[i] - 2.4, knobs[i] - 1.6, 4.8, 3.2), 1.0));
    }
    return fitted(shape, design, box);
}

QPainterPath key(const QRectF &box) {
    constexpr QSizeF design{18, 18};
    QPainterPath shape =
        ellipse(QPointF(5, 9), 4.6, 4.6).subtracted(ellipse(QPointF(4.2, 9), 1.7, 1.7));
    shape = shape.united(roundedRect(QRectF(8.5, 8, 9, 2.4), 0.6));
    shape = shape.united(roundedRect(QRectF(12.6, 9.6, 1.7, 3.2), 0.4));
    shape = shape.united(roundedRect(QRectF(15.4, 9.6, 1.7, 2.4), 0.4));
    shape = rotatedAbout(shape, QPointF(9, 9), -40);
    return fitted(shape, design, box);
}

QPainterPath speaker(const QRectF &box) {
    constexpr QSizeF design{16, 16};
    QPainterPath shape = roundedRect(QRectF(1, 5.4, 3.8, 5.2), 0.6);
    QPainterPath cone;
    cone.moveTo(4.2, 5.4);
    cone.lineTo(9, 1.6);
    cone.lineTo(9, 14.4);
    cone.lineTo(4.2, 10.6);
    cone.closeSubpath();
    shape = shape.united(cone);
    shape = shape.united(soundWaves(QRectF(9.2, 2, 6.6, 12), 2, 1.6));
    return fitted(shape, design, box);
}

QPainterPath microphone(const QRectF &box) {
    constexpr QSizeF design{12, 16};
    QPainterPath shape = roundedRect(QRectF(3.4, 0.5, 5.2, 9.4), 2.6);
    QPainterPath holder;
    holder.arcMoveTo(QRectF(1.2, 2.6, 9.6, 9.4), 180);
    holder.arcTo(QRectF(1.2, 2.6, 9.6, 9.4), 180, 180);
    shape = shape.united(stroked(holder, 1.4));
    shape = shape.united(roundedRect(QRectF(5.3, 11.6, 1.4, 2.6), 0.2));
    shape = shape.united(roundedRect(QRectF(2.8, 13.8, 6.4, 1.7), 0.6));
    return fitted(shape, design, box);
}

QPainterPath signalBars(const QRectF &box) {
    constexpr QSizeF design{15, 11};
    QPainterPath shape;
    const double heights[] = {3.5, 5.5, 8, 10.5};
    for (int i = 0; i < 4; ++i) {
        const double x = 1.5 + i * 3.4;
        shape.addRoundedRect(QRectF(x, 11 - heights[i], 2.4, heights[i]), 0.5, 0.5);
    }
    return fitted(shape.simplified(), design, box);
}

QPainterPath voicemail(const QRectF &box) {
    constexpr QSizeF design{16, 8};
    QPainterPath shape =
        ellipse(QPointF(4, 4), 3.3, 3.3).subtracted(ellipse(QPointF(4, 4), 1.7, 1.7));
    shape = shape.united(
        ellipse(QPointF(12, 4), 3.3, 3.3).subtracted(ellipse(QPointF(12, 4), 1.7, 1.7)));
    QPainterPath bar;
    bar.addRect(QRectF(4, 5.9, 8, 1.4));
    return fitted(shape.united(bar), design, box);
}

QPainterPath backspace(const QRectF &box) {
    constexpr QSizeF design{19, 12};
    QPainterPath arrow;
    arrow.moveTo(0.5, 6);
    arrow.lineTo(5.8, 0.6);
    arrow.lineTo(18.5, 0.6);
    arrow.lineTo(18.5, 11.4);
    arrow.lineTo(5.8, 11.4);
    arrow.closeSubpath();
    arrow = arrow.subtracted(cross(QRectF(9.2, 3.2, 5.6, 5.6), 1.6));
    return fitted(arrow, design, box);
}

QPainterPath asterisk(const QRectF &box) {
    constexpr QSizeF design{12, 12};
    QPainterPath spokes;
    for (int i = 0; i < 3; ++i) {
        const double angle = (90 + 60.0 * i) * M_PI / 180;
        const double dx = 5 * std::cos(angle), dy = 5 * std::sin(angle);
        spokes.moveTo(6 - dx, 6 - dy);
        spokes.lineTo(6 + dx, 6 + dy);
    }
    return fitted(stroked(spokes, 2.2), design, box);
}

QPainterPath cross(const QRectF &box, double thickness) {
    QPainterPath lines;
    lines.moveTo(box.topLeft());
    lines.lineTo(box.bottomRight());
    lines.moveTo(box.topRight());
    lines.lineTo(box.bottomLeft());
    return stroked(lines, thickness);
}

QPainterPath soundWaves(const QRectF &box, int count, double thickness) {
    // Concentric arcs opening to the right, from the box's left edge.
    QPainterPath waves;
    const QPointF origin{box.left(), box.center().y()};
    const double step = box.width() / count;
    for (int i = 1; i <= count; ++i) {
        const double r = step * i - thickness / 2;
        const QRectF bounds(origin.x() - r, origin.y() - r, 2 * r, 2 * r);
        QPainterPath arc;
        arc.arcMoveTo(bounds, -50);
        arc.arcTo(bounds, -50, 100);
        waves = waves.united(stroked(arc, thickness));
    }
    return waves;
}

} // namespace art::glyphs
