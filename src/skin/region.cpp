#include "region.h"

#include "picturebox.h"
#include "twips.h"

#include <QImage>
#include <QPixmap>
#include <QVector>
#include <QWidget>

namespace {

// The colour of pixel c of a memory row, blue in the low byte.
inline qint32 packed(const uchar *row, qint32 byteOffset) {
    return row[byteOffset] | (row[byteOffset + 1] << 8) | (row[byteOffset + 2] << 16);
}

} // namespace

void Region::ScanPicture(const QImage &picture, qint32 &transColor) {
    hndRegion = QRegion();
    m_dib.CreateFromPicture(picture);
    const qint32 W = m_dib.Width();
    const qint32 H = m_dib.Height();
    const uchar *bits = m_dib.DIBSectionBitsPtr();
    if (!bits || W <= 0 || H <= 0)
        return; // nothing to read
    const qint32 stride = m_dib.BytesPerScanLine();

    if (transColor == 1)
        transColor = packed(bits, 0);

    // Rows are scanned bottom-up as they lie in memory; the rectangles are collected top-down so
    // the region can take them in one go, which is the union of all of them.
    QVector<QVector<QRect>> runsByRow(H);
    const qint32 lastByte = 3 * W - 3;
    for (qint32 y = 0; y < H; ++y) {
        const uchar *row = bits + qint64(y) * stride;
        QVector<QRect> &runs = runsByRow[H - 1 - y];
        qint32 x = -3;
        do {
            x += 3;
            while (packed(row, x) == transColor && x < lastByte)
                x += 3;
            const qint32 start = x / 3;
            while (packed(row, x) != transColor && x < lastByte)
                x += 3;
            const qint32 end = x / 3;
            if (start < end)
                runs.append(QRect(start, H - 1 - y, end - start, 1));
        } while (x < lastByte);
    }
    QVector<QRect> rects;
    for (const QVector<QRect> &runs : runsByRow)
        rects += runs;
    hndRegion.setRects(rects.constData(), int(rects.size()));
}

QPoint headerOffset(int outerWidth, int outerHeight, int clientWidth, int clientHeight) {
    const int dx = platform::roundHalfEven((outerWidth - clientWidth) / 2.0);
    const int dy = platform::roundHalfEven(double(outerHeight - clientHeight - dx));
    return {dx, dy};
}

void Region::OffsetHeader(QWidget *tmpForm) {
    if (tmpForm->windowFlags() & Qt::FramelessWindowHint)
        return;
    const QRect outer = tmpForm->frameGeometry();
    hndRegion.translate(
        headerOffset(outer.width(), outer.height(), tmpForm->width(), tmpForm->height()));
}

void shapeFromPicture(QWidget *form, const PictureBox &skin) {
    Region region;
    qint32 transColor = 1;
    region.ScanPicture(skin.picture(), transColor);
    region.OffsetHeader(form);
    if (const QPixmap picture = skin.pixmap(); !picture.isNull()) {
        QPalette palette = form->palette();
        palette.setBrush(QPalette::Window, QBrush(picture));
        form->setPalette(palette);
    }
    region.ApplyRgn(form);
}

void Region::ApplyRgn(QWidget *hWnd) const {
    // The outline is in window coordinates; a widget's mask is in its client coordinates.
    const QPoint client = hWnd->geometry().topLeft() - hWnd->frameGeometry().topLeft();
    hWnd->setMask(hndRegion.translated(-client));
}
