#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {
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
} // namespace

QString appTitle() {
    return QStringLiteral("Kirrow");
}

void showMessage(const QString &text, const QString &title, MessageIcon icon) {
    const QString caption = title.isEmpty() ? appTitle() : title;
    if (handler()) {
        handler()(text, caption, icon);
        return;
    }
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, QApplication::activeWindow());
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
