#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {
bool &ending() {
    static bool value = false;
    return value;
}

MessageHandler &handler() {
    static MessageHandler current;
    return current;
}

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}
// The window a box belongs to: the dialog the user works in, else the active window, else the
// program's window on the screen. A box with no owner opens wherever the screen puts it, which
// without a window manager is the top-left corner; with one it opens over its owner.
QWidget *owner() {
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget *active = QApplication::activeWindow())
        return active;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = window->windowType();
        if (window->isVisible() && (type == Qt::Window || type == Qt::Dialog))
            return window;
    }
    return nullptr;
}

} // namespace

QString appTitle() {
    return QStringLiteral("Kirrow");
}

void stopShowingMessages() {
    ending() = true;
}

void showMessage(const QString &text, const QString &title, MessageIcon icon) {
    if (ending())
        return;
    const QString caption = title.isEmpty() ? appTitle() : title;
    if (handler()) {
        handler()(text, caption, icon);
        return;
    }
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, owner());
    box.exec();
}

void showInputError() {
    showMessage(QStringLiteral("Numbers 0 to 9 only, please!"), QStringLiteral("Input Error"),
                MessageIcon::Warning);
}

MessageHandler setMessageHandler(MessageHandler next) {
    MessageHandler previous = std::move(handler());
    handler() = std::move(next);
    return previous;
}

} // namespace platform
