#include "knobbox.h"

#include <QPainter>
#include <qdrawutil.h>

KnobBox::KnobBox(QWidget *parent) : PictureBox(parent) {
    setAccessibleRole(QAccessible::Slider);
}

void KnobBox::setEdgeRect(const QRect &edge) {
    m_edge = edge;
    update();
}

void KnobBox::paintEvent(QPaintEvent *event) {
    PictureBox::paintEvent(event);
    if (m_edge.isEmpty())
        return;
    QPainter painter(this);
    // Raised outer and inner edge on all four sides.
    qDrawWinPanel(&painter, m_edge, palette(), false);
}
