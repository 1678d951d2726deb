#include "digitbox.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>

std::optional<QChar> typedCharacter(const QKeyEvent &event) {
    const int key = event.key();
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (modifiers.testFlag(Qt::ControlModifier) && !modifiers.testFlag(Qt::AltModifier) &&
        key >= Qt::Key_A && key <= Qt::Key_Z)
        return QChar(key - Qt::Key_A + 1);
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QChar('\r');
    case Qt::Key_Backspace:
        return QChar('\b');
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Delete:
        return std::nullopt;
    default:
        break;
    }
    const QString text = event.text();
    if (text.isEmpty())
        return std::nullopt;
    return text.at(0);
}

bool isNumberKey(QChar key, const QString &extra) {
    return (key >= QLatin1Char('0') && key <= QLatin1Char('9')) || key == QLatin1Char('\b') ||
           extra.contains(key);
}

bool isDigitsOnly(const QString &text, const QString &extra) {
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if ((c < QLatin1Char('0') || c > QLatin1Char('9')) &&
            (c.category() == QChar::Other_Control || !extra.contains(c)))
            return false;
    return true;
}

DigitBox::DigitBox(QWidget *parent, const QString &extraKeys)
    : QLineEdit(parent), m_extraKeys(extraKeys) {
    // Dropped text would bypass the filter; a number box takes none.
    setAcceptDrops(false);
}

void DigitBox::keyPressEvent(QKeyEvent *event) {
    const std::optional<QChar> typed = typedCharacter(*event);
    if (!typed) {
        // Shift+Insert pastes without typing a character.
        if (event->matches(QKeySequence::Paste)) {
            pasteDigits(QClipboard::Clipboard);
            return;
        }
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (!isNumberKey(*typed, m_extraKeys)) {
        emit refused();
        return;
    }
    if (m_keyHandler && !m_keyHandler(*typed)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void DigitBox::contextMenuEvent(QContextMenuEvent *event) {
    QMenu *menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The menu's Paste goes through the filter; every other item stays as it is.
    for (QAction *action : menu->actions())
        if (disconnect(action, SIGNAL(triggered()), this, SLOT(paste())) ||
            disconnect(action, &QAction::triggered, this, &QLineEdit::paste))
            connect(action, &QAction::triggered, this,
                    [this] { pasteDigits(QClipboard::Clipboard); });
    menu->popup(event->globalPos());
}

void DigitBox::mouseReleaseEvent(QMouseEvent *event) {
    // The middle button pastes the selection on X11.
    if (event->button() == Qt::MiddleButton) {
        pasteDigits(QClipboard::Selection);
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void DigitBox::inputMethodEvent(QInputMethodEvent *event) {
    const QString text = event->commitString();
    if (!text.isEmpty() && !isDigitsOnly(text, m_extraKeys)) {
        emit refused();
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

void DigitBox::pasteDigits(QClipboard::Mode mode) {
    if (isReadOnly())
        return;
    const QString text = QApplication::clipboard()->text(mode);
    if (text.isEmpty())
        return;
    if (!isDigitsOnly(text, m_extraKeys)) {
        emit refused();
        return;
    }
    insert(text);
}
