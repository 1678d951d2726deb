#include "cdibsection.h"
#include "modmoveform.h"
#include "modshape.h"
#include "picturepreload.h"
#include "region.h"
#include "windowsystem.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

// The pixel buffer, the outline scan, the rounded start-up shape and the drag arithmetic.
class TestSkin : public QObject {
    Q_OBJECT

    static QImage filled(int w, int h, QColor colour,
                         QImage::Format format = QImage::Format_RGB32) {
        QImage image(w, h, format);
        image.fill(colour);
        return image;
    }

    // The outline's pixels, as a picture-sized grid of 0/1 for easy comparison.
    static QString mask(const QRegion &region, int w, int h) {
        QString rows;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                rows += region.contains(QPoint(x, y)) ? QLatin1Char('1') : QLatin1Char('0');
            rows += QLatin1Char('\n');
        }
        return rows;
    }

    static QRegion scan(const QImage &picture, qint32 &transColor) {
        Region region;
        region.ScanPicture(picture, transColor);
        return region.hndRegion;
    }

private slots:
    // The shaped window needs X11: on a Wayland desktop with XWayland the program takes it,
    // unless the user chose otherwise.
    void shapedWindowRunsOnX11WhereItCan() {
        using platform::preferredPlatform;
        QCOMPARE(preferredPlatform("", ":0", "wayland-0"), QByteArray("xcb"));
        QCOMPARE(preferredPlatform("wayland", ":0", "wayland-0"), QByteArray("wayland"));
        QCOMPARE(preferredPlatform("", "", "wayland-0"), QByteArray());
        QCOMPARE(preferredPlatform("", ":0", ""), QByteArray());
    }

    void rowsArePaddedToFourBytes() {
        const QList<int> widths{1, 2, 3, 4, 5, 216};
        const QList<int> bytes{4, 8, 12, 12, 16, 648};
        for (int i = 0; i < widths.size(); ++i)
            QCOMPARE(bytesPerScanLine(widths[i]), bytes[i]);
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, bytesPerScanLine(qint64(1) << 30));
        cDIBSection dib;
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, dib.Create(30000, 30000));
        QVERIFY(dib.DIBSectionBitsPtr() == nullptr);
    }

    void pictureCopyIsBottomUpBlueGreenRed() {
        // An 8-bit palette picture, so the conversion to 24 bits is exercised.
        QImage picture(216, 228, QImage::Format_Indexed8);
        picture.setColorTable({qRgb(10, 20, 30), qRgb(200, 100, 50)});
        picture.fill(0);
        picture.setPixel(0, 227, 1); // bottom-left
        cDIBSection dib;
        dib.CreateFromPicture(picture);
        QCOMPARE(dib.Width(), 216);
        QCOMPARE(dib.Height(), 228);
        QCOMPARE(dib.BytesPerScanLine(), 648);
        QCOMPARE(dib.Header().biBitCount, qint16(24));
        QCOMPARE(dib.Header().biSizeImage, 648 * 228);
        const uchar *bits = dib.DIBSectionBitsPtr();
        QCOMPARE(int(bits[0]), 50); // blue
        QCOMPARE(int(bits[1]), 100);
        QCOMPARE(int(bits[2]), 200); // red
        QCOMPARE(int(bits[3]), 30);  // the next pixel, palette entry 0, blue first
        // The top row is the last in memory.
        QCOMPARE(int(bits[227 * 648 + 2]), 10);
    }

    void createReleasesTheEarlierBitmap() {
        cDIBSection dib;
        QVERIFY(dib.Create(4, 4));
        const uchar *first = dib.DIBSectionBitsPtr();
        QVERIFY(first);
        QVERIFY(dib.Create(8, 2));
        QCOMPARE(dib.Width(), 8);
        QCOMPARE(dib.BytesPerScanLine(), 24);
        QVERIFY(dib.DIBSectionBitsPtr() != nullptr);
        QVERIFY(!dib.Create(0, 5));
        QVERIFY(dib.DIBSectionBitsPtr() == nullptr);
        dib.ClearUp();
        dib.ClearUp();
        dib.CreateFromPicture(QImage());
        QVERIFY(dib.DIBSectionBitsPtr() == nullptr);
    }

    void bltCopiesTheWholeBitmapOrAPart() {
        QImage source = filled(6, 3, QColor(1, 2, 3));
        source.setPixel(5, 0, qRgb(9, 8, 7));
        cDIBSection dib;
        QVERIFY(dib.Create(6, 3));
        dib.LoadPictureBlt(source, 0, 0, -1, -1);
        // Top-right source pixel: last memory row, last pixel.
        const uchar *top = dib.DIBSectionBitsPtr() + 2 * dib.BytesPerScanLine();
        QCOMPARE(int(top[15]), 7);
        QCOMPARE(int(top[17]), 9);
        QVERIFY(dib.Create(2, 1));
        dib.LoadPictureBlt(source, 4, 0, -1, -1);
        QCOMPARE(int(dib.DIBSectionBitsPtr()[5]), 9);
    }

    void circleOnMagentaGivesTheCircleLessTheLastColumn() {
        QImage picture = filled(40, 40, Qt::magenta);
        QPainter painter(&picture);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 120, 160));
        painter.drawEllipse(QRect(0, 0, 40, 40)); // touches the last column
        painter.end();
        qint32 transColor = 1;
        const QRegion region = scan(picture, transColor);
        QCOMPARE(transColor, qint32(0xFF00FF)); // written back, blue-low
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x) {
                const bool opaque = picture.pixel(x, y) != QColor(Qt::magenta).rgb();
                QCOMPARE(region.contains(QPoint(x, y)), opaque && x != 39);
            }
        QVERIFY(!region.isEmpty());
    }

    void holesRowsAndNarrowPictures() {
        QImage picture = filled(5, 3, QColor(0, 0, 255)); // blue everywhere: the key
        picture.setPixel(1, 1, qRgb(40, 40, 40));
        picture.setPixel(2, 1, qRgb(40, 40, 40));
        picture.setPixel(3, 1, qRgb(40, 40, 40));
        picture.setPixel(2, 2, qRgb(0, 0, 255));
        qint32 key = 1;
        QCOMPARE(mask(scan(picture, key), 5, 3), QStringLiteral("00000\n01110\n00000\n"));
        // A hole of the key colour inside the shape.
        QImage holed = filled(5, 3, QColor(0, 0, 255));
        for (int x = 0; x < 4; ++x)
            holed.setPixel(x, 0, qRgb(90, 90, 90));
        holed.setPixel(2, 0, qRgb(0, 0, 255));
        key = 1;
        QCOMPARE(mask(scan(holed, key), 5, 3), QStringLiteral("11010\n00000\n00000\n"));
        // One pixel wide: nothing, whatever the colour.
        key = 1;
        QVERIFY(scan(filled(1, 4, Qt::red), key).isEmpty());
        key = 1;
        QVERIFY(scan(QImage(), key).isEmpty());
        QCOMPARE(key, 1);
    }

    void explicitKeyIsComparedBlueLow() {
        // 255 is pure red in the usual red-low packing; here it means pure blue.
        QImage picture = filled(4, 2, QColor(0, 0, 255));
        picture.setPixel(0, 0, qRgb(255, 0, 0));
        qint32 key = 255;
        QCOMPARE(mask(scan(picture, key), 4, 2), QStringLiteral("1000\n0000\n"));
        QCOMPARE(key, 255);
    }

    void headerOffsetIsBorderAndCaption() {
        // 3-pixel borders and a 19-pixel caption around a 216 × 228 client area.
        QCOMPARE(headerOffset(222, 253, 216, 228), QPoint(3, 22));
        QCOMPARE(headerOffset(216, 228, 216, 228), QPoint(0, 0));
        QCOMPARE(headerOffset(221, 250, 216, 228), QPoint(2, 20)); // 2.5 rounds to even
    }

    void roundedStartupShapeSpansItsCorners() {
        const QRegion shape = modShape::roundedStartupRegion(297, 436);
        QCOMPARE(shape.boundingRect(), QRect(QPoint(10, 10), QPoint(296, 390)));
        QVERIFY(shape.contains(QPoint(150, 200)));
        QVERIFY(shape.contains(QPoint(296, 200)));
        QVERIFY(!shape.contains(QPoint(297, 200)));
        QVERIFY(!shape.contains(QPoint(12, 12)));     // cut by the corner ellipse
        QVERIFY(shape.contains(QPoint(10 + 75, 10))); // the top edge between the corners
        QVERIFY(!shape.contains(QPoint(150, 391)));
    }

    // Each picture decoded ahead is given once, as loading it gives it; others are left to the
    // caller.
    void picturesDecodedAheadAreTheirFiles() {
        const QString knob = QStringLiteral(":/icons/knob.png");
        const QString skin = QStringLiteral(":/skin/main.bmp");
        skin::startDecodingPictures({knob, skin});
        const QImage decoded = skin::takePicture(skin);
        const QImage decodedKnob = skin::takePicture(knob);
        // Decoded by their suffixes: no image plug-in was loaded to guess what the files are.
        QFile maps(QStringLiteral("/proc/self/maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        QVERIFY(!maps.readAll().contains("/imageformats/"));
        QVERIFY(!decoded.isNull());
        QCOMPARE(decoded, QImage(skin));
        QCOMPARE(decodedKnob, QImage(knob));
        QVERIFY(skin::takePicture(skin).isNull());
        const QString logo = QStringLiteral(":/icons/logo.png");
        QVERIFY(skin::takePicture(logo).isNull());
        // A later batch, for a window built later.
        skin::startDecodingPictures({logo});
        QCOMPARE(skin::takePicture(logo), QImage(logo));
        // A file whose content is not what its name says is still read.
        QTemporaryDir dir;
        const QString misnamed = dir.filePath(QStringLiteral("skin.png"));
        QVERIFY(decoded.save(misnamed, "BMP"));
        QCOMPARE(skin::loadPicture(misnamed).size(), decoded.size());
    }

    void dragFollowsThePointerInPixels() {
        const modMoveForm::Rect window{100, 50, 397, 486};
        const QPoint press(300, 450); // twips
        // 30 pixels right and 20 down, in twips at 15 to a pixel.
        const auto outline = modMoveForm::outlineFor(window, press, 300 + 450, 450 + 300, 15, 15);
        QCOMPARE(outline, (modMoveForm::Rect{130, 70, 427, 506}));
        const QPointF drop = modMoveForm::dropPositionTwips(window, press, 750, 750, 15, 15);
        QCOMPARE(drop, QPointF(130 * 15, 70 * 15));
        // Not moved: where it was.
        QCOMPARE(modMoveForm::dropPositionTwips(window, press, 300, 450, 15, 15),
                 QPointF(1500, 750));
        // The pointer's twips round half to even: 322.5 is 322, a movement of 22/15 pixel.
        QCOMPARE(modMoveForm::outlineFor(window, press, 322.5f, 450, 15, 15).left, 101);
    }
};

QTEST_MAIN(TestSkin)
#include "tst_skin.moc"
