#include "kirrowprogram.h"

#include "xdo.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>

// After Qt's headers: Xlib's macros (None, Bool, Status) would clash with them.
#include <X11/Xlib.h>

namespace {

constexpr int kShowTimeoutMs = 20000;
constexpr int kEndTimeoutMs = 20000;

// The program's application and organisation name, which name its folders.
const QString kFolder = QStringLiteral("Kirrow");

// The title of the login dialog.
const QString kLoginTitle = QStringLiteral("Please Enter Your Pin");

QString loginDialog() {
    return xdo::run({"search", "--sync", "--onlyvisible", "--name", "^" + kLoginTitle + "$"})
        .split('\n')
        .first();
}

// Types into the login dialog showing now, each field replacing what it held, ticks or clears
// Save, and presses LOGIN. Seen through a screen reader (kirrow given), the typing starts in the
// first field and Save is set as asked; without one, the typing starts where the dialog put the
// keyboard and Save is toggled once: cleared, from the ticked box a new login shows.
void typeIntoLoginDialog(KirrowProgram *kirrow, const QString &server, const QString &account,
                         const QString &password, bool save, QRect *dialogPlace) {
    const QString dialog = loginDialog();
    xdo::run({"windowfocus", "--sync", dialog});
    if (dialogPlace)
        *dialogPlace = xdo::windowGeometry(dialog);
    atspi::Node saveBox;
    if (kirrow) {
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(
                !(saveBox = kirrow->control(kLoginTitle, "Save", "check box")).isNull(),
                kShowTimeoutMs);
        }();
        // The fields stand in the dialog in tab order: the server's first.
        const atspi::Node first = kirrow->control(kLoginTitle, QString(), "text");
        kirrow->click(first);
        QTRY_VERIFY(first.focused());
    }
    for (const QString &field : {server, account, password}) {
        xdo::key({"ctrl+a", "BackSpace"});
        if (!field.isEmpty())
            xdo::type(field);
        xdo::key({"Tab"});
    }
    if (saveBox.isNull() || saveBox.checked() != save)
        xdo::key({"space"});
    xdo::key({"Tab", "space"});
}

} // namespace

void startProgramAndLogIn(QProcess &kirrow, const QString &program, const QString &server,
                          const QString &account, const QString &password, QRect *dialogPlace) {
    kirrow.setProcessChannelMode(QProcess::ForwardedChannels);
    kirrow.start(program, {});
    QVERIFY(kirrow.waitForStarted());
    typeIntoLoginDialog(nullptr, server, account, password, false, dialogPlace);
}

KirrowProgram::KirrowProgram(const QString &binary) : m_binary(binary) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
        const QString folder = m_home.filePath(QString::fromLatin1(variable).toLower());
        QDir().mkpath(folder);
        environment.insert(QString::fromLatin1(variable), folder);
    }
    // The engine is the one beside the program, as installed.
    environment.remove(QStringLiteral("KIRROW_ENGINE"));
    m_environment = environment;
}

KirrowProgram::~KirrowProgram() {
    if (!m_prefix.isEmpty() && m_process.state() != QProcess::NotRunning)
        // `timeout` made a process group of its own, the program in it.
        ::kill(-static_cast<pid_t>(m_process.processId()), SIGKILL);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString KirrowProgram::dataFile(const QString &name) const {
    // One beside the program would be used instead (a copy of the program carried with its files).
    [&] {
        QVERIFY2(!QFileInfo::exists(QFileInfo(m_binary).dir().filePath(name)),
                 qPrintable(name + " beside the program would be used instead of the test's"));
    }();
    const QString folder = m_home.filePath(QStringLiteral("xdg_data_home/%1/%1").arg(kFolder));
    QDir().mkpath(folder);
    return QDir(folder).filePath(name);
}

QString KirrowProgram::logFile() const {
    return m_home.filePath(QStringLiteral("xdg_state_home/%1/kirrow.log").arg(kFolder));
}

QString KirrowProgram::settingsFile() const {
    return m_home.filePath(QStringLiteral("xdg_config_home/%1/%1.ini").arg(kFolder));
}

QString KirrowProgram::setting(const QString &name) const {
    // Each entry is the key Validation of section Parameters under the entry's name.
    return QSettings(settingsFile(), QSettings::IniFormat)
        .value(name + QStringLiteral("/Parameters/Validation"))
        .toString();
}

void KirrowProgram::start(const QProcessEnvironment &environment) {
    QProcessEnvironment own = m_environment;
    own.insert(environment);
    m_process.setProcessEnvironment(own);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_pid = 0;
    if (m_prefix.isEmpty()) {
        m_process.start(m_binary, {});
    } else {
        // Should the test die, `timeout` gets SIGTERM and passes it on.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(m_prefix.first(), m_prefix.mid(1) + QStringList{m_binary});
    }
    QVERIFY(m_process.waitForStarted());
}

void KirrowProgram::setCommandPrefix(const QStringList &prefix, int timeoutS) {
    m_prefix = prefix;
    if (!m_prefix.isEmpty())
        m_prefix << QStringLiteral("timeout") << QStringLiteral("--kill-after=5")
                 << QString::number(timeoutS);
}

qint64 KirrowProgram::pid() {
    if (m_prefix.isEmpty())
        return m_process.processId();
    if (m_pid == 0 && m_process.state() == QProcess::Running) {
        // The prefix's commands replace themselves with the next (exec), down to `timeout`,
        // whose one child is the program.
        const QString root = QString::number(m_process.processId());
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(root));
        if (children.open(QIODevice::ReadOnly))
            m_pid = children.readAll().trimmed().split(' ').value(0).toLongLong();
    }
    return m_pid;
}

void KirrowProgram::typeLogin(const QString &server, const QString &account,
                              const QString &password, bool save, QRect *dialogPlace) {
    typeIntoLoginDialog(this, server, account, password, save, dialogPlace);
}

void KirrowProgram::startAndLogIn(const QString &server, const QString &account,
                                  const QString &password, bool save) {
    start();
    if (QTest::currentTestFailed())
        return;
    typeLogin(server, account, password, save);
    QTRY_VERIFY_WITH_TIMEOUT(
        !control(QStringLiteral("Call"), QStringLiteral("push button")).isNull(), kShowTimeoutMs);
}

void KirrowProgram::startRegistered(const QString &server, const QString &account,
                                    const QString &password) {
    startAndLogIn(server, account, password);
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE_WITH_TIMEOUT(statusLine(), QStringLiteral("Registered and Ready..."),
                              kShowTimeoutMs);
}

QString KirrowProgram::mainWindow() {
    // The main window is the program's window named Kirrow that is not a message box.
    QString found;
    [&] {
        QTRY_VERIFY_WITH_TIMEOUT(
            !control(QStringLiteral("Call"), QStringLiteral("push button")).isNull(),
            kShowTimeoutMs);
        const QStringList ids = xdo::run({"search", "--all", "--onlyvisible", "--pid",
                                          QString::number(pid()), "--name", "^Kirrow$"})
                                    .split('\n', Qt::SkipEmptyParts);
        QCOMPARE(ids.size(), 1);
        found = ids.first();
    }();
    return found;
}

atspi::Node KirrowProgram::application() {
    return atspi::application(pid());
}

atspi::Node KirrowProgram::control(const QString &name, const QString &role) {
    return atspi::find(application(), name, role);
}

atspi::Node KirrowProgram::window(const QString &name) {
    for (const atspi::Node &top : application().children())
        if (top.showing() && top.name() == name)
            return top;
    return {};
}

atspi::Node KirrowProgram::control(const QString &window, const QString &name,
                                   const QString &role) {
    const atspi::Node top = this->window(window);
    return top.isNull() ? top : atspi::find(top, name, role);
}

void KirrowProgram::click(const atspi::Node &control, int button, int repeat) {
    QTRY_VERIFY_WITH_TIMEOUT(control.showing(), kShowTimeoutMs);
    const QRect place = control.extents();
    QVERIFY2(place.isValid(), qPrintable(control.name() + " has no place on the screen"));
    xdo::clickAt(place.center(), button, repeat);
}

void KirrowProgram::click(const QString &name, const QString &role, int button) {
    atspi::Node found;
    QTRY_VERIFY2_WITH_TIMEOUT(!(found = control(name, role)).isNull(),
                              qPrintable(QStringLiteral("no %1 \"%2\" shows among:\n%3")
                                             .arg(role, name, atspi::outline(application()))),
                              kShowTimeoutMs);
    click(found, button);
}

QString KirrowProgram::statusLine() {
    return control(QString(), QStringLiteral("status bar")).name();
}

QStringList KirrowProgram::windows() {
    QStringList names;
    for (const atspi::Node &top : application().children())
        if (top.showing())
            names << top.name();
    return names;
}

void KirrowProgram::answerMessage(const QString &text) {
    answerMessage(text, QStringLiteral("OK"));
}

void KirrowProgram::answerMessage(const QString &text, const QString &button, QString *whole) {
    atspi::Node box;
    QString said;
    const auto saying = [&] {
        for (const atspi::Node &top : application().children()) {
            const QList<atspi::Node> labels =
                top.showing() ? atspi::findAll(top,
                                               [&](const atspi::Node &node) {
                                                   return node.role() == QLatin1String("label") &&
                                                          node.name().contains(text);
                                               })
                              : QList<atspi::Node>();
            if (!labels.isEmpty()) {
                box = top;
                said = labels.first().name();
                return true;
            }
        }
        return false;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(saying(),
                              qPrintable(QStringLiteral("no message \"%1\" among:\n%2")
                                             .arg(text, atspi::outline(application()))),
                              kShowTimeoutMs);
    click(atspi::find(box, button, QStringLiteral("push button")));
    if (whole)
        *whole = said;
    QTRY_VERIFY_WITH_TIMEOUT(!box.showing(), kShowTimeoutMs);
}

void KirrowProgram::close() {
    click(QStringLiteral("Close"), QStringLiteral("push button"));
    QTRY_COMPARE_WITH_TIMEOUT(m_process.state(), QProcess::NotRunning, kEndTimeoutMs);
    QCOMPARE(m_process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process.exitCode(), 0);
}

namespace {

// The program's showing top-level windows, by xdotool's search with more conditions, all of them
// to be met.
QStringList searchWindows(qint64 pid, const QStringList &conditions) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  QStringList{QStringLiteral("search"), QStringLiteral("--all"),
                              QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                              QString::number(pid)} +
                      conditions);
    xdotool.waitForFinished();
    // It ends with 1 when no window matches.
    return QString::fromLocal8Bit(xdotool.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

QString KirrowProgram::windowId(const QString &title) {
    QStringList found;
    const QStringList byName{QStringLiteral("--name"),
                             QStringLiteral("^%1$").arg(QRegularExpression::escape(title))};
    [&] {
        QTRY_VERIFY_WITH_TIMEOUT(!(found = searchWindows(pid(), byName)).isEmpty(), kShowTimeoutMs);
    }();
    return found.value(0);
}

QStringList KirrowProgram::windowIds() {
    return searchWindows(pid(), {});
}

bool desktopHasTray() {
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const QByteArray selection = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display));
    const bool held =
        XGetSelectionOwner(display, XInternAtom(display, selection.constData(), False)) != 0;
    XCloseDisplay(display);
    return held;
}
