#pragma once

#include <QtGlobal>

#include <memory>

class QImage;

// One 24-bit bitmap in memory: bottom-up rows (the first row in memory is the picture's bottom
// row), three bytes per pixel in the order blue, green, red, each row padded to a multiple of
// four bytes. Any picture can be copied in, whatever its own format, and its pixel memory read in
// place. The object is either empty (no pixel memory) or holds exactly one bitmap.
class cDIBSection {
public:
    // The bitmap's description, as a device-independent bitmap header.
    struct BitmapInfoHeader {
        qint32 biSize = 40;
        qint32 biWidth = 0;
        qint32 biHeight = 0;
        qint16 biPlanes = 1;
        qint16 biBitCount = 24;
        qint32 biCompression = 0;
        qint32 biSizeImage = 0;
        qint32 biXPelsPerMeter = 0;
        qint32 biYPelsPerMeter = 0;
        qint32 biClrUsed = 0;
        qint32 biClrImportant = 0;
    };

    // Raster operations of LoadPictureBlt.
    static constexpr quint32 SRCCOPY = 0xCC0020;

    cDIBSection() = default;
    ~cDIBSection() { ClearUp(); }
    cDIBSection(const cDIBSection &) = delete;
    cDIBSection &operator=(const cDIBSection &) = delete;

    // Releases what is held, then makes a new bitmap of the given size. False when it cannot be
    // made (sizes not positive, too large to address, no memory); the object is then empty.
    bool Create(qint32 lWidth, qint32 lHeight);

    // Describes a bitmap of the given size in the header and allocates its pixel memory into
    // hDib. True when there is memory. Does not release an earlier bitmap: Create does that.
    bool CreateDIB(qint32 lWidth, qint32 lHeight, std::unique_ptr<uchar[]> &hDib);

    // Becomes a copy of the picture at the picture's own size, converted to 24 bits. An empty
    // picture, or one too large, leaves the object empty.
    void CreateFromPicture(const QImage &picThis);

    // Copies a rectangle of the source, from (lSrcLeft, lSrcTop), to the bitmap's top-left
    // corner. A negative width or height means the bitmap's. Only SRCCOPY is supported.
    void LoadPictureBlt(const QImage &source, qint32 lSrcLeft, qint32 lSrcTop, qint32 lSrcWidth,
                        qint32 lSrcHeight, quint32 eRop = SRCCOPY);

    // 3 × width rounded up to a multiple of 4. Throws std::overflow_error past 32 bits.
    qint32 BytesPerScanLine() const;
    qint32 Width() const { return m_header.biWidth; }
    qint32 Height() const { return m_header.biHeight; }
    // The pixel memory; null when the object is empty. Valid until the next Create,
    // CreateFromPicture, ClearUp or the object's end.
    uchar *DIBSectionBitsPtr() const { return m_bits; }
    const BitmapInfoHeader &Header() const { return m_header; }

    // Releases the bitmap; the object is empty again.
    void ClearUp();

private:
    BitmapInfoHeader m_header;
    std::unique_ptr<uchar[]> m_dib;
    uchar *m_bits = nullptr;
};

// Bytes of one row of a 24-bit bitmap of the given width; throws std::overflow_error when that
// does not fit in 32 bits.
qint32 bytesPerScanLine(qint64 width);
