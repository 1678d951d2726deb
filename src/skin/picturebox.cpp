#include "picturebox.h"

#include <QMouseEvent>

PictureBox::PictureBox(QWidget *parent) : QLabel(parent) {
    setMouseTracking(true);
    setAlignment(Qt::AlignCenter);
}

void PictureBox::setPicture(const QPixmap &picture) {
    if (picture.isNull())
        return; // keeps its caption until there is a picture
    setText(QString());
    setFrameShape(QFrame::NoFrame);
    setPixmap(picture);
    resize(picture.size());
    m_picture = QImage();
}

void PictureBox::setPicture(const QImage &picture) {
    if (picture.isNull())
        return;
    setPicture(QPixmap::fromImage(picture));
    m_picture = picture;
}

QImage PictureBox::picture() const {
    return m_picture.isNull() ? pixmap().toImage() : m_picture;
}

void PictureBox::mousePressEvent(QMouseEvent *event) {
    emit mousePressed(event->button(), event->modifiers(), event->position());
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    // The press is this box's: passed on, it would start a drag of the skin behind the box whose
    // release, taken by this box, never comes.
    event->accept();
}

void PictureBox::mouseMoveEvent(QMouseEvent *event) {
    emit mouseMoved(event->buttons(), event->modifiers(), event->position());
    QLabel::mouseMoveEvent(event);
}

// A click is a left press and release over the same box, as on a button.
void PictureBox::mouseReleaseEvent(QMouseEvent *event) {
    emit mouseReleased(event->button(), event->modifiers(), event->position());
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click)
        emit clicked();
}

void PictureBox::changeEvent(QEvent *event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        letGoOfPointer();
    QLabel::changeEvent(event);
}

void PictureBox::hideEvent(QHideEvent *event) {
    letGoOfPointer();
    QLabel::hideEvent(event);
}

void PictureBox::letGoOfPointer() {
    m_pressed = false;
    if (mouseGrabber() != this)
        return;
    releaseMouse();
    emit pointerLost();
}
