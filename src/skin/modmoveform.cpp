#include "modmoveform.h"

#include "twips.h"

#include <QCoreApplication>
#include <QPainter>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

namespace modMoveForm {

namespace {

// One side of a dotted outline: a thin top-level strip above everything, which the pointer
// passes through. A composited desktop has no exclusive-or drawing on the screen, so an outline
// is four such strips; drawing the same rectangle again takes them away, as exclusive-or would.
class OutlineStrip : public QWidget {
public:
    OutlineStrip()
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::WindowTransparentForInput | Qt::X11BypassWindowManagerHint) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        QPen dotted(Qt::black, 1, Qt::CustomDashLine);
        dotted.setDashPattern({1, 1});
        painter.fillRect(rect(), Qt::white);
        painter.setPen(dotted);
        if (width() >= height())
            painter.drawLine(0, 0, width(), 0);
        else
            painter.drawLine(0, 0, 0, height());
    }
};

struct Outline {
    Rect rect;
    std::array<std::unique_ptr<OutlineStrip>, 4> sides;
};

std::vector<Outline> &outlines() {
    static std::vector<Outline> shown;
    // Outlines still up when the program ends (it quit in the middle of a drag) go with the
    // application, not after it, when windows can no longer be destroyed.
    static const bool clearedAtExit = [] {
        qAddPostRoutine([] { outlines().clear(); });
        return true;
    }();
    Q_UNUSED(clearedAtExit);
    return shown;
}

// Draws the outline of r, or takes it away when it is already drawn.
void DrawFocusRect(const Rect &r) {
    if (r.right <= r.left || r.bottom <= r.top)
        return; // an empty rectangle draws nothing
    auto &shown = outlines();
    for (auto it = shown.begin(); it != shown.end(); ++it) {
        if (it->rect == r) {
            shown.erase(it);
            return;
        }
    }
    Outline outline{r, {}};
    const QRect q = r.toQRect();
    const QRect sides[4] = {{q.left(), q.top(), q.width(), 1},
                            {q.left(), q.bottom(), q.width(), 1},
                            {q.left(), q.top(), 1, q.height()},
                            {q.right(), q.top(), 1, q.height()}};
    for (int i = 0; i < 4; ++i) {
        outline.sides[i] = std::make_unique<OutlineStrip>();
        outline.sides[i]->setGeometry(sides[i]);
        outline.sides[i]->show();
    }
    shown.push_back(std::move(outline));
}

QPoint ptPress;
Rect rcWindowAtPress;
float sngTwipsPerPixelX = platform::kDesignTwipsPerPixel;
float sngTwipsPerPixelY = platform::kDesignTwipsPerPixel;
Rect rcOutline;
Rect rcLastOutline;

} // namespace

Rect outlineFor(const Rect &windowAtPress, QPoint press, float X, float Y, float twipsPerPixelX,
                float twipsPerPixelY) {
    const double dx = (platform::roundHalfEven(X) - press.x()) / double(twipsPerPixelX);
    const double dy = (platform::roundHalfEven(Y) - press.y()) / double(twipsPerPixelY);
    return {platform::roundHalfEven(windowAtPress.left + dx),
            platform::roundHalfEven(windowAtPress.top + dy),
            platform::roundHalfEven(windowAtPress.right + dx),
            platform::roundHalfEven(windowAtPress.bottom + dy)};
}

QPointF dropPositionTwips(const Rect &windowAtPress, QPoint press, float X, float Y,
                          float twipsPerPixelX, float twipsPerPixelY) {
    return {windowAtPress.left * twipsPerPixelX + X - press.x(),
            windowAtPress.top * twipsPerPixelY + Y - press.y()};
}

void FormDragStart(QWidget *frm, float X, float Y) {
    ptPress = QPoint(platform::roundHalfEven(X), platform::roundHalfEven(Y));
    rcWindowAtPress = Rect::fromQRect(frm->frameGeometry());
    sngTwipsPerPixelX = platform::screenTwipsPerPixelX();
    sngTwipsPerPixelY = platform::screenTwipsPerPixelY();
    // The outline starts where the window is, so a press shows at once what will move.
    rcOutline = rcWindowAtPress;
    DrawFocusRect(rcOutline);
    rcLastOutline = rcOutline;
}

void FormDragMove(QWidget *, float X, float Y) {
    rcOutline = outlineFor(rcWindowAtPress, ptPress, X, Y, sngTwipsPerPixelX, sngTwipsPerPixelY);
    DrawFocusRect(rcLastOutline);
    DrawFocusRect(rcOutline);
    rcLastOutline = rcOutline;
}

void FormDragEnd(QWidget *frm, float X, float Y) {
    DrawFocusRect(rcLastOutline);
    const QPointF twips =
        dropPositionTwips(rcWindowAtPress, ptPress, X, Y, sngTwipsPerPixelX, sngTwipsPerPixelY);
    frm->move(platform::roundHalfEven(twips.x() / sngTwipsPerPixelX),
              platform::roundHalfEven(twips.y() / sngTwipsPerPixelY));
}

void FormDragCancel() {
    outlines().clear();
    rcLastOutline = Rect();
}

QList<QRect> visibleOutlines() {
    QList<QRect> rects;
    for (const Outline &outline : outlines())
        rects << outline.rect.toQRect();
    return rects;
}

} // namespace modMoveForm
