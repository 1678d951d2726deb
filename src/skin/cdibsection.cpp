#include "cdibsection.h"

#include <QImage>

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

qint32 bytesPerScanLine(qint64 width) {
    const qint64 bytes = (width * 3 + 3) & ~qint64(3);
    if (width < 0 || bytes > std::numeric_limits<qint32>::max())
        throw std::overflow_error("bitmap row size overflows");
    return static_cast<qint32>(bytes);
}

qint32 cDIBSection::BytesPerScanLine() const {
    return bytesPerScanLine(m_header.biWidth);
}

bool cDIBSection::CreateDIB(qint32 lWidth, qint32 lHeight, std::unique_ptr<uchar[]> &hDib) {
    m_header = BitmapInfoHeader{};
    m_header.biWidth = lWidth;
    m_header.biHeight = lHeight;
    m_bits = nullptr;
    hDib.reset();
    if (lWidth <= 0 || lHeight <= 0)
        return false;
    const qint64 size = qint64(BytesPerScanLine()) * lHeight;
    if (size > std::numeric_limits<qint32>::max())
        throw std::overflow_error("bitmap size overflows");
    m_header.biSizeImage = static_cast<qint32>(size);
    hDib.reset(new (std::nothrow) uchar[size]());
    m_bits = hDib.get();
    return hDib != nullptr;
}

bool cDIBSection::Create(qint32 lWidth, qint32 lHeight) {
    ClearUp();
    try {
        if (CreateDIB(lWidth, lHeight, m_dib))
            return true;
    } catch (const std::overflow_error &) {
        ClearUp();
        throw;
    }
    ClearUp();
    return false;
}

void cDIBSection::CreateFromPicture(const QImage &picThis) {
    if (!Create(picThis.width(), picThis.height()))
        return;
    LoadPictureBlt(picThis, 0, 0, -1, -1, SRCCOPY);
}

void cDIBSection::LoadPictureBlt(const QImage &source, qint32 lSrcLeft, qint32 lSrcTop,
                                 qint32 lSrcWidth, qint32 lSrcHeight, quint32 eRop) {
    if (eRop != SRCCOPY)
        throw std::invalid_argument("only SRCCOPY is supported");
    if (!m_bits)
        return;
    const qint32 width = lSrcWidth < 0 ? Width() : std::min(lSrcWidth, Width());
    const qint32 height = lSrcHeight < 0 ? Height() : std::min(lSrcHeight, Height());
    // Whatever its format (palette, 8 bits, alpha), the source arrives as blue, green, red bytes.
    const QImage rect =
        source.copy(lSrcLeft, lSrcTop, width, height).convertToFormat(QImage::Format_BGR888);
    if (rect.isNull())
        return;
    const qint32 stride = BytesPerScanLine();
    for (qint32 row = 0; row < height; ++row) {
        // Bottom-up: picture row `row` is memory row Height - 1 - row.
        uchar *target = m_bits + qint64(Height() - 1 - row) * stride;
        std::memcpy(target, rect.constScanLine(row), size_t(width) * 3);
    }
}

void cDIBSection::ClearUp() {
    m_dib.reset();
    m_bits = nullptr;
}
