#pragma once

#include "picturebox.h"

// A volume knob: its picture with a raised edge drawn over the given rectangle at every repaint.
// A screen reader sees it as a slider.
class KnobBox : public PictureBox {
    Q_OBJECT
public:
    explicit KnobBox(QWidget *parent = nullptr);
    void setEdgeRect(const QRect &edge);
    QRect edgeRect() const { return m_edge; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect m_edge;
};
