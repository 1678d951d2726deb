#include "hoverbuttons.h"

#include "picturebox.h"

#include <QCursor>

namespace skin {

HoverButtons::HoverButtons(std::function<QPixmap(const QString &)> pictures, QObject *parent)
    : QObject(parent), m_pictures(std::move(pictures)) {}

HoverButtons::~HoverButtons() {
    EndHover();
}

void HoverButtons::add(PictureBox *box, const QString &normal, const QString &lit,
                       bool mouseUpStep) {
    const int i = m_buttons.size();
    m_buttons.push_back({box, normal, lit, mouseUpStep});
    box->setPicture(m_pictures(normal));
    connect(box, &PictureBox::mouseMoved, this,
            [this, i](Qt::MouseButtons, Qt::KeyboardModifiers, QPointF at) {
                ImageButton_MouseMove(m_buttons[i], at);
            });
    connect(box, &PictureBox::mouseReleased, this,
            [this, i](Qt::MouseButton, Qt::KeyboardModifiers, QPointF) {
                ImageButton_MouseUp(m_buttons[i]);
            });
    connect(box, &PictureBox::pointerLost, this, [this, box] {
        if (m_capturing == box)
            EndHover();
    });
}

void HoverButtons::ImageButton_MouseMove(const ImageButton &B, QPointF position) {
    if (!blnHovering) {
        blnHovering = true;
        B.box->setPicture(m_pictures(B.lit));
        B.box->grabMouse();
        m_capturing = B.box;
        return;
    }
    const qreal X = position.x();
    const qreal Y = position.y();
    // The right and bottom edges count as inside.
    if (X < 0 || Y < 0 || X > B.box->width() || Y > B.box->height()) {
        blnHovering = false;
        B.box->setPicture(m_pictures(B.normal));
        B.box->releaseMouse();
        m_capturing = nullptr;
    }
}

void HoverButtons::ImageButton_MouseUp(const ImageButton &B) {
    // Only a button the pointer is still over, that can be pressed, takes it back: a disabled or
    // hidden one gets no pointer events and would keep the whole screen's pointer.
    if (!B.mouseUpStep || !B.box->isEnabled() || !B.box->isVisible() ||
        !B.box->rect().contains(B.box->mapFromGlobal(QCursor::pos())))
        return;
    blnHovering = true;
    B.box->grabMouse();
    m_capturing = B.box;
}

void HoverButtons::EndHover() {
    if (!m_capturing)
        return;
    if (QWidget::mouseGrabber() == m_capturing)
        m_capturing->releaseMouse();
    for (const ImageButton &B : m_buttons)
        if (B.box == m_capturing)
            B.box->setPicture(m_pictures(B.normal));
    m_capturing = nullptr;
    blnHovering = false;
}

} // namespace skin
