#include "keys.h"

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

struct KeyLook {
    QColor top;
    QColor bottom;
    QColor edge;
    bool lit = false;
};

constexpr int kShadowAlpha = 110;
constexpr int kGlowAlpha = 235;
constexpr int kGlowRadius = 2;
constexpr int kGlossTopAlpha = 165;
constexpr int kGlossBottomAlpha = 18;
constexpr double kGlossShare = 0.52; // part of the cap the gloss covers, from the top

// A glossy cap: soft shadow below, a warm glow around it when lit, a vertical gradient, a
// sheen on its upper half and a fine dark edge.
void paintCap(QPainter &p, const QPainterPath &face, const KeyLook &look) {
    const Palette &pal = palette();
    const QRectF r = face.boundingRect();
    p.setRenderHint(QPainter::Antialiasing);
    drawSoftShape(p, face, QColor(0, 0, 0, kShadowAlpha), 1, QPointF(0, 1.2));
    if (look.lit) {
        QColor glow = pal.glow;
        glow.setAlpha(kGlowAlpha);
        drawSoftShape(p, face, glow, kGlowRadius);
    }

    QLinearGradient body(r.topLeft(), r.bottomLeft());
    body.setColorAt(0, look.top);
    body.setColorAt(1, look.bottom);
    p.fillPath(face, body);

    p.save();
    p.setClipPath(face);
    // Light bouncing back from the surface under the key, along its lower edge.
    QLinearGradient bounce(r.left(), r.bottom() - 4, r.left(), r.bottom());
    bounce.setColorAt(0, QColor(255, 255, 255, 0));
    bounce.setColorAt(1, QColor(255, 255, 255, 60));
    p.fillRect(r, bounce);
    // The sheen on the upper half.
    const QRectF glossBox(r.left() + 1, r.top() + 0.8, r.width() - 2, r.height() * kGlossShare);
    QLinearGradient gloss(glossBox.topLeft(), glossBox.bottomLeft());
    gloss.setColorAt(0, QColor(255, 255, 255, kGlossTopAlpha));
    gloss.setColorAt(1, QColor(255, 255, 255, kGlossBottomAlpha));
    const double glossRadius = std::min(glossBox.height(), glossBox.width()) * 0.45;
    p.fillPath(roundedRectPath(glossBox, glossRadius), gloss);
    p.restore();

    p.setPen(QPen(look.edge, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(face);
}

// Every key starts as the piece of skin it covers, so its corners match the skin exactly.
QImage canvasOn(const QImage &skin, const QRect &where) {
    return cropOf(skin, where);
}

void drawSymbol(QPainter &p, const QPainterPath &symbol, const QColor &ink, const QColor &shadow) {
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(symbol.translated(0, 0.8), shadow);
    p.fillPath(symbol, ink);
}

// ---------------------------------------------------------------------------------------------
// Dial keys.

struct DialKey {
    const char *normal;
    const char *lit;
    QString digit;
    QString letters;
    int column;
    int row;
};

constexpr QRectF kDialFace{2.5, 1.5, 43, 21.5};
constexpr double kDialRadius = 6;
constexpr int kDigitPixels = 16;
constexpr int kLetterPixels = 8;
constexpr int kPlusPixels = 12;
constexpr double kDigitToLetters = 3;

KeyLook dialLook(bool lit) {
    const Palette &pal = palette();
    return lit ? KeyLook{pal.litTop, pal.litBottom, pal.litEdge, true}
               : KeyLook{pal.keyTop, pal.keyBottom, pal.keyEdge, false};
}

QImage drawDialKey(const QImage &skin, const QRect &where, const DialKey &key, bool lit) {
    const Palette &pal = palette();
    QImage image = canvasOn(skin, where);
    QPainter p(&image);
    paintCap(p, roundedRectPath(kDialFace, kDialRadius), dialLook(lit));

    const QColor digitInk = lit ? pal.litDigit : pal.keyDigit;
    const QColor letterInk = lit ? pal.litLetters : pal.keyLetters;
    const QColor engrave(255, 255, 255, 150);
    const QFont digitFont = uiFont(kDigitPixels, QFont::Bold);
    // The plus on the zero key is a symbol, not a letter: it gets a size of its own.
    const bool plus = key.letters == QLatin1String("+");
    const QFont letterFont =
        plus ? uiFont(kPlusPixels, QFont::Bold) : uiFont(kLetterPixels, QFont::Bold, true, 0.3);
    const QFontMetricsF digitMetrics(digitFont);
    const QFontMetricsF letterMetrics(letterFont);

    // The cap's visual centre sits a little above the middle of its face: the gloss makes the
    // upper half look nearer.
    const double centreY = kDialFace.center().y() + 0.5;
    p.setRenderHint(QPainter::TextAntialiasing);

    if (key.digit == QLatin1String("*")) {
        drawSymbol(p, glyphs::asterisk(QRectF(kDialFace.center().x() - 6, centreY - 6, 12, 12)),
                   digitInk, engrave);
        return image;
    }
    const double digitWidth = digitMetrics.horizontalAdvance(key.digit);
    const bool hasSideMark = !key.letters.isEmpty() || key.digit == QLatin1String("1");
    const double markWidth = key.digit == QLatin1String("1") ? 12
                             : key.letters.isEmpty()         ? 0
                                                     : letterMetrics.horizontalAdvance(key.letters);
    const double total = digitWidth + (hasSideMark ? kDigitToLetters + markWidth : 0);
    const double left = std::round(kDialFace.center().x() - total / 2);
    const double capHeight = digitMetrics.capHeight();
    const double baseline = std::round(centreY + capHeight / 2);

    p.setFont(digitFont);
    p.setPen(engrave);
    p.drawText(QPointF(left, baseline + 1), key.digit);
    p.setPen(digitInk);
    p.drawText(QPointF(left, baseline), key.digit);

    const double markLeft = left + digitWidth + kDigitToLetters;
    if (key.digit == QLatin1String("1")) {
        drawSymbol(p, glyphs::voicemail(QRectF(markLeft, centreY - 3, markWidth, 6)), letterInk,
                   engrave);
    } else if (!key.letters.isEmpty()) {
        const double letterBaseline =
            std::round(baseline - (capHeight - letterMetrics.capHeight()) / 2);
        p.setFont(letterFont);
        p.setPen(engrave);
        p.drawText(QPointF(markLeft, letterBaseline + 1), key.letters);
        p.setPen(letterInk);
        p.drawText(QPointF(markLeft, letterBaseline), key.letters);
    }
    return image;
}

// ---------------------------------------------------------------------------------------------
// Call and end keys.

constexpr double kHandsetRadius = 13;
constexpr double kHandsetGlyph = 24;

QImage drawHandsetKey(const QImage &skin, const QRect &where, bool endCall, bool lit) {
    const Palette &pal = palette();
    QImage image = canvasOn(skin, where);
    QPainter p(&image);
    const QRectF face(2.5, 1.5, where.width() - 5, where.height() - 5);
    KeyLook look;
    if (endCall)
        look = lit ? KeyLook{pal.endLitTop, pal.endLitBottom, pal.endEdge, true}
                   : KeyLook{pal.endTop, pal.endBottom, pal.endEdge, false};
    else
        look = lit ? KeyLook{pal.callLitTop, pal.callLitBottom, pal.callEdge, true}
                   : KeyLook{pal.callTop, pal.callBottom, pal.callEdge, false};
    paintCap(p, roundedRectPath(face, kHandsetRadius), look);
    const QRectF glyphBox(face.center().x() - kHandsetGlyph / 2,
                          face.center().y() - kHandsetGlyph / 2 + 0.5, kHandsetGlyph,
                          kHandsetGlyph);
    const QColor shadow = mixColor(look.edge, Qt::transparent, 0.35);
    drawSymbol(p, glyphs::handset(glyphBox, endCall), pal.symbolWhite, shadow);
    return image;
}

// ---------------------------------------------------------------------------------------------
// Function keys, clear and delete.

constexpr double kFunctionRadius = 5.5;

KeyLook functionLook(bool lit) {
    const Palette &pal = palette();
    return lit ? KeyLook{pal.funcLitTop, pal.funcLitBottom, pal.litEdge, true}
               : KeyLook{pal.funcTop, pal.funcBottom, pal.funcEdge, false};
}

// Pale symbols on the normal caps sit on a dark shadow; dark ones on lit caps on a light edge.
QColor symbolEdge(const KeyLook &look) {
    return look.lit ? QColor(255, 255, 255, 130) : mixColor(look.edge, Qt::transparent, 0.3);
}

using SymbolMaker = QPainterPath (*)(const QRectF &);

QImage drawFunctionKey(const QImage &skin, const QRect &where, SymbolMaker symbol,
                       double symbolSize, bool lit) {
    const Palette &pal = palette();
    QImage image = canvasOn(skin, where);
    QPainter p(&image);
    const QRectF face(1.5, 1.5, where.width() - 3, where.height() - 4);
    const KeyLook look = functionLook(lit);
    paintCap(p, roundedRectPath(face, kFunctionRadius), look);
    const QRectF box(face.center().x() - symbolSize / 2, face.center().y() - symbolSize / 2,
                     symbolSize, symbolSize);
    drawSymbol(p, symbol(box), lit ? pal.funcLitSymbol : pal.funcSymbol, symbolEdge(look));
    return image;
}

// The menu key is the smallest key on the display: a tighter corner, so it reads as a key and not
// as a dot, and dark bars on whole pixels, so they stay sharp at this size.
constexpr double kMenuRadius = 3;

QImage drawMenuKey(const QImage &skin, const QRect &where, bool lit) {
    const Palette &pal = palette();
    QImage image = canvasOn(skin, where);
    QPainter p(&image);
    const QRectF face(1.5, 1.5, where.width() - 3, where.height() - 4);
    const KeyLook look = functionLook(lit);
    paintCap(p, roundedRectPath(face, kMenuRadius), look);
    constexpr int kBarWidth = 6, kBarPitch = 2, kBars = 3;
    const int left = int(face.center().x()) - kBarWidth / 2;
    const int top = int(face.center().y()) - kBars + 1;
    QPainterPath bars;
    for (int i = 0; i < kBars; ++i)
        bars.addRect(left, top + i * kBarPitch, kBarWidth, 1);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillPath(bars, lit ? pal.funcLitSymbol : pal.funcEdge);
    return image;
}

// The clear and delete keys keep one face width in both states; the column the wider picture
// adds shows the skin beside the key (or its glow when lit).
constexpr double kEditFaceWidth = 35;
constexpr double kEditRadius = 5;

QImage drawEditKey(const QImage &skin, const QRect &where, bool clear, bool lit) {
    const Palette &pal = palette();
    QImage image = canvasOn(skin, where);
    QPainter p(&image);
    const QRectF face(1.5, 1.5, kEditFaceWidth, where.height() - 4);
    const KeyLook look = functionLook(lit);
    paintCap(p, roundedRectPath(face, kEditRadius), look);
    const QColor ink = lit ? pal.funcLitSymbol : pal.funcSymbol;
    const QColor shadow = symbolEdge(look);
    if (clear) {
        p.setRenderHint(QPainter::TextAntialiasing);
        drawRaisedText(p, face.adjusted(0, 0, 0, -0.5), Qt::AlignCenter, QStringLiteral("CLR"),
                       uiFont(9, QFont::Bold), ink, shadow);
    } else {
        drawSymbol(p,
                   glyphs::backspace(QRectF(face.center().x() - 8, face.center().y() - 5, 16, 10)),
                   ink, shadow);
    }
    return image;
}

// ---------------------------------------------------------------------------------------------
// Window buttons.

// Small round buttons with a crisp symbol; too small for a drop shadow or a full sheen, so they
// get a lit upper rim instead.
QImage drawRoundButton(const QImage &skin, const QRect &where, const QColor &top,
                       const QColor &bottom, const QPainterPath &symbol) {
    const Palette &pal = palette();
    QImage image = canvasOn(skin, where);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF face(0.5, 0.5, where.width() - 1, where.height() - 1);
    QLinearGradient fill(face.topLeft(), face.bottomLeft());
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setPen(QPen(pal.funcEdge, 1));
    p.setBrush(fill);
    p.drawEllipse(face);
    QLinearGradient rim(face.topLeft(), face.bottomLeft());
    rim.setColorAt(0, QColor(255, 255, 255, 150));
    rim.setColorAt(0.5, QColor(255, 255, 255, 0));
    p.setPen(QPen(QBrush(rim), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(face.adjusted(1, 1, -1, -1));
    p.fillPath(symbol, pal.symbolWhite);
    return image;
}

QImage drawCloseButton(const QImage &skin, const QRect &where) {
    const Palette &pal = palette();
    constexpr QRectF kMark{3.5, 3.5, 5, 5};
    return drawRoundButton(skin, where, pal.closeTop, pal.closeBottom, glyphs::cross(kMark, 1.5));
}

QImage drawHideButton(const QImage &skin, const QRect &where) {
    const Palette &pal = palette();
    QPainterPath bar;
    bar.addRect(QRectF(3, 6, 6, 2));
    return drawRoundButton(skin, where, pal.hideTop, pal.hideBottom, bar);
}

} // namespace

std::vector<NamedPicture> drawMainButtons(const QImage &mainSkin) {
    std::vector<NamedPicture> out;
    auto both = [&](const char *normal, const char *lit, auto draw) {
        out.push_back({QString::fromLatin1(normal), draw(false)});
        out.push_back({QString::fromLatin1(lit), draw(true)});
    };

    const DialKey dial[] = {
        {"off1", "on1", "1", "", 0, 0},     {"off2", "on2", "2", "ABC", 1, 0},
        {"off3", "on3", "3", "DEF", 2, 0},  {"off4", "on4", "4", "GHI", 0, 1},
        {"off5", "on5", "5", "JKL", 1, 1},  {"off6", "on6", "6", "MNO", 2, 1},
        {"off7", "on7", "7", "PQRS", 0, 2}, {"off8", "on8", "8", "TUV", 1, 2},
        {"off9", "on9", "9", "WXYZ", 2, 2}, {"offy", "ony", "*", "", 0, 3},
        {"off0", "on0", "0", "+", 1, 3},    {"offHash", "onHash", "#", "", 2, 3},
    };
    for (const DialKey &key : dial) {
        const int top = (key.digit == QLatin1String("0")) ? lm::zeroKeyTop : lm::dialRows[key.row];
        const QRect where(QPoint(lm::dialColumns[key.column], top), lm::dialKey);
        both(key.normal, key.lit, [&](bool lit) { return drawDialKey(mainSkin, where, key, lit); });
    }

    both("offPC", "onPC",
         [&](bool lit) { return drawHandsetKey(mainSkin, lm::callKey, false, lit); });
    both("offCB", "onCB",
         [&](bool lit) { return drawHandsetKey(mainSkin, lm::endKey, true, lit); });

    constexpr double kRecentSymbol = 13, kBookSymbol = 12, kTuneSymbol = 12, kLoginSymbol = 14;
    both("offEnd", "onEnd", [&](bool lit) {
        return drawFunctionKey(mainSkin, lm::recentKey, glyphs::clock, kRecentSymbol, lit);
    });
    both("offPB", "onPB", [&](bool lit) {
        return drawFunctionKey(mainSkin, lm::phoneBookKey, glyphs::addressBook, kBookSymbol, lit);
    });
    both("offTune", "onTune", [&](bool lit) {
        return drawFunctionKey(mainSkin, lm::tuneKey, glyphs::sliders, kTuneSymbol, lit);
    });
    both("logOff", "logOn", [&](bool lit) {
        return drawFunctionKey(mainSkin, lm::loginKey, glyphs::key, kLoginSymbol, lit);
    });

    const QRect clearLit(lm::clearKey.topLeft(),
                         QSize(lm::clearKeyLitWidth, lm::clearKey.height()));
    const QRect backLit(lm::backKey.topLeft(), QSize(lm::backKeyLitWidth, lm::backKey.height()));
    out.push_back({QStringLiteral("offDel"), drawEditKey(mainSkin, lm::clearKey, true, false)});
    out.push_back({QStringLiteral("onDel"), drawEditKey(mainSkin, clearLit, true, true)});
    out.push_back({QStringLiteral("offBack"), drawEditKey(mainSkin, lm::backKey, false, false)});
    out.push_back({QStringLiteral("onBack"), drawEditKey(mainSkin, backLit, false, true)});

    both("offMenu", "onMenu", [&](bool lit) { return drawMenuKey(mainSkin, lm::menuKey, lit); });

    out.push_back({QStringLiteral("close"), drawCloseButton(mainSkin, lm::closeButton)});
    out.push_back({QStringLiteral("hide"), drawHideButton(mainSkin, lm::hideButton)});
    return out;
}

QImage drawPhoneBookClose(const QImage &phoneBookSkin) {
    return drawCloseButton(phoneBookSkin, layout::phoneBook::closeImage);
}

} // namespace art
