// xdo's helpers that take the test's own widgets: for tests that build windows in their own
// process. End-to-end tests, which drive the program in a process of its own, go without them.

#include "xdo.h"

#include <QApplication>
#include <QWidget>
#include <QtTest>

namespace xdo {

void click(const QWidget *widget, std::optional<QPoint> at, int button, int repeat) {
    QVERIFY2(widget->isVisible(), qPrintable(widget->objectName() + " is not on the screen"));
    clickAt(widget->mapToGlobal(at.value_or(widget->rect().center())), button, repeat);
}

void focusWindow(const QWidget *widget) {
    QWidget *window = widget->window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    run({QStringLiteral("windowfocus"), QStringLiteral("--sync"),
         QString::number(window->winId())});
    QTRY_COMPARE(QApplication::activeWindow(), window);
}

bool showsContent(const QWidget *window) {
    return showsContent(window->frameGeometry());
}

QString managedState(const QWidget *window) {
    return managedState(QString::number(window->winId()));
}

bool isViewable(const QWidget *window) {
    return isViewable(QString::number(window->winId()));
}

} // namespace xdo
