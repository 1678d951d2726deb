// The message box under platform::showMessage. The linker keeps this file in every program that
// links kirrow_platform (see CMakeLists.txt), so the box is in place before main() without the
// program asking for it, and the libraries below the widgets never link them.

#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {

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

void showBox(const QString &text, const QString &caption, MessageIcon icon) {
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, owner());
    box.exec();
}

bool askBox(const QString &text, const QString &caption) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

[[maybe_unused]] const bool installed = (setMessageBox(showBox), setQuestionBox(askBox), true);

} // namespace

} // namespace platform

// What the linker is told to keep: it keeps the file, and with it the box installed above.
extern "C" void kirrow_message_boxes() {}
