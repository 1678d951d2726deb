#pragma once

#include "cdibsection.h"

#include <QPoint>
#include <QRegion>

class PictureBox;
class QImage;
class QWidget;

// A window outline cut from a skin picture: every pixel whose colour differs from one
// transparent colour is inside. Used once per window load: scan, offset, apply, release.
class Region {
public:
    // The outline built by ScanPicture, in picture coordinates (then window coordinates after
    // OffsetHeader); empty until a scan.
    QRegion hndRegion;

    // Builds the outline. transColor 1 means "the colour of the bottom-left pixel", which is
    // then written back; any other value is compared as blue + 256 × green + 65536 × red. Each
    // run of opaque pixels in a row is one rectangle; the last column is never inside. An empty
    // or unreadable picture gives an empty outline.
    void ScanPicture(const QImage &picture, qint32 &transColor);

    // Moves the outline past the window's border and caption, for a window that has them.
    void OffsetHeader(QWidget *tmpForm);

    // Gives the window a copy of the outline as its mask.
    void ApplyRgn(QWidget *hWnd) const;

private:
    cDIBSection m_dib;
};

// What every skinned window does when it loads: cuts its outline from the picture of its skin
// box (the bottom-left pixel's colour is transparent), takes the box's picture as its own
// background and the outline as its mask. The background shares the box's pixmap: a skin
// converted to screen pixels once more would cost the window another 450 KiB for the same image.
void shapeFromPicture(QWidget *form, const PictureBox &skin);

// Border width and caption-plus-top-border height of a framed window, from its outer and
// client sizes in pixels.
QPoint headerOffset(int outerWidth, int outerHeight, int clientWidth, int clientHeight);
