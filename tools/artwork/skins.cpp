#include "skins.h"

#include "drawing.h"
#include "glyphs.h"
#include "layout.h"
#include "palette.h"
#include "raster.h"

#include <QPainter>
#include <QTransform>

#include <cmath>
#include <vector>

namespace art {

namespace {

namespace lm = layout::mainWindow;

// ---------------------------------------------------------------------------------------------
// A skin being painted: the body shape lit along its rim, elements laid over it, and at the end
// the hard cut to the key colour.

class SkinCanvas {
public:
    SkinCanvas(const Mask &shape, const Shader &body, const Bevel &bevel)
        : m_shape(shape), m_inside(hardCutOf(shape)) {
        const Palette &pal = palette();
        QImage lit = relief(shape, body, bevel, pal.bodyHighlight, pal.bodyShadow)
                         .convertToFormat(QImage::Format_ARGB32);
        // Inside the cut every pixel shows the body's own colour, never a blend with the key.
        for (int y = 0; y < lit.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(lit.scanLine(y));
            for (int x = 0; x < lit.width(); ++x)
                line[x] = isInside(x, y) ? (line[x] | 0xff000000u) : pal.transparentKey.rgb();
        }
        darkenPartialOutline(lit, shape, pal.bodyOutline, kOutlineStrength);
        m_image = lit.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }

    QImage &image() { return m_image; }
    bool isInside(int x, int y) const {
        return m_inside[std::size_t(y) * m_shape.pictureSize().width() + x];
    }

    void addRelief(const QPainterPath &path, const Shader &fill, const Bevel &bevel) {
        addRelief(Mask::fromPath(m_image.size(), path), fill, bevel);
    }
    void addRelief(const Mask &mask, const Shader &fill, const Bevel &bevel) {
        const Palette &pal = palette();
        QPainter painter(&m_image);
        painter.drawImage(0, 0, relief(mask, fill, bevel, pal.bodyHighlight, pal.bodyShadow));
    }

    QImage finish() const {
        QImage out = m_image.convertToFormat(QImage::Format_RGB32);
        applyHardCut(out, m_inside, palette().transparentKey);
        return out;
    }

private:
    static constexpr double kOutlineStrength = 0.85;
    Mask m_shape;
    std::vector<bool> m_inside;
    QImage m_image;
};

Shader flat(const QColor &colour) {
    const Rgb rgb = toRgb(colour);
    return [rgb](double, double) { return rgb; };
}

Shader vertical(const QColor &top, const QColor &bottom, double from, double to) {
    return [=](double, double y) { return verticalBlend({top, bottom}, from, to, y); };
}

// Recesses share one look: a soft rim, deeper at the top left where the edge casts its shade.
Bevel recess(double width, double occlusion = 0.3) {
    Bevel b;
    b.width = width;
    b.steepness = 1.4;
    b.raised = false;
    b.highlight = 0.45;
    b.shadow = 0.75;
    b.occlusion = occlusion;
    return b;
}

Bevel raisedRim(double width) {
    Bevel b;
    b.width = width;
    b.steepness = 1.7;
    b.raised = true;
    b.highlight = 0.6;
    b.shadow = 0.65;
    return b;
}

QRectF grown(const QRect &r, double by) {
    return QRectF(r).adjusted(-by, -by, by, by);
}

// ---------------------------------------------------------------------------------------------
// Main window: the telephone body.

constexpr double kCentreX = 147; // the body is symmetric about this column (bar the ear)
constexpr double kTop = 5;
constexpr double kBottom = 385;
constexpr double kHeadSide = 18;  // left edge beside the display
constexpr double kWaistSide = 29; // left edge at the narrowest, beside the function keys
constexpr double kBaseSide = 12;  // left edge beside the call key and the keypad
constexpr QPointF kEarCentre{268.5, 21.5};
constexpr double kEarRadius = 20.5;
constexpr double kEarFillet = 14;
constexpr double kBodyBevel = 7;
constexpr double kBodyRimHighlight = 0.95;

QPainterPath mainBodyHalf() {
    // The left half, closed just past the middle; the right half is its mirror image.
    QPainterPath p;
    p.moveTo(kCentreX + 1, kTop);
    p.lineTo(kCentreX, kTop);
    p.cubicTo(80, kTop, kHeadSide, 10, kHeadSide, 46);
    p.lineTo(kHeadSide, 128);
    p.cubicTo(kHeadSide, 160, kWaistSide, 164, kWaistSide, 188);
    p.cubicTo(kWaistSide, 212, kBaseSide, 216, kBaseSide, 244);
    p.lineTo(kBaseSide, 336);
    p.cubicTo(kBaseSide, 372, 32, kBottom, 72, kBottom);
    p.lineTo(kCentreX + 1, kBottom);
    p.closeSubpath();
    return p;
}

Mask mainShape() {
    const QPainterPath left = mainBodyHalf();
    const QTransform mirror(-1, 0, 0, 1, 2 * kCentreX, 0);
    Mask shape = Mask::fromPath(lm::size, left);
    shape.unite(Mask::fromPath(lm::size, mirror.map(left)));
    QPainterPath ear;
    ear.addEllipse(kEarCentre, kEarRadius, kEarRadius);
    shape.unite(Mask::fromPath(lm::size, ear));
    shape.roundInnerCorners(kEarFillet);
    return shape;
}

Rgb mainBodyShade(double x, double y) {
    const Palette &pal = palette();
    Rgb c = verticalBlend({pal.bodyTop, pal.bodyMiddle, pal.bodyBottom}, kTop, kBottom, y);
    // A broad barrel: the sides turn away from the light, the right more than the left.
    const double u = (x - kCentreX) / (kCentreX - kBaseSide);
    const double turn = 0.16 * u * u + 0.05 * u;
    c = mix(c, toRgb(pal.bodyShadow), std::clamp(turn, 0.0, 1.0));
    // A soft sheen high on the left, where the light falls first.
    const double dx = (x - 95) / 120, dy = (y - 60) / 110;
    const double sheen = 0.10 * std::exp(-(dx * dx + dy * dy));
    return mix(c, toRgb(pal.bodyHighlight), sheen);
}

void drawEarDish(SkinCanvas &skin) {
    constexpr double kDishRadius = 17.6;
    const Palette &pal = palette();
    QPainterPath dish;
    dish.addEllipse(kEarCentre, kDishRadius, kDishRadius);
    skin.addRelief(dish,
                   vertical(pal.wellTop, pal.bodyMiddle, kEarCentre.y() - kDishRadius,
                            kEarCentre.y() + kDishRadius),
                   recess(3.0, 0.25));
}

void drawLogoPlate(SkinCanvas &skin) {
    const Palette &pal = palette();
    const QRectF plate = grown(lm::logo, 3);
    skin.addRelief(roundedRectPath(plate, 9),
                   vertical(pal.bezelTop, pal.wellBottom, plate.top(), plate.bottom()),
                   recess(3.0, 0.3));
}

// One perforation: a dark hole whose lower edge catches the light.
void drawHole(QPainter &painter, const QPointF &at, double radius) {
    const Palette &pal = palette();
    constexpr QPointF kLitEdge{0.3, 0.6};
    painter.setBrush(mixColor(pal.engraveLight, pal.bodyMiddle, 0.3));
    painter.drawEllipse(at + kLitEdge, radius, radius);
    painter.setBrush(pal.engraveDark);
    painter.drawEllipse(at, radius, radius);
}

// Perforations in a round hexagonal cluster.
void drawPerforations(SkinCanvas &skin, const QPointF &centre, double reach, double pitch,
                      double dot) {
    QPainter painter(&skin.image());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const double rowPitch = pitch * std::sqrt(3.0) / 2;
    const int rows = int(reach / rowPitch);
    const int columns = int(reach / pitch) + 1;
    for (int row = -rows; row <= rows; ++row) {
        const double y = centre.y() + row * rowPitch;
        const double shift = (row % 2 != 0) ? pitch / 2 : 0;
        for (int column = -columns; column <= columns; ++column) {
            const double x = centre.x() + column * pitch + shift;
            if (std::hypot(x - centre.x(), y - centre.y()) <= reach)
                drawHole(painter, QPointF(x, y), dot);
        }
    }
}

void drawEarpiece(SkinCanvas &skin) {
    // The earpiece holes, left of the logo, balancing the ear on the right.
    constexpr QPointF kCentre{53, 34.5};
    constexpr double kReach = 15, kPitch = 5.2, kDot = 1.35;
    drawPerforations(skin, kCentre, kReach, kPitch, kDot);
}

// The display: a dark bezel, the pale glass inside it, and the darker strip that carries the
// speaker and microphone marks and the volume panel. The glass and the strip are the exact flat
// colours of the controls laid on them, at least two pixels in from their rims.
constexpr QRectF kDisplayBezel{28, 57, 214, 89};
constexpr double kBezelWidth = 4;
constexpr QRectF kVolumeStrip{34, 100, 153, 39};

void drawDisplay(SkinCanvas &skin) {
    const Palette &pal = palette();
    const QRectF glass =
        kDisplayBezel.adjusted(kBezelWidth, kBezelWidth, -kBezelWidth, -kBezelWidth);
    skin.addRelief(
        roundedRectPath(kDisplayBezel, 10),
        vertical(pal.bezelTop, pal.bezelBottom, kDisplayBezel.top(), kDisplayBezel.bottom()),
        recess(3.5, 0.35));
    skin.addRelief(roundedRectPath(glass, 6), flat(pal.lcd), recess(2.2, 0.3));

    skin.addRelief(roundedRectPath(kVolumeStrip, 4), flat(pal.volumePanel), recess(1.6, 0.25));
    Mask grooves = Mask::fromPath(lm::size, roundedRectPath(grown(lm::volumeTrack0, 1), 2.5));
    grooves.unite(Mask::fromPath(lm::size, roundedRectPath(grown(lm::volumeTrack1, 1), 2.5)));
    skin.addRelief(grooves, flat(pal.trackGroove), recess(1.2, 0.2));
}

void drawGrille(SkinCanvas &skin) {
    // Loudspeaker perforations between the display and the function keys: three staggered rows,
    // the outer two a hole shorter at each end.
    constexpr int kRows = 3;
    constexpr double kTopRow = 153.5, kRowPitch = 5, kPitch = 6, kHalfWidth = 45, kDot = 1.5;
    QPainter painter(&skin.image());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int row = 0; row < kRows; ++row) {
        const double y = kTopRow + row * kRowPitch;
        const bool middle = row == kRows / 2;
        const double reach = middle ? kHalfWidth : kHalfWidth - kPitch / 2;
        for (double x = kCentreX - reach; x <= kCentreX + reach + 0.01; x += kPitch)
            drawHole(painter, QPointF(x, y), kDot);
    }
}

void drawFunctionRow(SkinCanvas &skin) {
    const Palette &pal = palette();
    struct Slot {
        QRect key;
        const char *caption;
    };
    const Slot keys[] = {{lm::recentKey, "RECENT"},
                         {lm::phoneBookKey, "CONTACTS"},
                         {lm::tuneKey, "AUDIO"},
                         {lm::loginKey, "LOGIN"}};
    Mask sockets(lm::size);
    for (const Slot &slot : keys)
        sockets.unite(Mask::fromPath(lm::size, roundedRectPath(grown(slot.key, 2), 7)));
    skin.addRelief(sockets, vertical(pal.wellTop, pal.wellBottom, 174, 202), recess(2.2, 0.3));

    constexpr double kCaptionTop = 202.5, kCaptionHeight = 11, kCaptionWidth = 60;
    QPainter painter(&skin.image());
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QFont font = uiFont(8, QFont::Bold, true);
    for (const Slot &slot : keys) {
        const QRectF box(slot.key.center().x() + 0.5 - kCaptionWidth / 2, kCaptionTop,
                         kCaptionWidth, kCaptionHeight);
        drawRaisedText(painter, box, Qt::AlignHCenter | Qt::AlignTop,
                       QString::fromLatin1(slot.caption), font, pal.captionInk, pal.engraveDark);
    }
}

// The dial keys sit in one well; the call and end keys each in a socket of their own.
constexpr QRectF kKeypadWell{67, 223, 161, 122};

void drawKeypadWells(SkinCanvas &skin) {
    const Palette &pal = palette();
    skin.addRelief(roundedRectPath(kKeypadWell, 10),
                   vertical(pal.wellTop, pal.wellBottom, kKeypadWell.top(), kKeypadWell.bottom()),
                   recess(3.0, 0.3));
    Mask handsets(lm::size);
    handsets.unite(Mask::fromPath(lm::size, roundedRectPath(grown(lm::callKey, 3), 14)));
    handsets.unite(Mask::fromPath(lm::size, roundedRectPath(grown(lm::endKey, 3), 14)));
    skin.addRelief(handsets, vertical(pal.wellTop, pal.wellBottom, 229, 288), recess(3.0, 0.3));
}

void drawBase(SkinCanvas &skin) {
    const Palette &pal = palette();
    constexpr double kSeamY = 352.5, kSeamInset = 26;
    QPainter painter(&skin.image());
    painter.setRenderHint(QPainter::Antialiasing);
    // The seam between the face plate and the base, fading out toward the sides.
    auto seamPen = [&](const QColor &colour) {
        QLinearGradient g(kBaseSide + kSeamInset, 0, lm::size.width() - kBaseSide - kSeamInset, 0);
        QColor clear = colour;
        clear.setAlpha(0);
        g.setColorAt(0, clear);
        g.setColorAt(0.15, colour);
        g.setColorAt(0.85, colour);
        g.setColorAt(1, clear);
        return QPen(QBrush(g), 1);
    };
    const double left = kBaseSide + kSeamInset, right = lm::size.width() - kBaseSide - kSeamInset;
    painter.setPen(seamPen(pal.engraveDark));
    painter.drawLine(QPointF(left, kSeamY), QPointF(right, kSeamY));
    painter.setPen(seamPen(mixColor(pal.engraveLight, pal.bodyBottom, 0.35)));
    painter.drawLine(QPointF(left, kSeamY + 1), QPointF(right, kSeamY + 1));

    const QRectF mark(kCentreX - 60, 358, 120, 20);
    drawEngravedText(painter, mark, Qt::AlignCenter, QStringLiteral("Kirrow"),
                     uiFont(15, QFont::Bold, false, 2.0),
                     mixColor(pal.engraveDark, pal.bodyBottom, 0.15),
                     mixColor(pal.engraveLight, pal.bodyBottom, 0.45));
}

// ---------------------------------------------------------------------------------------------
// Dialog cards.

struct Card {
    QSize size;
    QRectF outline;
    double radius;
    QRectF panel;
    QColor panelTop;
    QColor panelBottom;
};

constexpr double kCardBevel = 5;
constexpr double kCardRadius = 14;
constexpr double kPanelRadius = 7;

// Each dialog is a card with a pale panel inside it; the cards end below their last control, and
// the rest of the picture is cut away.
constexpr QRectF kLoginCard{1, 1, 214, 178};
constexpr QRectF kLoginPanel{9, 27, 198, 110};
constexpr QRectF kRecentCard{1, 1, 214, 198};
constexpr QRectF kRecentPanel{10, 27, 196, 123};
constexpr QRectF kPhoneBookCard{1, 1, 277, 274};
constexpr QRectF kPhoneBookPanel{10, 27, 259, 239};
// A contact emblem beside the name and number fields of the phone book.
constexpr QRectF kPhoneBookEmblem{214, 122, 44, 54};
// The note on the right of a title keeps clear of the card's rounded corner.
constexpr double kTitleRightMargin = 14;

SkinCanvas cardCanvas(const Card &card) {
    const Palette &pal = palette();
    const Mask shape = Mask::fromPath(card.size, roundedRectPath(card.outline, card.radius));
    const double top = card.outline.top(), bottom = card.outline.bottom();
    SkinCanvas skin(
        shape,
        [=, &pal](double, double y) {
            return verticalBlend({pal.bodyTop, pal.bodyMiddle, pal.bodyBottom}, top, bottom, y);
        },
        raisedRim(kCardBevel));
    skin.addRelief(roundedRectPath(card.panel, kPanelRadius),
                   vertical(card.panelTop, card.panelBottom, card.panel.top(), card.panel.bottom()),
                   recess(2.5, 0.35));
    return skin;
}

// The title on the card's upper rim: a small symbol, the title, and an optional note at the
// right.
void drawCardTitle(SkinCanvas &skin, const QPainterPath &symbol, const QString &title,
                   const QString &note, double right) {
    const Palette &pal = palette();
    constexpr double kTop = 6, kHeight = 17, kTextLeft = 32;
    QPainter painter(&skin.image());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(symbol.translated(0, 0.8), pal.bodyShadow);
    painter.fillPath(symbol, pal.cardSubtitle);
    drawRaisedText(painter, QRectF(kTextLeft, kTop, 150, kHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   title, uiFont(13, QFont::Bold, false, 0.5), pal.cardTitle, pal.bodyShadow);
    if (!note.isEmpty())
        drawRaisedText(painter, QRectF(right - 100, kTop + 1, 100, kHeight),
                       Qt::AlignRight | Qt::AlignVCenter, note, uiFont(11), pal.cardSubtitle,
                       pal.bodyShadow);
}

// Where the title symbol goes, left of the title.
constexpr QRectF kTitleSymbol{12, 6.5, 15, 15};

// A socket for a control the program draws: a narrow recessed groove just outside its frame.
void addSockets(SkinCanvas &skin, const std::vector<QRect> &controls, double margin, double radius,
                const QColor &fill) {
    Mask sockets(skin.image().size());
    for (const QRect &r : controls)
        sockets.unite(
            Mask::fromPath(skin.image().size(), roundedRectPath(grown(r, margin), radius)));
    skin.addRelief(sockets, flat(fill), recess(std::min(margin, 2.0), 0.3));
}

void drawPersonEmblem(SkinCanvas &skin, const QRectF &frame) {
    const Palette &pal = palette();
    skin.addRelief(roundedRectPath(frame, 8),
                   vertical(pal.cardPanelBottom, pal.cardPanelTop, frame.top(), frame.bottom()),
                   recess(2.5, 0.25));
    QPainter painter(&skin.image());
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF inner = frame.adjusted(8, 8, -8, -8);
    const QPointF head(inner.center().x(), inner.top() + inner.height() * 0.32);
    const double headRadius = inner.width() * 0.2;
    QPainterPath person;
    person.addEllipse(head, headRadius, headRadius);
    QPainterPath shoulders;
    shoulders.addEllipse(QRectF(inner.left() + inner.width() * 0.12,
                                inner.top() + inner.height() * 0.6, inner.width() * 0.76,
                                inner.height() * 0.75));
    QPainterPath clip;
    clip.addRect(inner);
    person = person.united(shoulders.intersected(clip));
    painter.fillPath(person, mixColor(pal.volumePanel, pal.cardPanelTop, 0.25));
}

} // namespace

QImage drawMainSkin() {
    Bevel rim = raisedRim(kBodyBevel);
    rim.highlight = kBodyRimHighlight;
    SkinCanvas skin(mainShape(), mainBodyShade, rim);
    drawEarDish(skin);
    drawLogoPlate(skin);
    drawEarpiece(skin);
    drawDisplay(skin);
    drawGrille(skin);
    drawFunctionRow(skin);
    drawKeypadWells(skin);
    drawBase(skin);
    return skin.finish();
}

QImage drawLoginSkin() {
    namespace ll = layout::login;
    const Palette &pal = palette();
    // The program draws the field labels on white, so this panel is white.
    const Card card{ll::size, kLoginCard, kCardRadius, kLoginPanel, pal.cardWhite, pal.cardWhite};
    SkinCanvas skin = cardCanvas(card);
    drawCardTitle(skin, glyphs::handset(kTitleSymbol), QStringLiteral("Kirrow"),
                  QStringLiteral("Sign in"), card.outline.right() - kTitleRightMargin);
    addSockets(skin, {ll::fields.begin(), ll::fields.end()}, 1.5, 3,
               mixColor(pal.cardWhite, pal.lcdShade, 0.5));
    addSockets(skin, {ll::loginButton, ll::exitButton}, 2.5, 6, pal.wellTop);
    return skin.finish();
}

QImage drawRecentSkin() {
    namespace lr = layout::recent;
    const Palette &pal = palette();
    const Card card{lr::size,     kRecentCard,      kCardRadius,
                    kRecentPanel, pal.cardPanelTop, pal.cardPanelBottom};
    SkinCanvas skin = cardCanvas(card);
    drawCardTitle(skin, glyphs::clock(kTitleSymbol), QStringLiteral("Recent calls"), QString(),
                  card.outline.right() - kTitleRightMargin);
    addSockets(skin, {lr::list}, 2, 4, mixColor(pal.cardPanelBottom, pal.lcdShade, 0.6));
    addSockets(skin, {lr::closeButton}, 2.5, 7, pal.wellTop);
    return skin.finish();
}

QImage drawPhoneBookSkin() {
    namespace lp = layout::phoneBook;
    const Palette &pal = palette();
    const Card card{lp::size,        kPhoneBookCard,   kCardRadius,
                    kPhoneBookPanel, pal.cardPanelTop, pal.cardPanelBottom};
    SkinCanvas skin = cardCanvas(card);
    drawCardTitle(skin, glyphs::addressBook(kTitleSymbol), QStringLiteral("Phone Book"), QString(),
                  card.outline.right() - kTitleRightMargin);
    addSockets(skin, {lp::list}, 2, 4, mixColor(pal.cardPanelBottom, pal.lcdShade, 0.6));
    addSockets(skin, {lp::nameField, lp::numberField}, 1.5, 3,
               mixColor(pal.cardPanelBottom, pal.lcdShade, 0.5));
    addSockets(skin, {lp::addButton, lp::callButton, lp::deleteButton, lp::editButton}, 2, 6,
               mixColor(pal.cardPanelBottom, pal.lcdShade, 0.7));
    drawPersonEmblem(skin, kPhoneBookEmblem);
    return skin.finish();
}

} // namespace art
