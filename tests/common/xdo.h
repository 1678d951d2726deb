#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <qwindowdefs.h>

#include <optional>

class QProcess;
class QWidget;

// The test's hands on a real X server: the pointer and the keyboard driven by xdotool, so what
// the program gets is what a user's mouse and keyboard give it, through the X server, and never
// an event made up in the test. Each helper waits until the program can see what it did (the
// pointer where it was moved, a window active) and records a test failure when xdotool fails.
namespace xdo {

// Runs xdotool with these arguments and checks that it exits with 0; returns what it printed.
QString run(const QStringList &arguments);

// Moves the pointer to a point of the screen and waits until the program sees it there.
void pointerTo(QPoint global);

// Helpers that take a QWidget (the test's own windows) are in xdowidgets.cpp, which end-to-end
// tests, driving the program in a process of its own, do not link.

// Moves the pointer to a point of the screen and clicks there: button 1 left, 2 middle, 3 right;
// repeat clicks in a row make a double click.
void clickAt(QPoint global, int button = 1, int repeat = 1);

// The same at a point of a widget, in its own coordinates; by default its centre.
void click(const QWidget *widget, std::optional<QPoint> at = std::nullopt, int button = 1,
           int repeat = 1);

// Presses and releases keys one after the other, as xdotool names them: "Return", "ctrl+a".
void key(const QStringList &keys);

// Types text key by key, as a user does.
void type(const QString &text);

// Gives the keyboard to the widget's window and waits until the program has made it the active
// window. A window manager does this when a window is clicked; the test display has none.
void focusWindow(const QWidget *widget);

// Whether the screen, as seen from the root window, shows something drawn where the window is
// (text, edges), not one flat colour: what the user sees, whatever the program thinks it painted.
bool showsContent(const QWidget *window);
// The same for a part of the screen, in screen coordinates.
bool showsContent(const QRect &onScreen);

// Whether the X server shows the window (mapped, with everything above it mapped), whatever the
// program thinks it did.
bool isViewable(const QWidget *window);
// The same for a window of another program, by its X window id.
bool isViewable(const QString &windowId);

// One icon in the desktop's tray: a program's window that the tray host (trayer) has taken into
// its panel, with its place on the screen.
struct TrayIcon {
    QString id;
    QString name;
    QRect geometry;
};
// The icons trayer's panel holds now, as the X server has them.
QList<TrayIcon> trayIcons();

// Top-level windows on the screen whose name matches the pattern (xdotool's search, a regular
// expression), as xdotool names them.
QStringList visibleWindows(const QString &namePattern);

// Where a window (as xdotool names it) is on the screen.
QRect windowGeometry(const QString &window);

// The screen's top-level windows, from the bottom up: what covers what. Under a window manager,
// the windows it manages, by the programs' own window ids.
QList<WId> stackingOrder();

// Starts openbox as the display's window manager and waits until it manages windows; the caller
// stops it (terminate) when done.
void startWindowManager(QProcess &manager);
// The state the window manager keeps the window in: "Normal", "Iconic" (minimised), or nothing
// for a window it does not manage.
QString managedState(const QWidget *window);
// The same for a window of another program, by its X window id.
QString managedState(const QString &windowId);

// Counts the top-level windows mapped on the screen while it is alive, whoever maps them: a
// program's windows and dialogs, not the popups (menus, tooltips) that pass the window manager
// by. It has its own connection to the X server.
class MapWatch {
public:
    MapWatch();
    ~MapWatch();
    MapWatch(const MapWatch &) = delete;
    MapWatch &operator=(const MapWatch &) = delete;
    // Windows mapped so far, including all that a program which has ended had mapped.
    int mappedWindows();

private:
    void *m_display = nullptr;
    int m_mapped = 0;
};

} // namespace xdo
