#pragma once

#include "tooltiplayout.h"

#include <QColor>
#include <QIcon>
#include <QPainterPath>
#include <QWidget>

class QPropertyAnimation;

namespace tooltip {

// What one tip shows and how it looks.
struct TipLook {
    QString text;
    QString title; // shown as it stands; empty for no title line
    QIcon icon;    // beside the title
    QColor foreground;
    QColor background;
    bool balloon = false; // rounded, with a stem pointing at the tool; otherwise a framed box
    int margin = 0;       // pixels around the text, on all four sides
    int alignment = 0;    // 0 left, 1 centred, 2 right
    int width = 0;        // the text wraps at this many pixels; 0 keeps each line whole
};

} // namespace tooltip

// The popup that shows a tip: a window of its own above every other, that takes neither the
// keyboard nor the pointer, so the window under it goes on as if it were not there.
class TooltipWindow : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal opening READ opening WRITE setOpening)
public:
    TooltipWindow();
    ~TooltipWindow() override;

    // Shows a tip for a tool at the given place of the screen (global coordinates), placed as
    // tooltip::placeTip says, opening as ShowMode says.
    void popUp(const tooltip::TipLook &look, const QRect &tool, bool centred, QPoint pointer,
               int ShowMode);
    // Takes the tip away.
    void pop();

    const tooltip::TipLook &look() const { return m_look; }
    // Where the text is drawn, in the window's coordinates.
    QRect textRect() const { return m_textRect; }
    // Whether the tip is still opening.
    bool isOpening() const;

    qreal opening() const { return m_opening; }
    void setOpening(qreal stage);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void layOut(const QRect &tool, bool centred, QPoint pointer);
    QRegion shape() const;

    tooltip::TipLook m_look;
    int m_showMode = 0;
    qreal m_opening = 1;
    QPropertyAnimation *m_animation = nullptr;
    QPainterPath m_outline; // a balloon's outline
    QRect m_titleRect;
    QRect m_iconRect;
    QRect m_textRect;
};
