#include "xdo.h"

#include <QCursor>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QtTest>

// After Qt's headers: Xlib's macros (None, Bool, Status) would clash with them.
#include <X11/Xlib.h>

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

void key(const QStringList &keys) {
    run(QStringList{QStringLiteral("key"), QStringLiteral("--delay"),
                    QString::number(kKeyDelayMs)} +
        keys);
}

void type(const QString &text) {
    run({QStringLiteral("type"), QStringLiteral("--delay"), QString::number(kKeyDelayMs),
         QStringLiteral("--"), text});
}

bool showsContent(const QRect &r) {
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
                            .toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2)
            colours.insert(shot.pixel(x, y));
    return colours.size() >= 4;
}

QStringList visibleWindows(const QString &namePattern) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                   QStringLiteral("--name"), namePattern});
    xdotool.waitForFinished(kRunTimeoutMs);
    // xdotool ends with 1 when no window matches.
    return QString::fromLocal8Bit(xdotool.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QRect windowGeometry(const QString &window) {
    QRect geometry;
    const QStringList lines =
        run({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window})
            .split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString value = line.section(QLatin1Char('='), 1);
        if (line.startsWith(QLatin1String("X=")))
            geometry.moveLeft(value.toInt());
        else if (line.startsWith(QLatin1String("Y=")))
            geometry.moveTop(value.toInt());
        else if (line.startsWith(QLatin1String("WIDTH=")))
            geometry.setWidth(value.toInt());
        else if (line.startsWith(QLatin1String("HEIGHT=")))
            geometry.setHeight(value.toInt());
    }
    return geometry;
}

namespace {
QString xprop(const QStringList &arguments) {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), arguments);
    xprop.waitForFinished(kRunTimeoutMs);
    return QString::fromLocal8Bit(xprop.readAllStandardOutput());
}

// Whether a window manager of that name runs. It announces itself on the root window once it
// manages windows, through a window of its own: one that went before it may have left its
// announcement (and its lists) behind.
bool windowManagerRuns(const QString &name = {}) {
    static const QRegularExpression check(QStringLiteral("window id # (0x[0-9a-f]+)"));
    const QString id =
        check.match(xprop({QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")}))
            .captured(1);
    if (id.isEmpty())
        return false;
    const QString named = xprop({QStringLiteral("-id"), id, QStringLiteral("_NET_WM_NAME")});
    return named.startsWith(QLatin1String("_NET_WM_NAME(")) && named.contains(name);
}
} // namespace

QList<WId> stackingOrder() {
    QList<WId> windows;
    // A window manager keeps its windows inside frames of its own, and says in which order.
    static const QRegularExpression managed(QStringLiteral("0x[0-9a-f]+"));
    const QString stacking =
        xprop({QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    if (stacking.contains(QLatin1String("window id #")) && windowManagerRuns()) {
        for (const QRegularExpressionMatch &m : managed.globalMatch(stacking))
            windows << m.captured().toULongLong(nullptr, 16);
        return windows;
    }
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"),
                   {QStringLiteral("-root"), QStringLiteral("-children")});
    xwininfo.waitForFinished(kRunTimeoutMs);
    // "     0x400005 "Kirrow": ("kirrow" "Kirrow")  356x436+334+166  +334+166", the top first
    static const QRegularExpression child(QStringLiteral("^\\s+(0x[0-9a-f]+) "),
                                          QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch &m :
         child.globalMatch(QString::fromLocal8Bit(xwininfo.readAllStandardOutput())))
        windows.prepend(m.captured(1).toULongLong(nullptr, 16));
    return windows;
}

QString managedState(const QString &windowId) {
    static const QRegularExpression state(QStringLiteral("window state: (\\w+)"));
    return state.match(xprop({QStringLiteral("-id"), windowId, QStringLiteral("WM_STATE")}))
        .captured(1);
}

void startWindowManager(QProcess &manager) {
    manager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    QVERIFY2(manager.waitForStarted(), "openbox is needed (scripts/deps installs it)");
    QTRY_VERIFY_WITH_TIMEOUT(windowManagerRuns(QStringLiteral("Openbox")), kRunTimeoutMs);
}

MapWatch::MapWatch() {
    Display *display = XOpenDisplay(nullptr);
    QVERIFY2(display, "no X display to watch");
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    m_display = display;
}

MapWatch::~MapWatch() {
    if (m_display)
        XCloseDisplay(static_cast<Display *>(m_display));
}

int MapWatch::mappedWindows() {
    auto *display = static_cast<Display *>(m_display);
    if (!display)
        return -1;
    // Once the server has answered this, every map it did before is among the events.
    XSync(display, False);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify && !event.xmap.override_redirect)
            ++m_mapped;
    }
    return m_mapped;
}

namespace {

// What an X client program prints, or a failed test when it cannot run.
QString output(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(kRunTimeoutMs);
    [&] {
        QVERIFY2(finished && process.exitStatus() == QProcess::NormalExit &&
                     process.exitCode() == 0,
                 qPrintable(program + " " + arguments.join(' ') +
                            " failed: " + QString::fromLocal8Bit(process.readAllStandardError())));
    }();
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

} // namespace

bool isViewable(const QString &windowId) {
    return output(QStringLiteral("xwininfo"), {QStringLiteral("-id"), windowId})
        .contains(QLatin1String("Map State: IsViewable"));
}

QList<TrayIcon> trayIcons() {
    // In the window tree, below trayer's panel, each icon is a named window with a class (the
    // program's own window), inside a socket window of trayer's.
    static const QRegularExpression line(QStringLiteral(
        R"(^(\s*)(0x[0-9a-f]+) (.*?)(?:: \((.*)\))?\s+(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+?(-?\d+)\+?(-?\d+)\s*$)"));
    const QStringList tree =
        output(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})
            .split(QLatin1Char('\n'));
    QList<TrayIcon> icons;
    qsizetype panelIndent = -1;
    for (const QString &text : tree) {
        const auto m = line.match(text);
        if (!m.hasMatch())
            continue;
        const qsizetype indent = m.captured(1).size();
        if (m.captured(4) == QLatin1String("\"panel\" \"trayer\"")) {
            panelIndent = indent;
            continue;
        }
        if (panelIndent < 0)
            continue;
        if (indent <= panelIndent) {
            panelIndent = -1; // past the panel's windows
            continue;
        }
        if (m.captured(4).isEmpty() || m.captured(3) == QLatin1String("(has no name)"))
            continue;
        QString name = m.captured(3);
        if (name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
            name = name.mid(1, name.size() - 2);
        icons.append({m.captured(2), name,
                      QRect(m.captured(7).toInt(), m.captured(8).toInt(), m.captured(5).toInt(),
                            m.captured(6).toInt())});
    }
    return icons;
}

} // namespace xdo
