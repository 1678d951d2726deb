#include "picturebox.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace {

// A picture box as a screen reader sees it: its role, its name (the caption when it was given no
// accessible name), and for a button the press action.
class AccessiblePictureBox : public QAccessibleWidget {
public:
    explicit AccessiblePictureBox(PictureBox *box) : QAccessibleWidget(box) {}

    QAccessible::Role role() const override { return box()->accessibleRole(); }

    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty())
            text = box()->text();
        return text;
    }

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (role() == QAccessible::Button && box()->isEnabled())
            names.prepend(pressAction());
        return names;
    }

    void doAction(const QString &actionName) override {
        if (actionName == pressAction() && role() == QAccessible::Button)
            box()->click();
        else
            QAccessibleWidget::doAction(actionName);
    }

private:
    PictureBox *box() const { return static_cast<PictureBox *>(widget()); }
};

QAccessibleInterface *pictureBoxAccessible(const QString &className, QObject *object) {
    if (className == QLatin1String("PictureBox") && object && object->isWidgetType())
        return new AccessiblePictureBox(static_cast<PictureBox *>(object));
    return nullptr;
}

} // namespace

PictureBox::PictureBox(QWidget *parent) : QLabel(parent) {
    // A plain label would be read as text, not as something to press.
    static const bool accessible = (QAccessible::installFactory(pictureBoxAccessible), true);
    Q_UNUSED(accessible);
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

QAccessible::Role PictureBox::accessibleRole() const {
    if (m_role)
        return *m_role;
    return findChild<QWidget *>(QString(), Qt::FindDirectChildrenOnly) ? QAccessible::Client
                                                                       : QAccessible::Button;
}

void PictureBox::setPressableByKeyboard(bool pressable) {
    setFocusPolicy(pressable ? Qt::TabFocus : Qt::NoFocus);
}

void PictureBox::click() {
    if (isEnabled())
        emit clicked();
}

void PictureBox::keyPressEvent(QKeyEvent *event) {
    const int key = event->key();
    if (focusPolicy() != Qt::NoFocus && !event->isAutoRepeat() &&
        (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        click();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

// The picture, and around it the focus frame while the keyboard is on the box.
void PictureBox::paintEvent(QPaintEvent *event) {
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect().adjusted(1, 1, -1, -1);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
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
