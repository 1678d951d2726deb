#pragma once

#include <QClipboard>
#include <QLineEdit>

#include <optional>

class QKeyEvent;

// The character a key types, as a text box is given it: Ctrl with a letter gives its control
// character (Ctrl+V is 22), Enter gives CR, Backspace 8. Keys that type nothing (arrows, Delete,
// Tab, Esc, function keys) give none.
std::optional<QChar> typedCharacter(const QKeyEvent &event);

// A digit or Backspace.
bool isNumberKey(QChar key);
// Text that may go into a number box as it stands: one or more digits and nothing else.
bool isDigitsOnly(const QString &text);

// A text box that takes digits only, however they come: typed, pasted with the keyboard or the
// context menu, pasted with the middle button, or composed by an input method. Anything else is
// refused whole and the box stays as it was.
class DigitBox : public QLineEdit {
    Q_OBJECT
public:
    explicit DigitBox(QWidget *parent = nullptr);

signals:
    // Something other than digits was offered.
    void refused();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    void pasteDigits(QClipboard::Mode mode);
};
