#include "dialogdriver.h"
#include "errortraps.h"
#include "filebytes.h"
#include "freeport.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "instancechannel.h"
#include "kamailioserver.h"
#include "linphoneclient.h"
#include "logindriver.h"
#include "mainlayout.h"
#include "mainwindowui.h"
#include "picturebox.h"
#include "settingsstore.h"
#include "sipcapture.h"
#include "testdesktop.h"
#include "twips.h"
#include "xdo.h"

#include <QAction>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace account;

namespace {

// A UDP socket on 127.0.0.1 that takes every datagram and never answers: a server whose answers
// are lost on the way.
class SilentServer {
public:
    SilentServer() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            qFatal("cannot bind a UDP socket on 127.0.0.1");
        m_port = ntohs(address.sin_port);
        m_reader = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_reader.get(), &QSocketNotifier::activated, [this] {
            char datagram[4096];
            while (::recv(m_fd, datagram, sizeof datagram, 0) >= 0)
                ++m_datagrams;
        });
    }
    ~SilentServer() {
        m_reader.reset();
        ::close(m_fd);
    }
    quint16 port() const { return m_port; }
    int datagrams() const { return m_datagrams; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    int m_datagrams = 0;
    std::unique_ptr<QSocketNotifier> m_reader;
};

} // namespace

// Kirrow with its real engine against a real exchange on 127.0.0.1.
class TestRegistration : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::unique_ptr<KamailioServer> m_server;
    std::shared_ptr<rtc::LinphoneClient> m_client;
    int m_clientsMade = 0;
    QStringList m_statusLines;

    static constexpr int kRegisterTimeoutMs = 20000;
    // How long the engine waits before it tries a failed registration again (measured: the
    // refused password went out again 61.7 s after the refusal).
    static constexpr int kEngineRetryMs = 60000;

    // Clicks the middle of a control of the program's main window, found by the window's id (the
    // program runs in a process of its own), where the layout puts it (15 twips to a pixel).
    static void clickControl(const QString &window, const char *control, int button = 1) {
        const skin::ControlPlace &place = skin::placeOf(QLatin1String(control));
        xdo::clickAt(xdo::windowGeometry(window).topLeft() +
                         QPoint(place.left + place.width / 2, place.top + place.height / 2) / 15,
                     button);
    }

    static QString xprop(const QStringList &arguments) {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), arguments);
        xprop.waitForFinished();
        return QString::fromLocal8Bit(xprop.readAllStandardOutput());
    }
    // openbox, started and managing windows (the test display has no window manager, and a
    // window is minimised only under one); the caller stops it.
    static void startWindowManager(QProcess &manager) {
        manager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        QVERIFY2(manager.waitForStarted(), "openbox is needed (scripts/deps installs it)");
        // It announces itself on the root window once it manages windows; one that went before
        // may have left its announcement behind.
        const auto announced = [] {
            static const QRegularExpression check(QStringLiteral("window id # (0x[0-9a-f]+)"));
            const QString id = check
                                   .match(xprop({QStringLiteral("-root"),
                                                 QStringLiteral("_NET_SUPPORTING_WM_CHECK")}))
                                   .captured(1);
            return !id.isEmpty() &&
                   xprop({QStringLiteral("-id"), id, QStringLiteral("_NET_WM_NAME")})
                       .contains(QLatin1String("Openbox"));
        };
        QTRY_VERIFY_WITH_TIMEOUT(announced(), 20000);
    }

    std::unique_ptr<frmKirrow> started(const LoginAnswer &answer) {
        auto window = std::make_unique<frmKirrow>([this] {
            ++m_clientsMade;
            m_client = std::make_shared<rtc::LinphoneClient>();
            return m_client;
        });
        answerNextLoginDialog(answer);
        window->Form_Load();
        if (!window->HasEnded()) {
            window->show();
            m_statusLines = {ui(window).lblMsg->text()};
            // Connected after the window's own handler, so each line is read once it is written.
            QLabel *status = ui(window).lblMsg;
            connect(m_client.get(), &rtc::IRTCClient::Event, status,
                    [this, status] { m_statusLines << status->text(); });
        }
        return window;
    }

    LoginAnswer login(const QString &user, const QString &password, bool save = true) const {
        LoginAnswer answer;
        answer.server = m_server->address();
        answer.account = user;
        answer.password = password;
        answer.save = save;
        return answer;
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
        m_server = std::make_unique<KamailioServer>(QList<KamailioServer::Account>{
            {"1001", "kirrow1001"}, {"1002", "kirrow1002"}, {"1003", "p\"a&s<s"}});
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }

    void init() {
        QFile::remove(settingsFilePath());
        m_clientsMade = 0;
        m_statusLines.clear();
    }

    void cleanup() { m_client.reset(); }

    void registersAndShowsEachState() {
        MessageCatcher messages;
        auto window = started(login("1001", "kirrow1001"));
        QCOMPARE(m_statusLines.first(), QStringLiteral("Not logged in..."));
        QTRY_COMPARE_WITH_TIMEOUT(window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        QCOMPARE(m_statusLines,
                 (QStringList{"Not logged in...", "Registering", "Registered and Ready..."}));
        QCOMPARE(ui(window).lblMsg->text(), QStringLiteral("Registered and Ready..."));
        const auto contacts = m_server->contacts("1001");
        QCOMPARE(contacts.size(), 1);
        QVERIFY2(contacts.first().expires > 590 && contacts.first().expires <= 600,
                 qPrintable(QString::number(contacts.first().expires)));
        // The engine advertises the address that routes to the exchange.
        QVERIFY2(contacts.first().uri.contains("@127.0.0.1"), qPrintable(contacts.first().uri));
        QVERIFY(messages.texts().isEmpty());
    }

    void passwordWithXmlCharactersRegisters() {
        auto window = started(login("1003", "p\"a&s<s"));
        QTRY_COMPARE_WITH_TIMEOUT(window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        QCOMPARE(m_server->contacts("1003").size(), 1);
    }

    // A login that fails says why, leaves the account unable to dial, and the next login, typed
    // into the dialog that the settings menu opens, registers afresh with what was typed. The
    // menu opens from its key beside the status line, or with a right click on the status line.
    void eachLoginRegistersAfresh_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("menuKey");
        QTest::addColumn<bool>("waits"); // the engine retransmits for a while
        QTest::addColumn<bool>("refused");
        QTest::newRow("wrong password") << QString() << "not-the-password"
                                        << "Rejected" << false << false << true;
        QTest::newRow("port refuses")
            << QStringLiteral("127.0.0.1:%1").arg(deadUdpPort()) << "kirrow1001"
            << "Registration failed: server not found or not reachable" << true << true << false;
        QTest::newRow("server silent")
            << QStringLiteral("silent") << "kirrow1001"
            << "Registration failed: no answer from the server" << true << true << false;
    }
    void eachLoginRegistersAfresh() {
        QFETCH(QString, server);
        QFETCH(QString, password);
        QFETCH(QString, status);
        QFETCH(bool, menuKey);
        QFETCH(bool, waits);
        QFETCH(bool, refused);
        std::optional<SilentServer> silent;
        if (server == QLatin1String("silent")) {
            silent.emplace();
            server = QStringLiteral("127.0.0.1:%1").arg(silent->port());
        }
        SipCapture capture;
        capture.addPort(m_server->port());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        MessageCatcher messages;
        LoginAnswer first = login("1001", password);
        first.byHand = true;
        if (!server.isEmpty())
            first.server = server;
        auto window = started(first);
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // While the engine waits for an answer that does not come, the window keeps taking
        // input. (A refusal comes at once, often before the first tick.)
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(10);
        // The status line's tooltip holds the whole text, the line itself its short form.
        QTRY_COMPARE_WITH_TIMEOUT(ui(window).lblMsg->toolTip(), status, 60000);
        if (waits)
            QVERIFY(ticks > 0);
        if (silent)
            QVERIFY(silent->datagrams() > 0); // the requests reached it
        QVERIFY(window->Registration().RegState() != QLatin1String("REGISTERED"));
        QVERIFY(m_server->contacts("1001").isEmpty());
        if (refused) {
            // A refused password is not sent again (a provider locks an account that keeps
            // trying it) until the user logs in again. The engine would try again after its
            // retry period; what is watched for is what must not come, so the watch lasts
            // that period and a little more.
            const auto credentialsSent = [&capture, this] {
                const QList<SipCapture::SipMessage> messages = capture.sipMessages();
                return std::count_if(messages.cbegin(), messages.cend(),
                                     [this](const SipCapture::SipMessage &message) {
                                         return message.method == QLatin1String("REGISTER") &&
                                                message.credentials &&
                                                message.destinationPort == m_server->port();
                                     });
            };
            const auto refusedOnes = credentialsSent();
            QVERIFY(refusedOnes >= 1);
            QElapsedTimer watch;
            watch.start();
            const bool sentAgain = QTest::qWaitFor([&] { return credentialsSent() > refusedOnes; },
                                                   kEngineRetryMs + 5000);
            QVERIFY2(!sentAgain,
                     qPrintable(QStringLiteral("sent again after %1 ms").arg(watch.elapsed())));
            QCOMPARE(ui(window).lblMsg->text(), status);
        }

        LoginAnswer second = login("1001", "kirrow1001");
        second.byHand = true;
        answerNextLoginDialog(second);
        xdo::focusWindow(window.get());
        if (menuKey)
            xdo::click(ui(window).picMenu);
        else
            xdo::click(ui(window).lblMsg, std::nullopt, 3);
        QTRY_VERIFY(ui(window).mnuSettings->isVisible());
        xdo::click(ui(window).mnuSettings,
                   ui(window).mnuSettings->actionGeometry(ui(window).mnuLoginAs).center());
        QTRY_COMPARE_WITH_TIMEOUT(window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        QCOMPARE(ui(window).lblMsg->text(), QStringLiteral("Registered and Ready..."));
        QCOMPARE(m_server->contacts("1001").size(), 1);
        QCOMPARE(m_clientsMade, 1);
        QVERIFY2(messages.texts().isEmpty(), qPrintable(messages.texts().join('|')));
    }

    // A server that goes away while the phone is registered: the status line says so and calls
    // wait; once it is back, the engine's own retries register again and the status says so.
    void serverOutageShowsAndPasses() {
        KamailioServer server(QList<KamailioServer::Account>{{"1001", "kirrow1001"}});
        server.setMaxExpires(10); // refreshed every few seconds
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        LoginAnswer answer = login("1001", "kirrow1001");
        answer.server = server.address();
        auto window = started(answer);
        QTRY_COMPARE_WITH_TIMEOUT(window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        server.stop();
        // The refresh goes unanswered until the engine gives up on it (about 40 s).
        QTRY_COMPARE_WITH_TIMEOUT(ui(window).lblMsg->toolTip(),
                                  QStringLiteral("Registration failed: no answer from the server"),
                                  90000);
        QCOMPARE(window->Registration().RegState(), QStringLiteral("NOTREGISTERED"));
        QVERIFY2(server.start(&error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  150000);
        QCOMPARE(ui(window).lblMsg->text(), QStringLiteral("Registered and Ready..."));
    }

    // A blank server is refused in the dialog, which stays open for the rest of the login.
    void blankServerIsRefusedInTheDialog() {
        MessageCatcher messages;
        LoginAnswer blank = login("1001", "kirrow1001");
        blank.server.clear();
        blank.byHand = true;
        bool refusedAndFixed = false;
        whenModalShows<frmLogin>([&](frmLogin *dialog) {
            answerByHand(dialog, blank);
            QTRY_COMPARE(messages.texts(),
                         QStringList{QStringLiteral("Sip IP/Domain must not be blank")});
            QVERIFY(dialog->isVisible());
            LoginAnswer right = login("1001", "kirrow1001");
            right.byHand = true;
            answerByHand(dialog, right);
            refusedAndFixed = true;
        });
        auto window = std::make_unique<frmKirrow>([this] {
            ++m_clientsMade;
            m_client = std::make_shared<rtc::LinphoneClient>();
            return m_client;
        });
        window->Form_Load();
        QVERIFY(refusedAndFixed);
        QTRY_COMPARE_WITH_TIMEOUT(window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
    }

    void exitAtStartUpStartsNoEngine() {
        LoginAnswer answer;
        answer.action = LoginAnswer::Exit;
        auto window = started(answer);
        QVERIFY(window->HasEnded());
        QCOMPARE(m_clientsMade, 0);
        QVERIFY(!m_client);
    }

    void closingForgetsTheAccountOnlyWhenAsked_data() {
        QTest::addColumn<bool>("save");
        QTest::newRow("kept") << true;
        QTest::newRow("not kept") << false;
    }
    void closingForgetsTheAccountOnlyWhenAsked() {
        QFETCH(bool, save);
        auto window = started(login("1002", "kirrow1002", save));
        QTRY_COMPARE_WITH_TIMEOUT(window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        // The close button, clicked as a user does.
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        xdo::click(ui(window).Picture40);
        QTRY_VERIFY(window->HasEnded());
        QCOMPARE(readEntry(kAccountApp), save ? QStringLiteral("1002") : QString());
        QCOMPARE(readEntry(kPasswordApp), save ? QStringLiteral("kirrow1002") : QString());
        QCOMPARE(readEntry(kSipApp), save ? m_server->address() : QString());
        QCOMPARE(readEntry(kSaveApp), save ? QStringLiteral("yes") : QStringLiteral("no"));
    }

    // Settings that cannot be written never stop a login; the user who asked to keep the
    // account is told once.
    void unwritableSettingsStillLogIn_data() {
        QTest::addColumn<bool>("save");
        QTest::newRow("save cleared") << false;
        QTest::newRow("save checked") << true;
    }
    void unwritableSettingsStillLogIn() {
        QFETCH(bool, save);
        QVERIFY(QDir().mkpath(settingsFilePath())); // a folder where the file goes
        const auto restore = qScopeGuard([] { QDir(settingsFilePath()).removeRecursively(); });
        MessageCatcher messages;
        LoginAnswer answer = login("1001", "kirrow1001", save);
        answer.byHand = true;
        auto window = started(answer);
        QTRY_COMPARE_WITH_TIMEOUT(window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        QCOMPARE(messages.texts().size(), save ? 1 : 0);
    }

    // Ended by a signal (the desktop session closing, `kill`), the program shuts down as through
    // its close button: the registration is taken back and an account not to be kept is erased.
    // Hidden in the tray it ends all the same, and takes its icon with it.
    void terminationSignalShutsDownAsTheCloseButton() {
        QProcess kirrow;
        const auto stop = qScopeGuard([&kirrow] {
            kirrow.kill();
            kirrow.waitForFinished();
        });
        startProgramAndLogIn(kirrow, KIRROW_BINARY, m_server->address(), "1002", "kirrow1002");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1002").size(), 1, kRegisterTimeoutMs);
        QCOMPARE(readEntry(kPasswordApp), QStringLiteral("kirrow1002"));
        const QString window = xdo::run({"search", "--sync", "--onlyvisible", "--name", "^Kirrow$"})
                                   .split('\n')
                                   .first();
        clickControl(window, "Picture41");
        QTRY_VERIFY(!xdo::isViewable(window));
        QTRY_COMPARE(xdo::trayIcons().size(), 1);
        kirrow.terminate();
        QVERIFY(kirrow.waitForFinished(20000));
        QCOMPARE(kirrow.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kirrow.exitCode(), 0);
        QVERIFY(xdo::trayIcons().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(m_server->contacts("1002").isEmpty(), 5000);
        QCOMPARE(readEntry(kPasswordApp), QString());
        QCOMPARE(readEntry(kSaveApp), QStringLiteral("no"));
    }

    // Without its engine the program says so and stays up; it neither crashes nor registers.
    void missingEngineIsToldNotACrash() {
        QProcess kirrow;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KIRROW_ENGINE", m_home.filePath("no-such-engine.so"));
        kirrow.setProcessEnvironment(environment);
        const auto stop = qScopeGuard([&kirrow] {
            kirrow.kill();
            kirrow.waitForFinished();
        });
        startProgramAndLogIn(kirrow, KIRROW_BINARY, m_server->address(), "1001", "kirrow1001");
        QTRY_VERIFY_WITH_TIMEOUT(
            readBytes(platform::programLogPath()).contains("no-such-engine.so"),
            kRegisterTimeoutMs);
        QCOMPARE(kirrow.state(), QProcess::Running);
        QVERIFY(m_server->contacts("1001").isEmpty());
        kirrow.terminate(); // with the message still open
        QVERIFY(kirrow.waitForFinished(20000));
        QCOMPARE(kirrow.exitStatus(), QProcess::NormalExit);
    }

    // The login dialog at start-up shows before the window it logs into is built, and what is
    // typed into it at once counts (every start here types as soon as it shows). It stands where
    // "Login As..." puts it over that window. Without a mixer it steps aside for "No mixer
    // found!", which is answered before the dialog takes the login.
    void startUpDialogComesFirstWhereLoginAsPutsIt() {
        QProcess kirrow;
        const auto stop = qScopeGuard([&kirrow] {
            kirrow.kill();
            kirrow.waitForFinished();
        });
        QRect atStartUp;
        startProgramAndLogIn(kirrow, KIRROW_BINARY, m_server->address(), "1001", "kirrow1001",
                             &atStartUp);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kRegisterTimeoutMs);
        QTRY_COMPARE(xdo::visibleWindows("^Kirrow$").size(), 1);
        const qsizetype windows = xdo::visibleWindows(QString()).size();
        clickControl(xdo::visibleWindows("^Kirrow$").first(), "lblMsg", 3);
        QTRY_COMPARE(xdo::visibleWindows(QString()).size(), windows + 1); // the settings menu
        xdo::key({"l"});
        QTRY_COMPARE(xdo::visibleWindows("^Please Enter Your Pin$").size(), 1);
        QCOMPARE(xdo::windowGeometry(xdo::visibleWindows("^Please Enter Your Pin$").first()),
                 atStartUp);
        kirrow.kill();
        kirrow.waitForFinished();

        QFile noSoundConfiguration(m_home.filePath("no-sound.conf"));
        QVERIFY(noSoundConfiguration.open(QIODevice::WriteOnly));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ALSA_CONFIG_PATH", noSoundConfiguration.fileName());
        kirrow.setProcessEnvironment(environment);
        kirrow.start(KIRROW_BINARY, {});
        QTRY_COMPARE_WITH_TIMEOUT(xdo::visibleWindows("^Kirrow$").size(), 1, kRegisterTimeoutMs);
        QVERIFY(xdo::visibleWindows("^Please Enter Your Pin$").isEmpty());
        xdo::run({"windowfocus", "--sync", xdo::visibleWindows("^Kirrow$").first()});
        xdo::key({"Return"});
        QTRY_COMPARE(xdo::visibleWindows("^Please Enter Your Pin$").size(), 1);
        QVERIFY(xdo::visibleWindows("^Kirrow$").isEmpty());
    }

    // From its making to its listening a start holds the lock that a start at the same moment
    // waits for, so that the two do not both take the socket; it lets go once it listens, or as
    // it goes without listening. One that ends gives the socket up to the next start.
    void startLockIsHeldUntilListening() {
        QTemporaryDir runtime;
        const QString path = runtime.filePath(QStringLiteral("kirrow-test"));
        const auto lockIsFree = [&path] {
            const int fd = ::open(QFile::encodeName(path + ".lock").constData(),
                                  O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            ::close(fd);
            return free;
        };
        {
            platform::InstanceChannel first(path);
            QVERIFY(!lockIsFree());
            QVERIFY(first.listen());
            QVERIFY(lockIsFree());
        }
        {
            platform::InstanceChannel unused(path);
            QVERIFY(!lockIsFree());
        }
        QVERIFY(lockIsFree());
        // The settings folder names the socket however it is written, made or not yet.
        QVERIFY(QFile::link(runtime.path(), runtime.filePath("link")));
        const QString settings = runtime.filePath("link/config/Kirrow");
        const QString name = platform::InstanceChannel::socketNameFor(settings);
        QVERIFY(QDir().mkpath(settings));
        QCOMPARE(platform::InstanceChannel::socketNameFor(settings), name);
        QCOMPARE(platform::InstanceChannel::socketNameFor(runtime.filePath("config/Kirrow/")),
                 name);
        QVERIFY(platform::InstanceChannel::socketNameFor(runtime.filePath("config")) != name);
        // One that is ending lets go of the socket at once, and leaves the next start's alone.
        auto ending = std::make_unique<platform::InstanceChannel>(path);
        QVERIFY(ending->listen());
        ending->stopListening();
        platform::InstanceChannel next(path);
        QVERIFY(next.listen());
        ending.reset();
        QVERIFY(QFileInfo::exists(path));
        QVERIFY(!platform::InstanceChannel(path).listen());
    }

    // Started again from the desktop's menu while it runs, Kirrow does not log in a second time:
    // the second start ends at once and the running one comes back from its minimised state
    // (under a window manager, which keeps that state). A Kirrow with settings of its own (another
    // XDG_CONFIG_HOME) runs beside it with its own login.
    void secondStartComesToTheRunningOne() {
        QProcess kirrow;
        const auto stop = qScopeGuard([&kirrow] {
            kirrow.kill();
            kirrow.waitForFinished();
        });
        // Left by Kirrows that earlier cases killed without a word to the exchange.
        const qsizetype stale = m_server->contacts("1001").size();
        startProgramAndLogIn(kirrow, KIRROW_BINARY, m_server->address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), stale + 1, kRegisterTimeoutMs);
        QTRY_COMPARE(xdo::visibleWindows("^Kirrow$").size(), 1);
        const QString window = xdo::visibleWindows("^Kirrow$").first();
        QProcess manager;
        const auto stopManager = qScopeGuard([&manager] {
            manager.terminate();
            manager.waitForFinished();
        });
        startWindowManager(manager);
        const auto state = [&window] {
            static const QRegularExpression state(QStringLiteral("window state: (\\w+)"));
            return state.match(xprop({"-id", window, "WM_STATE"})).captured(1);
        };
        QTRY_COMPARE_WITH_TIMEOUT(state(), QStringLiteral("Normal"), kRegisterTimeoutMs);
        xdo::run({"windowminimize", "--sync", window});
        QTRY_COMPARE(state(), QStringLiteral("Iconic"));

        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        QElapsedTimer took;
        took.start();
        second.start(QStringLiteral(KIRROW_BINARY), {});
        QVERIFY(second.waitForFinished(kRegisterTimeoutMs));
        QVERIFY2(took.elapsed() < 2000, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(state(), QStringLiteral("Normal"));
        QTRY_VERIFY(xdo::isViewable(window));
        QVERIFY(xdo::visibleWindows("^Please Enter Your Pin$").isEmpty());
        QCOMPARE(m_server->contacts("1001").size(), stale + 1);
        QCOMPARE(kirrow.state(), QProcess::Running);

        QTemporaryDir otherSettings;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", otherSettings.path());
        QProcess other;
        other.setProcessEnvironment(environment);
        const auto stopOther = qScopeGuard([&other] {
            other.kill();
            other.waitForFinished();
        });
        other.start(QStringLiteral(KIRROW_BINARY), {});
        QTRY_COMPARE_WITH_TIMEOUT(xdo::visibleWindows("^Please Enter Your Pin$").size(), 1,
                                  kRegisterTimeoutMs);
        QCOMPARE(other.state(), QProcess::Running);

        // Ended as the desktop ends it, the first takes its registration back.
        kirrow.terminate();
        QVERIFY(kirrow.waitForFinished(20000));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), stale, kRegisterTimeoutMs);
    }

    // A tel: link opened while Kirrow runs: its number goes into the running one's number box and
    // that window comes up over the window that covered it; nothing is dialled, and the start
    // that was given the link ends at once without a window. The running one took the place of
    // a Kirrow that had crashed and left its socket behind, and serves the link while another
    // caller holds a connection open without a word.
    void linkGoesToTheRunningProgram() {
        QTemporaryDir runtime;
        const QByteArray stale = QFile::encodeName(runtime.filePath(
            platform::InstanceChannel::socketNameFor(QFileInfo(settingsFilePath()).path())));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(stale.begin(), stale.end(), address.sun_path);
        const int crashed = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::bind(crashed, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(crashed);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime.path());

        SipCapture capture;
        capture.addPort(m_server->port());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        QProcess kirrow;
        kirrow.setProcessEnvironment(environment);
        const auto stop = qScopeGuard([&kirrow] {
            kirrow.kill();
            kirrow.waitForFinished();
        });
        startProgramAndLogIn(kirrow, KIRROW_BINARY, m_server->address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kRegisterTimeoutMs);
        QTRY_COMPARE(xdo::visibleWindows("^Kirrow$").size(), 1);
        const QString window = xdo::visibleWindows("^Kirrow$").first();
        const QRect geometry = xdo::windowGeometry(window);
        QWidget cover;
        cover.setWindowFlag(Qt::FramelessWindowHint);
        cover.setGeometry(geometry);
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        xdo::focusWindow(&cover);
        QVERIFY(xdo::stackingOrder().indexOf(cover.winId()) >
                xdo::stackingOrder().indexOf(window.toULongLong()));

        // A caller that connects and says nothing keeps nobody else waiting.
        const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const auto hangUp = qScopeGuard([silent] { ::close(silent); });
        QCOMPARE(::connect(silent, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);

        xdo::MapWatch maps;
        QProcess link;
        link.setProcessEnvironment(environment);
        link.setProcessChannelMode(QProcess::ForwardedChannels);
        link.start(QStringLiteral(KIRROW_BINARY), {"tel:555-0100"});
        QVERIFY(link.waitForFinished(kRegisterTimeoutMs));
        QCOMPARE(link.exitStatus(), QProcess::NormalExit);
        QCOMPARE(link.exitCode(), 0);
        QCOMPARE(maps.mappedWindows(), 0);
        QTRY_VERIFY(xdo::stackingOrder().indexOf(window.toULongLong()) >
                    xdo::stackingOrder().indexOf(cover.winId()));
        QCOMPARE(xdo::visibleWindows("^Kirrow$"), QStringList{window});
        QCOMPARE(kirrow.state(), QProcess::Running);

        // The number as the user sees it: a double click selects it, and the selection is the
        // X server's, for any program to paste.
        const skin::ControlPlace &box = skin::placeOf(QStringLiteral("cmbPhoneNo"));
        const QRect shown = platform::twipsRect(box.left, box.top, box.width, box.height);
        xdo::clickAt(geometry.topLeft() + QPoint(shown.left() + 20, shown.center().y()), 1, 2);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(QClipboard::Selection),
                     QStringLiteral("5550100"));
        const QStringList methods = capture.sipMethods();
        QVERIFY2(methods.contains("REGISTER") && !methods.contains("INVITE"),
                 qPrintable(methods.join(' ')));
    }

    void loginAsRegistersTheSecondAccount() {
        auto window = started(login("1001", "kirrow1001"));
        QTRY_COMPARE_WITH_TIMEOUT(window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        const QString firstProfile = window->Registration().ProfileText();
        LoginAnswer second = login("1002", "kirrow1002");
        second.server = QStringLiteral("localhost:%1").arg(m_server->port());
        answerNextLoginDialog(second);
        ui(window).mnuLoginAs->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1002").size(), 1, kRegisterTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        QCOMPARE(m_clientsMade, 1);
        QCOMPARE(window->Registration().SipServer(), second.server);
        QVERIFY(window->Registration().ProfileText() != firstProfile);
        QVERIFY(
            window->Registration().ProfileText().contains("<user account=\"1002\" name=\"1002\""));
    }
};

QTEST_MAIN(TestRegistration)
#include "tst_registration.moc"
