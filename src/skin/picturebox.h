#pragma once

#include <QAccessible>
#include <QLabel>

#include <optional>

// A picture that acts as a button: it shows an image (or, until one is given, a caption) and
// reports clicks and the pointer's movements over it, in its own pixel coordinates. A screen
// reader sees it as a button named by its accessible name (or its caption), which it can press.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    // Shows a picture and takes its size, as a picture box that sizes itself to its picture does.
    void setPicture(const QPixmap &picture);
    // The same, keeping the picture as it was loaded (an 8-bit skin stays 8-bit) for picture().
    void setPicture(const QImage &picture);
    // The picture as it was given.
    QImage picture() const;

    // What the box is to a screen reader: a button, unless it was told otherwise or other
    // controls sit on it (then it is the pane they are on, as a skin is).
    QAccessible::Role accessibleRole() const;
    void setAccessibleRole(QAccessible::Role role) { m_role = role; }

    // Lets the keyboard reach and press the box as a button: Tab stops on it (a click does not
    // take the keyboard from where it is), and Space or Enter presses it.
    void setPressableByKeyboard(bool pressable);

    // Presses the box as a click does, when it is enabled.
    void click();

signals:
    void clicked();
    void mousePressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPointF position);
    void mouseMoved(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPointF position);
    void mouseReleased(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPointF position);
    // The box was disabled or hidden while it held the pointer, and has let it go: a widget that
    // takes no pointer events could never give it back.
    void pointerLost();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void letGoOfPointer();

    bool m_pressed = false;
    QImage m_picture;
    std::optional<QAccessible::Role> m_role;
};
