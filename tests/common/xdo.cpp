#include "xdo.h"

#include <QApplication>
#include <QCursor>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QWidget>
#include <QtTest>

namespace xdo {

namespace {
constexpr int kRunTimeoutMs = 20000;
constexpr int kKeyDelayMs = 30; // between keys typed, and between clicks of a double click
} // namespace

QString run(const QStringList &arguments) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), arguments);
    const bool finished = xdotool.waitForFinished(kRunTimeoutMs);
    if (!finished) {
        xdotool.kill();
        xdotool.waitForFinished();
    }
    const QString printed = QString::fromLocal8Bit(xdotool.readAllStandardOutput());
    [&] {
        QVERIFY2(finished && xdotool.exitStatus() == QProcess::NormalExit &&
                     xdotool.exitCode() == 0,
                 qPrintable(QStringLiteral("xdotool %1 failed: %2 %3")
                                .arg(arguments.join(QLatin1Char(' ')), xdotool.errorString(),
                                     QString::fromLocal8Bit(xdotool.readAllStandardError()))));
    }();
    return printed;
}

void pointerTo(QPoint global) {
    run({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y())});
    QTRY_COMPARE(QCursor::pos(), global);
}

void clickAt(QPoint global, int button, int repeat) {
    pointerTo(global);
    run({QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(repeat),
         QStringLiteral("--delay"), QString::number(kKeyDelayMs), QString::number(button)});
}

void click(const QWidget *widget, std::optional<QPoint> at, int button, int repeat) {
    QVERIFY2(widget->isVisible(), qPrintable(widget->objectName() + " is not on the screen"));
    clickAt(widget->mapToGlobal(at.value_or(widget->rect().center())), button, repeat);
}

void key(const QStringList &keys) {
    run(QStringList{QStringLiteral("key"), QStringLiteral("--delay"),
                    QString::number(kKeyDelayMs)} +
        keys);
}

void type(const QString &text) {
    run({QStringLiteral("type"), QStringLiteral("--delay"), QString::number(kKeyDelayMs),
         QStringLiteral("--"), text});
}

void focusWindow(const QWidget *widget) {
    QWidget *window = widget->window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    run({QStringLiteral("windowfocus"), QStringLiteral("--sync"),
         QString::number(window->winId())});
    QTRY_COMPARE(QApplication::activeWindow(), window);
}

bool showsContent(const QWidget *window) {
    const QRect r = window->frameGeometry();
    const QImage shot =
        QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height())
            .toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2)
            colours.insert(shot.pixel(x, y));
    return colours.size() >= 4;
}

} // namespace xdo
