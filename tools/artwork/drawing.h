// Painting helpers shared by the skins, keys and icons: fonts, engraved and embossed lettering,
// soft shadows and glows.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>

namespace art {

// Registers the DejaVu faces from the system font folder so every run draws with the same
// letters, whatever the font configuration of the machine.
void loadFonts();

// DejaVu Sans at an exact pixel size; condensed when asked.
QFont uiFont(int pixelSize, QFont::Weight weight = QFont::Normal, bool condensed = false,
             double letterSpacing = 0);

// Text cut into a surface: dark letters with a light edge below them.
void drawEngravedText(QPainter &painter, const QRectF &box, int flags, const QString &text,
                      const QFont &font, const QColor &ink, const QColor &lightEdge);
// Text standing on a surface: light letters with a soft dark shadow below them.
void drawRaisedText(QPainter &painter, const QRectF &box, int flags, const QString &text,
                    const QFont &font, const QColor &ink, const QColor &shadow);

QPainterPath roundedRectPath(const QRectF &rect, double radius);

// A blurred copy of the shape in one colour, drawn under the painter's current transform:
// drop shadows below keys and the glow around lit ones.
void drawSoftShape(QPainter &painter, const QPainterPath &shape, const QColor &colour,
                   int blurRadius, const QPointF &offset = {});

// A piece of a picture, as a new ARGB picture (the background of a key baked from its skin).
QImage cropOf(const QImage &picture, const QRect &rect);

} // namespace art
