#pragma once

#include <QClipboard>
#include <QLineEdit>

#include <functional>
#include <optional>

class QKeyEvent;

// The character a key types, as a text box is given it: Ctrl with a letter gives its control
// character (Ctrl+V is 22), Enter gives CR, Backspace 8. Keys that type nothing (arrows, Delete,
// Tab, Esc, function keys) give none.
std::optional<QChar> typedCharacter(const QKeyEvent &event);

// A digit, Backspace, or one of extra.
bool isNumberKey(QChar key, const QString &extra = QString());
// Text that may go into a number box as it stands: one or more digits (or characters of extra
// that are not control characters) and nothing else.
bool isDigitsOnly(const QString &text, const QString &extra = QString());

// A text box that takes digits only, however they come: typed, pasted with the keyboard or the
// context menu, pasted with the middle button, or composed by an input method. Anything else is
// refused whole and the box stays as it was. The filter lives in the box's own event handlers,
// so it holds also where a combo box hands the box its keys by calling event() directly.
class DigitBox : public QLineEdit {
    Q_OBJECT
public:
    // extraKeys: characters taken besides the digits and Backspace, e.g. "*#" and '\r' (Enter)
    // for a telephone's number.
    explicit DigitBox(QWidget *parent = nullptr, const QString &extraKeys = QString());

    // Sees every key the box takes, before the box applies it; returning false keeps the box as
    // it is.
    void setKeyHandler(std::function<bool(QChar key)> handler) {
        m_keyHandler = std::move(handler);
    }

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

    QString m_extraKeys;
    std::function<bool(QChar)> m_keyHandler;
};
