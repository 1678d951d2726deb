#pragma once

#include <QRect>
#include <QString>

// Where a tip goes and how it opens: arithmetic without widgets.
namespace tooltip {

// The longest title a tip shows, in characters.
constexpr int kTitleLength = 80;

// How a tip opens (the flags of a tool's ShowMode; 0 opens it at once). A direction unrolls the
// tip from that side; with OpenSliding its content slides in with the edge instead of staying in
// place; OpenFromCentre grows it from the middle; OpenFading fades it in.
enum TipOpening : int {
    OpenLeftToRight = 0x1,
    OpenRightToLeft = 0x2,
    OpenTopToBottom = 0x4,
    OpenBottomToTop = 0x8,
    OpenFromCentre = 0x10,
    OpenSliding = 0x40000,
    OpenFading = 0x80000,
};

// How long a tip takes to open, in milliseconds.
constexpr int kOpeningMs = 200;

// The title line a tip shows for the title it was given: at most kTitleLength characters of it,
// without the spaces at either end. Empty means no title line.
QString shownTitle(const QString &Title);

// Whether a tip with this ShowMode opens gradually.
bool opensGradually(int ShowMode);

// The part of a tip of the given size that shows at a stage of its opening (0 to 1): never less
// than one pixel each way, the whole tip at 1.
QRect openingRect(QSize size, int ShowMode, qreal stage);

// Where the content of a sliding tip is drawn at a stage of its opening: it moves in with the
// edge that opens it, so its far side shows first. (0, 0) for a tip that does not slide.
QPoint slideOffset(QSize size, int ShowMode, qreal stage);

// The horizontal text alignment for a tool's Alignment: 0 left, 1 centred, 2 right.
Qt::Alignment textAlignment(int Alignment);

// A tip's place on the screen. A centred tip hangs from the middle of the tool's bottom edge;
// any other sits a pointer's height below the pointer, from its tip. Without room below it goes
// above (the tool's top edge, or the pointer); sideways it is kept on the screen.
struct TipPlace {
    QRect geometry;
    bool below = true;
};
constexpr int kPointerHeight = 20;
TipPlace placeTip(const QRect &tool, QSize tip, const QRect &screen, bool centred, QPoint pointer);

} // namespace tooltip
