#include "preview.h"

#include "drawing.h"
#include "glyphs.h"
#include "layout.h"
#include "palette.h"

#include <QDir>
#include <QPainter>
#include <QSet>

namespace art {

namespace {

namespace lm = layout::mainWindow;

constexpr int kDesktopMargin = 16;
constexpr int kCheckerCell = 8;
const QColor kDesktopDark(52, 54, 58);
const QColor kDesktopLight(70, 72, 77);

// The skin with its key colour shown as a dark checkered desktop.
QImage onDesktop(const QImage &skin) {
    const QRgb key = palette().transparentKey.rgb() & RGB_MASK;
    QImage out(skin.size() + QSize(2 * kDesktopMargin, 2 * kDesktopMargin), QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            out.setPixel(
                x, y,
                (((x / kCheckerCell) + (y / kCheckerCell)) % 2 ? kDesktopDark : kDesktopLight)
                    .rgb());
    const QImage rgb = skin.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            if ((rgb.pixel(x, y) & RGB_MASK) != key)
                out.setPixel(x + kDesktopMargin, y + kDesktopMargin, rgb.pixel(x, y));
    return out;
}

void drawAt(QPainter &p, const QImage &picture, QPoint at) {
    p.drawImage(at + QPoint(kDesktopMargin, kDesktopMargin), picture);
}

void drawScaled(QPainter &p, const QImage &picture, const QRect &box) {
    p.drawImage(box.translated(kDesktopMargin, kDesktopMargin), picture);
}

QRect shifted(const QRect &r) {
    return r.translated(kDesktopMargin, kDesktopMargin);
}

// Stand-ins for the status line, number box and volume panel the program draws.
void drawMainControls(QPainter &p, const Artwork &art) {
    const Palette &pal = palette();
    p.fillRect(shifted(lm::statusLine), pal.lcd);
    p.setPen(Qt::black);
    p.setFont(uiFont(9));
    p.drawText(shifted(lm::statusLine).adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Registered and Ready..."));

    const QRect number = shifted(lm::numberBox);
    p.fillRect(number, pal.numberBox);
    p.setPen(QColor(40, 70, 90));
    p.drawRect(number.adjusted(0, 0, -1, -1));
    p.setPen(Qt::black);
    p.setFont(uiFont(11));
    p.drawText(number.adjusted(4, 0, -16, 0), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("5551234"));
    p.drawText(QRect(number.right() - 14, number.top(), 14, number.height()), Qt::AlignCenter,
               QStringLiteral("\u25be"));

    p.fillRect(shifted(lm::volumePanel), pal.volumePanel);
    p.setPen(Qt::black);
    for (const QRect &track : {lm::volumeTrack0, lm::volumeTrack1}) {
        p.drawRect(shifted(track).adjusted(0, 0, -1, -1));
        const QImage &knob = art.icons.value(QStringLiteral("knob"));
        drawAt(p, knob, QPoint(track.left() + 37, track.center().y() - knob.height() / 2));
    }
    drawScaled(p, art.icons.value(QStringLiteral("speaker")), lm::speakerIcon);
    drawScaled(p, art.icons.value(QStringLiteral("microphone")), lm::microphoneIcon);
    drawAt(p, art.icons.value(QStringLiteral("status")), lm::statusIcon.topLeft());
    drawAt(p, art.icons.value(QStringLiteral("logo")), lm::logo.topLeft());
}

struct Placed {
    const char *normal;
    const char *lit;
    QPoint at;
};

std::vector<Placed> mainButtons() {
    std::vector<Placed> out = {
        {"offPC", "onPC", lm::callKey.topLeft()},      {"offCB", "onCB", lm::endKey.topLeft()},
        {"offPB", "onPB", lm::phoneBookKey.topLeft()}, {"offTune", "onTune", lm::tuneKey.topLeft()},
        {"offEnd", "onEnd", lm::recentKey.topLeft()},  {"logOff", "logOn", lm::loginKey.topLeft()},
        {"offDel", "onDel", lm::clearKey.topLeft()},   {"offBack", "onBack", lm::backKey.topLeft()},
        {"close", "close", lm::closeButton.topLeft()}, {"hide", "hide", lm::hideButton.topLeft()},
        {"offMenu", "onMenu", lm::menuKey.topLeft()},
    };
    const char *normal[4][3] = {{"off1", "off2", "off3"},
                                {"off4", "off5", "off6"},
                                {"off7", "off8", "off9"},
                                {"offy", "off0", "offHash"}};
    const char *lit[4][3] = {{"on1", "on2", "on3"},
                             {"on4", "on5", "on6"},
                             {"on7", "on8", "on9"},
                             {"ony", "on0", "onHash"}};
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 3; ++column) {
            const int top = (row == 3 && column == 1) ? lm::zeroKeyTop : lm::dialRows[row];
            out.push_back(
                {normal[row][column], lit[row][column], QPoint(lm::dialColumns[column], top)});
        }
    return out;
}

QImage mainComposite(const Artwork &art, const QSet<QString> &litOnes) {
    QImage out = onDesktop(art.mainSkin);
    QPainter p(&out);
    drawMainControls(p, art);
    for (const Placed &b : mainButtons()) {
        const QString normal = QString::fromLatin1(b.normal);
        const QString name = litOnes.contains(normal) ? QString::fromLatin1(b.lit) : normal;
        drawAt(p, art.buttons.value(name), b.at);
    }
    return out;
}

QImage scaled(const QImage &image, int factor) {
    return image.scaled(image.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

// A plain push button, as a desktop style would draw it.
void drawPushButton(QPainter &p, const QRect &r, const QString &text) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(250, 250, 250));
    g.setColorAt(1, QColor(222, 224, 226));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(120, 124, 128));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    p.setPen(Qt::black);
    p.setFont(uiFont(10, QFont::Bold));
    p.drawText(r, Qt::AlignCenter, text);
}

void drawField(QPainter &p, const QRect &r, const QColor &back, const QString &text = {}) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(r, back);
    p.setPen(QColor(128, 136, 142));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    if (!text.isEmpty()) {
        p.setPen(Qt::black);
        p.setFont(uiFont(10));
        p.drawText(r.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
    }
}

void drawLabel(QPainter &p, const QRect &r, const QString &text, const QColor &back,
               bool bold = false) {
    if (back.isValid())
        p.fillRect(r, back);
    p.setPen(Qt::black);
    p.setFont(uiFont(10, bold ? QFont::Bold : QFont::Normal));
    p.drawText(r, Qt::AlignLeft | Qt::AlignTop, text);
}

QImage loginComposite(const Artwork &art) {
    namespace ll = layout::login;
    QImage out = onDesktop(art.loginSkin);
    QPainter p(&out);
    p.translate(kDesktopMargin, kDesktopMargin);
    const char *labels[] = {"Sip IP/Domain", "Account/Pin", "Password"};
    const char *values[] = {"127.0.0.1:5070", "1001", "kirrow1001"};
    for (int i = 0; i < 3; ++i) {
        drawLabel(p, ll::labels[i], QString::fromLatin1(labels[i]), Qt::white);
        drawField(p, ll::fields[i], Qt::white, QString::fromLatin1(values[i]));
    }
    p.fillRect(ll::saveBox, Qt::white);
    drawField(p, QRect(ll::saveBox.left(), ll::saveBox.top() + 2, 13, 13), Qt::white,
              QStringLiteral("\u2713"));
    drawLabel(p, ll::saveBox.adjusted(17, 1, 0, 0), QStringLiteral("Save"), QColor());
    drawPushButton(p, ll::loginButton, QStringLiteral("LOGIN"));
    drawPushButton(p, ll::exitButton, QStringLiteral("EXIT"));
    return out;
}

QImage recentComposite(const Artwork &art) {
    namespace lr = layout::recent;
    QImage out = onDesktop(art.recentSkin);
    QPainter p(&out);
    p.translate(kDesktopMargin, kDesktopMargin);
    drawField(p, lr::list, Qt::white);
    p.setFont(uiFont(10));
    p.setPen(Qt::black);
    const char *rows[] = {"5551234567--Duration: 0:3:27", "1002--Duration: 0:0:41"};
    for (int i = 0; i < 2; ++i)
        p.drawText(lr::list.adjusted(3, 2 + 14 * i, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                   QString::fromLatin1(rows[i]));
    drawPushButton(p, lr::closeButton, QStringLiteral("CLOSE"));
    return out;
}

QImage phoneBookComposite(const Artwork &art) {
    namespace lp = layout::phoneBook;
    QImage out = onDesktop(art.phoneBookSkin);
    QPainter p(&out);
    p.translate(kDesktopMargin, kDesktopMargin);
    drawField(p, lp::list, palette().listBack);
    p.fillRect(lp::list.adjusted(1, 1, -1, -lp::list.height() + 15), QColor(48, 96, 160));
    p.setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 8));
    p.setPen(Qt::white);
    p.drawText(lp::list.adjusted(3, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("NEW ITEM"));
    p.setPen(Qt::black);
    p.drawText(lp::list.adjusted(3, 16, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("Alice--5551234"));
    drawLabel(p, lp::nameLabel, QStringLiteral("Name"), QColor(), true);
    drawLabel(p, lp::numberLabel, QStringLiteral("Phone No."), QColor(), true);
    drawField(p, lp::nameField, Qt::white);
    drawField(p, lp::numberField, Qt::white);
    drawPushButton(p, lp::addButton, QStringLiteral("ADD"));
    drawPushButton(p, lp::callButton, QStringLiteral("CALL"));
    drawPushButton(p, lp::deleteButton, QStringLiteral("DELETE"));
    drawPushButton(p, lp::editButton, QStringLiteral("EDIT"));
    p.drawImage(lp::closeImage.topLeft(), art.buttons.value(QStringLiteral("phonebook-close")));
    return out;
}

QImage sideBySide(const std::vector<QImage> &pictures) {
    int width = 0, height = 0;
    for (const QImage &image : pictures) {
        width += image.width();
        height = std::max(height, image.height());
    }
    QImage out(width, height, QImage::Format_RGB32);
    out.fill(kDesktopDark);
    QPainter p(&out);
    int x = 0;
    for (const QImage &image : pictures) {
        p.drawImage(x, 0, image);
        x += image.width();
    }
    return out;
}

QImage iconSheet(const Artwork &art) {
    constexpr int kZoom = 8, kGap = 8;
    std::vector<QImage> tiles;
    for (const QString &name :
         {QStringLiteral("logo"), QStringLiteral("speaker"), QStringLiteral("microphone"),
          QStringLiteral("status"), QStringLiteral("knob"), QStringLiteral("kirrow"),
          QStringLiteral("tray")}) {
        const QImage icon = art.icons.value(name);
        QImage tile(icon.size() * kZoom + QSize(kGap, kGap), QImage::Format_RGB32);
        tile.fill(kDesktopLight);
        QPainter p(&tile);
        p.drawImage(QRect(QPoint(0, 0), icon.size() * kZoom), icon);
        tiles.push_back(tile);
    }
    return sideBySide(tiles);
}

// Every symbol large, to judge its drawing rather than its pixels.
QImage glyphSheet() {
    constexpr int kCell = 72, kInset = 8;
    using Maker = QPainterPath (*)(const QRectF &);
    const Maker makers[] = {glyphs::clock,      glyphs::addressBook, glyphs::sliders,
                            glyphs::key,        glyphs::speaker,     glyphs::microphone,
                            glyphs::signalBars, glyphs::voicemail,   glyphs::backspace,
                            glyphs::asterisk};
    const int count = int(std::size(makers)) + 2;
    QImage out(kCell * count, kCell, QImage::Format_RGB32);
    out.fill(kDesktopLight);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF first(kInset, kInset, kCell - 2 * kInset, kCell - 2 * kInset);
    p.fillPath(glyphs::handset(first), Qt::white);
    p.fillPath(glyphs::handset(first.translated(kCell, 0), true), Qt::white);
    for (int i = 0; i < int(std::size(makers)); ++i)
        p.fillPath(makers[i](first.translated(kCell * (i + 2), 0)), Qt::white);
    return out;
}

} // namespace

bool writePreviews(const Artwork &art, const QString &folder) {
    if (!QDir().mkpath(folder))
        return false;
    const QDir dir(folder);
    const QImage normal = mainComposite(art, {});
    const QSet<QString> litOnes{QStringLiteral("offPC"),   QStringLiteral("off5"),
                                QStringLiteral("offHash"), QStringLiteral("offTune"),
                                QStringLiteral("offDel"),  QStringLiteral("off7")};
    const QImage lit = mainComposite(art, litOnes);
    QSet<QString> everything;
    for (const Placed &b : mainButtons())
        everything.insert(QString::fromLatin1(b.normal));
    const QImage allLit = mainComposite(art, everything);
    bool ok = normal.save(dir.filePath(QStringLiteral("main-normal.png")));
    ok = lit.save(dir.filePath(QStringLiteral("main-lit.png"))) && ok;
    ok = scaled(sideBySide({normal, lit}), 2).save(dir.filePath(QStringLiteral("main-2x.png"))) &&
         ok;
    ok = scaled(allLit, 2).save(dir.filePath(QStringLiteral("main-all-lit-2x.png"))) && ok;
    ok = scaled(sideBySide({loginComposite(art), recentComposite(art), phoneBookComposite(art)}), 2)
             .save(dir.filePath(QStringLiteral("dialogs-2x.png"))) &&
         ok;
    ok = art.mainSkin.save(dir.filePath(QStringLiteral("main-skin-8bit.png"))) && ok;
    ok = art.mainSkinFull.save(dir.filePath(QStringLiteral("main-skin-24bit.png"))) && ok;
    ok = glyphSheet().save(dir.filePath(QStringLiteral("glyphs.png"))) && ok;
    ok = iconSheet(art).save(dir.filePath(QStringLiteral("icons-8x.png"))) && ok;
    return ok;
}

} // namespace art
