#include "icons.h"

#include "drawing.h"
#include "glyphs.h"
#include "layout.h"
#include "palette.h"
#include "raster.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace art {

namespace {

namespace lm = layout::mainWindow;

constexpr QSize kKnobSize{10, 9};
constexpr QSize kVolumeIconSize{17, 17};
constexpr QSize kWindowIconSize{24, 24};
constexpr QSize kTraySize{25, 33};

QImage transparentCanvas(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Fills `face` with the body's teal gradient, lit along the top edge; for the window icon and
// the tray picture, which stand on the desktop rather than on the skin.
void paintTealBadge(QPainter &p, const QPainterPath &face) {
    const Palette &pal = palette();
    const QRectF r = face.boundingRect();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(r.topLeft(), r.bottomLeft());
    body.setColorAt(0, pal.bodyTop.lighter(118));
    body.setColorAt(0.55, pal.bodyMiddle);
    body.setColorAt(1, pal.bodyBottom);
    p.fillPath(face, body);
    p.save();
    p.setClipPath(face);
    QLinearGradient sheen(r.topLeft(), QPointF(r.left(), r.top() + r.height() * 0.5));
    sheen.setColorAt(0, QColor(255, 255, 255, 90));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(r, sheen);
    p.restore();
    p.setPen(QPen(pal.bodyOutline, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(face);
}

QImage drawLogo(const QImage &skin) {
    const Palette &pal = palette();
    QImage image = cropOf(skin, lm::logo);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The mark: a lit round badge with a handset and the waves of a voice beside it.
    constexpr QRectF kBadge{4.5, 5.5, 26, 26};
    QPainterPath badge;
    badge.addEllipse(kBadge);
    drawSoftShape(p, badge, QColor(0, 0, 0, 110), 1, QPointF(0, 1));
    QRadialGradient fill(kBadge.center() - QPointF(4, 6), kBadge.width() * 0.75);
    fill.setColorAt(0, pal.funcTop.lighter(125));
    fill.setColorAt(1, pal.volumePanel);
    p.fillPath(badge, fill);
    p.setPen(QPen(pal.bodyOutline, 1));
    p.drawPath(badge);
    const QRectF handsetBox(kBadge.left() + 3.5, kBadge.top() + 7.5, 14, 14);
    p.fillPath(glyphs::handset(handsetBox).translated(0, 0.7), QColor(0, 0, 0, 80));
    p.fillPath(glyphs::handset(handsetBox), pal.symbolWhite);
    // The voice leaves the earpiece toward the upper right.
    QTransform towardEar;
    towardEar.translate(kBadge.left() + 13.5, kBadge.top() + 12.5);
    towardEar.rotate(-45);
    p.fillPath(towardEar.map(glyphs::soundWaves(QRectF(0, -5.5, 7.5, 11), 2, 1.7)), pal.glow);

    // The word, as large as fits beside the mark.
    constexpr double kTextLeft = 35, kTextRight = 103;
    QFont font = uiFont(22, QFont::Bold, false, -0.3);
    while (QFontMetricsF(font).horizontalAdvance(QStringLiteral("Kirrow")) > kTextRight - kTextLeft)
        font.setPixelSize(font.pixelSize() - 1);
    const QRectF word(kTextLeft, 0, kTextRight - kTextLeft, lm::logo.height() - 1);
    drawRaisedText(p, word, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kirrow"), font,
                   pal.cardTitle, QColor(0, 0, 0, 150));
    return image;
}

QImage drawKnob() {
    const Palette &pal = palette();
    QImage image = transparentCanvas(kKnobSize);
    QPainter p(&image);
    const QRectF face(0, 0, kKnobSize.width(), kKnobSize.height());
    QLinearGradient metal(face.topLeft(), face.bottomLeft());
    metal.setColorAt(0, QColor(246, 250, 252));
    metal.setColorAt(0.5, QColor(204, 218, 226));
    metal.setColorAt(1, QColor(140, 162, 174));
    p.fillRect(face, metal);
    p.setPen(QPen(QColor(255, 255, 255), 1));
    p.drawLine(0, 0, kKnobSize.width() - 1, 0);
    p.drawLine(0, 0, 0, kKnobSize.height() - 1);
    p.setPen(QPen(pal.funcEdge, 1));
    p.drawLine(0, kKnobSize.height() - 1, kKnobSize.width() - 1, kKnobSize.height() - 1);
    p.drawLine(kKnobSize.width() - 1, 0, kKnobSize.width() - 1, kKnobSize.height() - 1);
    // Grip ridges in the middle of the knob.
    for (int x : {3, 5}) {
        p.setPen(QColor(96, 120, 134));
        p.drawLine(x, 2, x, kKnobSize.height() - 3);
        p.setPen(QColor(255, 255, 255));
        p.drawLine(x + 1, 2, x + 1, kKnobSize.height() - 3);
    }
    return image;
}

// A pale symbol on the flat colour of the panel under it (the program stretches these, so the
// background must be flat to stay seamless).
QImage drawPanelSymbol(QSize size, const QColor &background, const QPainterPath &symbol,
                       const QColor &ink, const QColor &shadow) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(symbol.translated(0, 0.8), shadow);
    p.fillPath(symbol, ink);
    return image;
}

QImage drawStatusMark() {
    const Palette &pal = palette();
    QImage image(lm::statusIcon.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(pal.lcd);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath bars = glyphs::signalBars(QRectF(0.5, 0.5, 14, 10));
    QLinearGradient ink(0, 0, lm::statusIcon.width(), 0);
    ink.setColorAt(0, mixColor(pal.lcdInk, pal.lcd, 0.35));
    ink.setColorAt(1, pal.lcdInk);
    p.fillPath(bars.translated(0, 0.7), QColor(255, 255, 255, 120));
    p.fillPath(bars, ink);
    return image;
}

// Drawn on the 24-pixel grid and scaled, so the desktop's sizes are the same picture.
QImage drawWindowIcon(int size = kWindowIconSize.width()) {
    const Palette &pal = palette();
    QImage image = transparentCanvas(QSize(size, size));
    QPainter p(&image);
    p.scale(double(size) / kWindowIconSize.width(), double(size) / kWindowIconSize.height());
    const QPainterPath face = roundedRectPath(QRectF(1.5, 1.5, 21, 21), 5.5);
    paintTealBadge(p, face);
    const QPainterPath handset = glyphs::handset(QRectF(4, 4, 16, 16));
    p.fillPath(handset.translated(0, 0.8), QColor(0, 0, 0, 90));
    p.fillPath(handset, pal.symbolWhite);
    return image;
}

QImage drawTrayPicture() {
    const Palette &pal = palette();
    QImage image = transparentCanvas(kTraySize);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A little upright telephone: body, lit display, three rows of keys and a green call key.
    const QPainterPath body = roundedRectPath(QRectF(2.5, 0.5, 20, 32), 6);
    paintTealBadge(p, body);
    const QRectF display(5.5, 4.5, 14, 7);
    p.setPen(QPen(pal.bezelTop, 1));
    p.setBrush(pal.lcd);
    p.drawRoundedRect(display, 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(pal.keyTop);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            p.drawRoundedRect(QRectF(6 + column * 4.8, 14.5 + row * 4, 3.4, 2.6), 0.8, 0.8);
    p.setBrush(pal.callTop);
    p.drawRoundedRect(QRectF(6, 27, 5, 2.6), 1, 1);
    p.setBrush(pal.endTop);
    p.drawRoundedRect(QRectF(14, 27, 5, 2.6), 1, 1);
    return image;
}

// The same telephone while a call rings: lit amber all over, a handset with the ring's waves on
// either side, so the icon stands out in the tray at a glance.
QImage drawTrayRingingPicture() {
    const Palette &pal = palette();
    QImage image = transparentCanvas(kTraySize);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath body = roundedRectPath(QRectF(2.5, 0.5, 20, 32), 6);
    QLinearGradient lit(0, 0, 0, kTraySize.height());
    lit.setColorAt(0, pal.funcLitTop);
    lit.setColorAt(1, pal.funcLitBottom);
    p.fillPath(body, lit);
    p.setPen(QPen(pal.litEdge, 1));
    p.drawPath(body);
    const QRectF handsetBox(7.5, 10, 10, 10);
    p.fillPath(glyphs::handset(handsetBox).translated(0, 0.8), QColor(0, 0, 0, 90));
    p.fillPath(glyphs::handset(handsetBox), pal.symbolWhite);
    // The ring's waves leave the telephone on both sides.
    for (const double side : {-1.0, 1.0}) {
        QTransform outward;
        outward.translate(12.5 + side * 5.5, 15);
        outward.scale(side, 1);
        p.fillPath(outward.map(glyphs::soundWaves(QRectF(0, -6, 4.5, 12), 2, 1.3)), pal.litDigit);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(pal.callTop);
    p.drawRoundedRect(QRectF(6, 26.5, 13, 3), 1.2, 1.2);
    return image;
}

} // namespace

std::vector<NamedPicture> drawIcons(const QImage &mainSkin) {
    const Palette &pal = palette();
    const QColor onPanel(226, 242, 248);
    const QColor panelShadow = mixColor(pal.volumePanel, pal.bodyShadow, 0.55);
    return {
        {QStringLiteral("logo"), drawLogo(mainSkin)},
        {QStringLiteral("knob"), drawKnob()},
        {QStringLiteral("speaker"),
         drawPanelSymbol(kVolumeIconSize, pal.volumePanel,
                         glyphs::speaker(QRectF(1.5, 1.5, 14, 14)), onPanel, panelShadow)},
        {QStringLiteral("microphone"),
         drawPanelSymbol(kVolumeIconSize, pal.volumePanel,
                         glyphs::microphone(QRectF(1.5, 1.5, 14, 14)), onPanel, panelShadow)},
        {QStringLiteral("status"), drawStatusMark()},
        {QStringLiteral("kirrow"), drawWindowIcon()},
        {QStringLiteral("tray"), drawTrayPicture()},
        {QStringLiteral("tray-ringing"), drawTrayRingingPicture()},
    };
}

std::vector<NamedPicture> drawDesktopIcons() {
    std::vector<NamedPicture> icons;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icons.push_back({QStringLiteral("%1x%1").arg(size), drawWindowIcon(size)});
    return icons;
}

} // namespace art
