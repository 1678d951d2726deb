#include "drawing.h"

#include "raster.h"

#include <QDir>
#include <QFontDatabase>

#include <cmath>

namespace art {

namespace {
constexpr const char *kFontFolder = "/usr/share/fonts/truetype/dejavu";
constexpr const char *kFamily = "DejaVu Sans";
constexpr const char *kCondensedFamily = "DejaVu Sans Condensed";
} // namespace

void loadFonts() {
    const QDir folder(QString::fromLatin1(kFontFolder));
    const QStringList faces = folder.entryList({QStringLiteral("DejaVuSans*.ttf")}, QDir::Files);
    for (const QString &face : faces)
        QFontDatabase::addApplicationFont(folder.filePath(face));
}

QFont uiFont(int pixelSize, QFont::Weight weight, bool condensed, double letterSpacing) {
    QFont font(QString::fromLatin1(condensed ? kCondensedFamily : kFamily));
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    if (letterSpacing != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    return font;
}

void drawEngravedText(QPainter &painter, const QRectF &box, int flags, const QString &text,
                      const QFont &font, const QColor &ink, const QColor &lightEdge) {
    painter.save();
    painter.setFont(font);
    painter.setPen(lightEdge);
    painter.drawText(box.translated(0, 1), flags, text);
    painter.setPen(ink);
    painter.drawText(box, flags, text);
    painter.restore();
}

void drawRaisedText(QPainter &painter, const QRectF &box, int flags, const QString &text,
                    const QFont &font, const QColor &ink, const QColor &shadow) {
    painter.save();
    painter.setFont(font);
    painter.setPen(shadow);
    painter.drawText(box.translated(0, 1), flags, text);
    painter.setPen(ink);
    painter.drawText(box, flags, text);
    painter.restore();
}

QPainterPath roundedRectPath(const QRectF &rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void drawSoftShape(QPainter &painter, const QPainterPath &shape, const QColor &colour,
                   int blurRadius, const QPointF &offset) {
    const int margin = 3 * blurRadius + 2;
    const QRect area = shape.boundingRect().translated(offset).toAlignedRect().adjusted(
        -margin, -margin, margin, margin);
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(-area.topLeft() + offset);
        p.fillPath(shape, colour);
    }
    painter.drawImage(area.topLeft(), blurred(layer, blurRadius));
}

QImage cropOf(const QImage &picture, const QRect &rect) {
    QImage piece(rect.size(), QImage::Format_ARGB32_Premultiplied);
    piece.fill(Qt::transparent);
    QPainter p(&piece);
    p.drawImage(QPoint(0, 0), picture.convertToFormat(QImage::Format_ARGB32_Premultiplied), rect);
    return piece;
}

} // namespace art
