// kirrow_artwork: draws Kirrow's skins, buttons and icons and writes them, with the Qt resource
// files that list them, into the resources folder.
//
//   kirrow_artwork --out <resources folder> [--preview <folder>]
//
// Everything is drawn from code, so running it again gives the same pictures.

#include "drawing.h"
#include "icons.h"
#include "keys.h"
#include "layout.h"
#include "palette.h"
#include "preview.h"
#include "quantize.h"
#include "skins.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>
#include <map>

namespace {

using namespace art;

struct Options {
    QString out;
    QString preview;
};

bool parse(const QStringList &args, Options &options) {
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--out") && i + 1 < args.size())
            options.out = args[++i];
        else if (args[i] == QLatin1String("--preview") && i + 1 < args.size())
            options.preview = args[++i];
        else
            return false;
    }
    return !options.out.isEmpty();
}

int g_problems = 0;

void problem(const QString &what) {
    std::fprintf(stderr, "kirrow_artwork: %s\n", qPrintable(what));
    ++g_problems;
}

// What one resource file holds: its prefix and the files, relative to the resources folder.
struct ResourceFile {
    QString name;
    QString prefix;
    QStringList files;
};

bool writeResourceFile(const QDir &root, const ResourceFile &resource) {
    QSaveFile file(root.filePath(resource.name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n    <qresource prefix=\"" << resource.prefix
        << "\">\n";
    for (const QString &path : resource.files)
        out << "        <file alias=\"" << QFileInfo(path).fileName() << "\">" << path
            << "</file>\n";
    out << "    </qresource>\n</RCC>\n";
    out.flush();
    return file.commit();
}

bool save(const QImage &image, const QString &path) {
    if (!QDir().mkpath(QFileInfo(path).path()) || !image.save(path)) {
        problem(QStringLiteral("cannot write %1").arg(path));
        return false;
    }
    return true;
}

// Skins: the bottom-left pixel is the key colour, and no pixel inside the shape is.
void checkSkin(const QString &name, const QImage &skin, QSize expected) {
    const QRgb key = palette().transparentKey.rgb() & RGB_MASK;
    if (skin.size() != expected)
        problem(QStringLiteral("%1 is %2x%3, not %4x%5")
                    .arg(name)
                    .arg(skin.width())
                    .arg(skin.height())
                    .arg(expected.width())
                    .arg(expected.height()));
    if ((skin.pixel(0, skin.height() - 1) & RGB_MASK) != key)
        problem(QStringLiteral("%1: the bottom-left pixel is not the key colour").arg(name));
}

// A control must lie wholly on the opaque part of its skin.
void checkOnSkin(const QString &skinName, const QImage &skin, const QString &control,
                 const QRect &where) {
    const QRgb key = palette().transparentKey.rgb() & RGB_MASK;
    for (int y = where.top(); y <= where.bottom(); ++y)
        for (int x = where.left(); x <= where.right(); ++x)
            if (!skin.rect().contains(x, y) || (skin.pixel(x, y) & RGB_MASK) == key) {
                problem(QStringLiteral("%1 is not wholly on %2 (at %3,%4)")
                            .arg(control, skinName)
                            .arg(x)
                            .arg(y));
                return;
            }
}

void checkSize(const QString &name, const QImage &image, QSize expected) {
    if (image.size() != expected)
        problem(QStringLiteral("%1 is %2x%3, not %4x%5")
                    .arg(name)
                    .arg(image.width())
                    .arg(image.height())
                    .arg(expected.width())
                    .arg(expected.height()));
}

const std::map<QString, QSize> &expectedButtonSizes() {
    static const std::map<QString, QSize> sizes = [] {
        std::map<QString, QSize> s{
            {QStringLiteral("offPC"), {39, 52}},   {QStringLiteral("onPC"), {39, 52}},
            {QStringLiteral("offCB"), {40, 51}},   {QStringLiteral("onCB"), {40, 51}},
            {QStringLiteral("offPB"), {22, 21}},   {QStringLiteral("onPB"), {22, 21}},
            {QStringLiteral("offTune"), {22, 23}}, {QStringLiteral("onTune"), {22, 23}},
            {QStringLiteral("offEnd"), {27, 23}},  {QStringLiteral("onEnd"), {27, 23}},
            {QStringLiteral("logOff"), {24, 23}},  {QStringLiteral("logOn"), {24, 23}},
            {QStringLiteral("offDel"), {38, 18}},  {QStringLiteral("onDel"), {39, 18}},
            {QStringLiteral("offBack"), {39, 18}}, {QStringLiteral("onBack"), {38, 18}},
            {QStringLiteral("close"), {12, 12}},   {QStringLiteral("hide"), {12, 12}},
            {QStringLiteral("offMenu"), {14, 14}}, {QStringLiteral("onMenu"), {14, 14}},
        };
        for (const char *key : {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "y", "Hash"}) {
            s[QStringLiteral("off") + QLatin1String(key)] = {48, 27};
            s[QStringLiteral("on") + QLatin1String(key)] = {48, 27};
        }
        return s;
    }();
    return sizes;
}

const std::map<QString, QSize> &expectedIconSizes() {
    static const std::map<QString, QSize> sizes{
        {QStringLiteral("logo"), {105, 37}},   {QStringLiteral("knob"), {10, 9}},
        {QStringLiteral("speaker"), {17, 17}}, {QStringLiteral("microphone"), {17, 17}},
        {QStringLiteral("status"), {15, 11}},  {QStringLiteral("kirrow"), {24, 24}},
        {QStringLiteral("tray"), {25, 33}},    {QStringLiteral("tray-ringing"), {25, 33}},
    };
    return sizes;
}

// The pictures with a flat background must sit on skin of exactly that colour, so no seam shows
// around them.
void checkFlatAround(const QImage &skin, const QString &control, const QRect &where,
                     const QColor &colour) {
    const QRect ring = where.adjusted(-1, -1, 1, 1);
    for (int y = ring.top(); y <= ring.bottom(); ++y)
        for (int x = ring.left(); x <= ring.right(); ++x) {
            if (where.contains(x, y))
                continue;
            if ((skin.pixel(x, y) & RGB_MASK) != (colour.rgb() & RGB_MASK)) {
                problem(QStringLiteral("main.bmp: the skin around the %1 is not flat (at %2,%3)")
                            .arg(control)
                            .arg(x)
                            .arg(y));
                return;
            }
        }
}

void checkMainSkinControls(const QImage &skin) {
    namespace lm = layout::mainWindow;
    const QString name = QStringLiteral("main.bmp");
    const std::pair<const char *, QRect> controls[] = {
        {"logo", lm::logo},
        {"close button", lm::closeButton},
        {"hide button", lm::hideButton},
        {"status line", lm::statusLine},
        {"menu key", lm::menuKey},
        {"number box", lm::numberBox},
        {"clear key",
         QRect(lm::clearKey.topLeft(), QSize(lm::clearKeyLitWidth, lm::clearKey.height()))},
        {"delete key", lm::backKey},
        {"volume panel", lm::volumePanel},
        {"speaker", lm::speakerIcon.adjusted(0, 0, 1, 1)},
        {"microphone", lm::microphoneIcon.adjusted(0, 0, 1, 1)},
        {"status mark", lm::statusIcon},
        {"recent calls key", lm::recentKey},
        {"phone book key", lm::phoneBookKey},
        {"audio key", lm::tuneKey},
        {"login key", lm::loginKey},
        {"call key", lm::callKey},
        {"end key", lm::endKey},
    };
    for (const auto &[control, rect] : controls)
        checkOnSkin(name, skin, QString::fromLatin1(control), rect);
    for (int column : lm::dialColumns)
        for (int top : lm::dialRows)
            checkOnSkin(name, skin, QStringLiteral("dial key"),
                        QRect(QPoint(column, top), lm::dialKey));
    checkOnSkin(name, skin, QStringLiteral("zero key"),
                QRect(QPoint(lm::dialColumns[1], lm::zeroKeyTop), lm::dialKey));

    const Palette &pal = palette();
    checkFlatAround(skin, QStringLiteral("speaker mark"), lm::speakerIcon, pal.volumePanel);
    checkFlatAround(skin, QStringLiteral("microphone mark"), lm::microphoneIcon, pal.volumePanel);
    checkFlatAround(skin, QStringLiteral("status mark"), lm::statusIcon, pal.lcd);
    checkFlatAround(skin, QStringLiteral("volume panel"), lm::volumePanel, pal.volumePanel);
}

} // namespace

int main(int argc, char *argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    Options options;
    if (!parse(app.arguments(), options)) {
        std::fprintf(stderr,
                     "usage: kirrow_artwork --out <resources folder> [--preview <folder>]\n");
        return 2;
    }
    loadFonts();
    const Palette &pal = palette();
    const QDir root(options.out);

    // Skins. The main one is an 8-bit bitmap; the program sees it as the reduced picture, so the
    // keys are drawn over that rather than over the full-colour original.
    const QImage mainFull = drawMainSkin();
    const QImage mainIndexed = toIndexed8(mainFull, pal.transparentKey, {pal.lcd, pal.volumePanel});
    const QImage mainShown = mainIndexed.convertToFormat(QImage::Format_RGB32);
    checkSkin(QStringLiteral("main.bmp"), mainShown, layout::mainWindow::size);
    checkMainSkinControls(mainShown);
    if (mainIndexed.colorCount() != 256 ||
        !mainIndexed.colorTable().contains(pal.transparentKey.rgb()))
        problem(
            QStringLiteral("main.bmp: the palette must have 256 entries including the key colour"));

    Artwork art;
    art.mainSkin = mainShown;
    art.mainSkinFull = mainFull;
    art.loginSkin = drawLoginSkin();
    art.recentSkin = drawRecentSkin();
    art.phoneBookSkin = drawPhoneBookSkin();
    checkSkin(QStringLiteral("login.png"), art.loginSkin, layout::login::size);
    checkSkin(QStringLiteral("recent.png"), art.recentSkin, layout::recent::size);
    checkSkin(QStringLiteral("phonebook.png"), art.phoneBookSkin, layout::phoneBook::size);
    checkOnSkin(QStringLiteral("phonebook.png"), art.phoneBookSkin, QStringLiteral("close image"),
                layout::phoneBook::closeImage);

    save(mainIndexed, root.filePath(QStringLiteral("skin/main.bmp")));
    save(art.loginSkin, root.filePath(QStringLiteral("skin/login.png")));
    save(art.recentSkin, root.filePath(QStringLiteral("skin/recent.png")));
    save(art.phoneBookSkin, root.filePath(QStringLiteral("skin/phonebook.png")));
    const QImage phoneBookClose =
        drawPhoneBookClose(art.phoneBookSkin).convertToFormat(QImage::Format_RGB32);
    checkSize(QStringLiteral("phonebook-close"), phoneBookClose, {12, 12});
    save(phoneBookClose, root.filePath(QStringLiteral("skin/phonebook-close.png")));
    art.buttons.insert(QStringLiteral("phonebook-close"), phoneBookClose);

    // Buttons: opaque, each with the piece of skin it covers baked into its corners.
    QStringList buttonFiles;
    for (const NamedPicture &picture : drawMainButtons(mainShown)) {
        const auto expected = expectedButtonSizes().find(picture.name);
        if (expected == expectedButtonSizes().end())
            problem(QStringLiteral("unexpected button %1").arg(picture.name));
        else
            checkSize(picture.name, picture.image, expected->second);
        const QImage opaque = picture.image.convertToFormat(QImage::Format_RGB32);
        save(opaque, root.filePath(QStringLiteral("buttons/%1.png").arg(picture.name)));
        buttonFiles << QStringLiteral("buttons/%1.png").arg(picture.name);
        art.buttons.insert(picture.name, opaque);
    }
    if (buttonFiles.size() != int(expectedButtonSizes().size()))
        problem(QStringLiteral("%1 buttons drawn, %2 expected")
                    .arg(buttonFiles.size())
                    .arg(expectedButtonSizes().size()));

    // Icons: those laid over the skin are opaque; the window icon and the tray pictures keep
    // their transparency for the desktop.
    QStringList iconFiles;
    for (const NamedPicture &picture : drawIcons(mainShown)) {
        const auto expected = expectedIconSizes().find(picture.name);
        if (expected == expectedIconSizes().end())
            problem(QStringLiteral("unexpected icon %1").arg(picture.name));
        else
            checkSize(picture.name, picture.image, expected->second);
        const bool keepsAlpha = picture.name == QLatin1String("kirrow") ||
                                picture.name.startsWith(QLatin1String("tray"));
        const QImage image = picture.image.convertToFormat(keepsAlpha ? QImage::Format_ARGB32
                                                                      : QImage::Format_RGB32);
        save(image, root.filePath(QStringLiteral("icons/%1.png").arg(picture.name)));
        iconFiles << QStringLiteral("icons/%1.png").arg(picture.name);
        art.icons.insert(picture.name, image);
    }

    // The desktop's icons, installed into the hicolor theme; not in the program.
    for (const NamedPicture &picture : drawDesktopIcons()) {
        const QImage image = picture.image.convertToFormat(QImage::Format_ARGB32);
        save(image,
             root.filePath(QStringLiteral("icons/hicolor/%1/apps/kirrow.png").arg(picture.name)));
    }

    const ResourceFile resources[] = {
        {QStringLiteral("skin.qrc"),
         QStringLiteral("/skin"),
         {QStringLiteral("skin/main.bmp"), QStringLiteral("skin/login.png"),
          QStringLiteral("skin/recent.png"), QStringLiteral("skin/phonebook.png"),
          QStringLiteral("skin/phonebook-close.png")}},
        {QStringLiteral("buttons.qrc"), QStringLiteral("/buttons"), buttonFiles},
        {QStringLiteral("icons.qrc"), QStringLiteral("/icons"), iconFiles},
    };
    for (const ResourceFile &resource : resources)
        if (!writeResourceFile(root, resource))
            problem(QStringLiteral("cannot write %1").arg(root.filePath(resource.name)));

    if (!options.preview.isEmpty() && !writePreviews(art, options.preview))
        problem(QStringLiteral("cannot write the previews into %1").arg(options.preview));

    if (g_problems != 0)
        return 1;
    std::printf("kirrow_artwork: %lld buttons, %lld icons and 5 skin pictures written to %s\n",
                static_cast<long long>(buttonFiles.size()),
                static_cast<long long>(iconFiles.size()),
                qPrintable(QDir(options.out).absolutePath()));
    return 0;
}
