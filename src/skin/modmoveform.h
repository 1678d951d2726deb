#pragma once

#include <QRect>

class QWidget;

// Dragging a window that has no caption bar by its skin: while the button is held, a dotted
// outline of the window follows the pointer; on release the window jumps to it. One drag at a
// time, shared by every caller. Positions X, Y are in twips of the control that got the event.
namespace modMoveForm {

// A rectangle as the screen measures it: right and bottom are exclusive.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const Rect &) const = default;
    QRect toQRect() const { return QRect(left, top, right - left, bottom - top); }
    static Rect fromQRect(const QRect &r) {
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
};

void FormDragStart(QWidget *frm, float X, float Y);
void FormDragMove(QWidget *frm, float X, float Y);
void FormDragEnd(QWidget *frm, float X, float Y);
// Takes the outline away without moving the window: the release that would end the drag goes
// elsewhere (a menu or a dialog took the pointer).
void FormDragCancel();

// The outline for a pointer at (X, Y) twips, pressed at ptPress over a window whose outer
// rectangle was windowAtPress: the window moved by the pointer's movement in pixels.
Rect outlineFor(const Rect &windowAtPress, QPoint ptPress, float X, float Y, float twipsPerPixelX,
                float twipsPerPixelY);

// Where the window goes on release, in twips of the screen.
QPointF dropPositionTwips(const Rect &windowAtPress, QPoint ptPress, float X, float Y,
                          float twipsPerPixelX, float twipsPerPixelY);

// The outlines on the screen now (for tests and for cleaning up).
QList<QRect> visibleOutlines();

} // namespace modMoveForm
