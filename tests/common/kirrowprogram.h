#pragma once

#include "screenreader.h"

#include <QProcess>
#include <QRect>
#include <QString>
#include <QTemporaryDir>

// Starts the program itself, as a user starts it (in kirrow's environment), and logs in by typing
// into its login dialog with xdotool as soon as it shows: the fields in tab order, Save cleared.
// dialogPlace, when given, receives where the dialog stood.
void startProgramAndLogIn(QProcess &kirrow, const QString &program, const QString &server,
                          const QString &account, const QString &password,
                          QRect *dialogPlace = nullptr);

// The program itself, run as a user runs it on the test desktop and used only as a user uses it:
// started with folders of its own (settings, phone book, call log, program log), logged in by
// typing into its login dialog, its controls clicked with xdotool where a screen reader says they
// stand, and read as a screen reader reads them (atspi). Checks record test failures; the
// program still running at the end is killed.
class KirrowProgram {
public:
    explicit KirrowProgram(const QString &binary);
    ~KirrowProgram();
    KirrowProgram(const KirrowProgram &) = delete;
    KirrowProgram &operator=(const KirrowProgram &) = delete;

    // Its settings file, and one of its entries there ("Account", "Sip", "Password", "Save").
    QString settingsFile() const;
    QString setting(const QString &name) const;
    // Where the program keeps a file of its own in its data folder ("PhoneBook.txt",
    // "recentcall.txt"), and its log.
    QString dataFile(const QString &name) const;
    QString logFile() const;

    // Starts it; environment, when given, is added to its own.
    void start(const QProcessEnvironment &environment = {});
    // What the program is started with (the test desktop's, with folders of its own), for a test
    // to change before it starts it.
    QProcessEnvironment &environment() { return m_environment; }
    // Starts it (from now on) through a command, e.g. NetLab::inNamespace(name) to run it in a
    // network namespace of the test's own, under `timeout` for timeoutS seconds at most. The
    // program still reaches the test desktop there through its socket files (X, PulseAudio,
    // the session and accessibility buses).
    void setCommandPrefix(const QStringList &prefix, int timeoutS = 300);
    // The program's own process id (through a command prefix, not that of what runs it).
    qint64 pid();
    // Types into the login dialog that shows (now or soon) as a user does: each field in tab
    // order, replacing what it held, Save ticked or cleared, and LOGIN pressed.
    // dialogPlace, when given, receives where the dialog stood.
    void typeLogin(const QString &server, const QString &account, const QString &password,
                   bool save = false, QRect *dialogPlace = nullptr);
    // Both, then waits for the main window to show.
    void startAndLogIn(const QString &server, const QString &account, const QString &password,
                       bool save = false);
    // Both, then waits until its status line says it is registered.
    void startRegistered(const QString &server, const QString &account, const QString &password);
    QProcess &process() { return m_process; }
    // Its main window's X window.
    QString mainWindow();

    // Its application on the accessibility bus.
    atspi::Node application();
    // A showing window of its, by name (its title); null when none shows.
    atspi::Node window(const QString &name);
    // A showing control of its, by name and role (either any when empty); null when none shows.
    atspi::Node control(const QString &name, const QString &role = QString());
    // The same within a showing window of the given name.
    atspi::Node control(const QString &window, const QString &name, const QString &role);
    // Waits for a control to show, and clicks its centre (button 1 left, 2 middle, 3 right;
    // repeat 2 a double click).
    void click(const atspi::Node &control, int button = 1, int repeat = 1);
    void click(const QString &name, const QString &role = QString(), int button = 1);
    // The text on the main window's status line.
    QString statusLine();
    // The names of its showing windows, the top first as a screen reader lists them.
    QStringList windows();
    // Waits for a message box whose text holds text, and clicks its OK.
    void answerMessage(const QString &text);
    // The same for a box whose text holds text, answered with its button of that name ("Yes",
    // "No"); whole, when given, receives the box's whole text.
    void answerMessage(const QString &text, const QString &button, QString *whole = nullptr);

    // Ends it as a user does, with the main window's close button, and waits for it to end.
    void close();

    // The X window id of its showing top-level window with that title (as xdotool names it), for
    // what the X server says of it: mapped or not, its shape, the window manager's state.
    QString windowId(const QString &title);
    // The X window ids of all its top-level windows that show, popups and tips among them.
    QStringList windowIds();

private:
    QTemporaryDir m_home;
    QString m_binary;
    QProcessEnvironment m_environment;
    QProcess m_process;
    QStringList m_prefix;
    qint64 m_pid = 0;
};

// Whether the desktop has a system tray now: a tray host holds the tray's selection.
bool desktopHasTray();
