#include "filebytes.h"
#include "freeport.h"
#include "instancechannel.h"
#include "kamailioserver.h"
#include "kirrowprogram.h"
#include "sipcapture.h"
#include "sipppeer.h"
#include "testdesktop.h"
#include "xdo.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QRasterWindow>
#include <QSocketNotifier>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

// The program itself with its real engine against a real exchange on 127.0.0.1, logged in by
// typing into its dialog, watched through its status line as a screen reader reads it, the
// exchange's registrations and the settings file it writes.
class TestRegistration : public QObject {
    Q_OBJECT
    std::unique_ptr<KamailioServer> m_server;

    static constexpr int kRegisterTimeoutMs = 20000;
    // How long the engine waits before it tries a failed registration again (measured: the
    // refused password went out again 61.7 s after the refusal).
    static constexpr int kEngineRetryMs = 60000;
    static inline const QString kRegistered = QStringLiteral("Registered and Ready...");

    static std::unique_ptr<KirrowProgram> program() {
        return std::make_unique<KirrowProgram>(QStringLiteral(KIRROW_BINARY));
    }
    // The status line's whole text, as its tooltip (what a screen reader reads as its
    // description) has it: the line itself may show it cut.
    // Whether this network has a default route (IPv4), as /proc lists the routes.
    static bool hasDefaultRoute() {
        const QList<QByteArray> routes = readBytes("/proc/net/route").split('\n');
        return std::any_of(routes.begin() + 1, routes.end(), [](const QByteArray &route) {
            const QList<QByteArray> fields = route.simplified().split(' ');
            return fields.size() > 1 && fields[1] == "00000000";
        });
    }
    static QString wholeStatus(KirrowProgram &kirrow) {
        return kirrow.control(QString(), QStringLiteral("status bar")).description();
    }
    // Opens the settings menu (with its key, or a right click on the status line) and chooses
    // "Login As..." with its key.
    static void chooseLoginAs(KirrowProgram &kirrow, bool menuKey) {
        const QStringList windows = xdo::visibleWindows(QString());
        if (menuKey)
            kirrow.click(QStringLiteral("Menu"), QStringLiteral("push button"));
        else
            kirrow.click(kirrow.control(QString(), QStringLiteral("status bar")), 3);
        QTRY_COMPARE(xdo::visibleWindows(QString()).size(), windows.size() + 1);
        xdo::key({"l"});
    }
    // openbox, started and managing windows (the test display has no window manager, and a
    // window is minimised only under one); stopped when the guard goes.
    static auto windowManager(QProcess &manager) {
        xdo::startWindowManager(manager);
        return qScopeGuard([&manager] {
            manager.terminate();
            manager.waitForFinished();
        });
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test starts one)");
        m_server = std::make_unique<KamailioServer>(QList<KamailioServer::Account>{
            {"1001", "kirrow1001"}, {"1002", "kirrow1002"}, {"1003", "p\"a&s<s"}});
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }

    void registersAndShowsEachState() {
        auto kirrow = program();
        kirrow->startAndLogIn(m_server->address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->statusLine(), kRegistered, kRegisterTimeoutMs);
        const auto contacts = m_server->contacts("1001");
        QCOMPARE(contacts.size(), 1);
        QVERIFY2(contacts.first().expires > 590 && contacts.first().expires <= 600,
                 qPrintable(QString::number(contacts.first().expires)));
        // The engine advertises the address that routes to the exchange.
        QVERIFY2(contacts.first().uri.contains("@127.0.0.1"), qPrintable(contacts.first().uri));
        QCOMPARE(kirrow->windows(), QStringList{"Kirrow"}); // no message
        kirrow->close();
    }

    // A laptop with no network but its own (no default route) still reaches a server on
    // loopback, such as the demo exchange, and stays registered: the engine must not take the
    // missing route for a network that is down. Run in a network namespace of its own by the
    // test tst_registration_offline, which may change that network.
    void staysRegisteredWithoutADefaultRoute() {
        if (hasDefaultRoute())
            QSKIP("needs a network without a default route (tst_registration_offline)");
        auto kirrow = program();
        kirrow->startRegistered(m_server->address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kRegisterTimeoutMs);
        // The engine gave up on such a network after about five seconds.
        const bool dropped = QTest::qWaitFor(
            [&] {
                return kirrow->statusLine() != kRegistered || m_server->contacts("1001").isEmpty();
            },
            12000);
        QVERIFY2(!dropped, qPrintable(kirrow->statusLine()));
        // A network that changes (an address coming, as when a laptop joins one) is followed
        // at once: the registration is renewed from where the phone now is.
        // (The watch above has taken the registration's time left below 590 s; a renewal puts it
        // back to 600.)
        const auto secondsLeft = [this] {
            const auto contacts = m_server->contacts("1001");
            return contacts.size() == 1 ? contacts.first().expires : -1;
        };
        QVERIFY(secondsLeft() < 590);
        QCOMPARE(QProcess::execute("ip", {"address", "add", "198.51.100.7/32", "dev", "lo"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(secondsLeft() > 595, 10000);
        QCOMPARE(kirrow->statusLine(), kRegistered);
        kirrow->close();
    }

    void passwordWithXmlCharactersRegisters() {
        auto kirrow = program();
        kirrow->startAndLogIn(m_server->address(), "1003", "p\"a&s<s");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1003").size(), 1, kRegisterTimeoutMs);
        QTRY_COMPARE(kirrow->statusLine(), kRegistered);
        kirrow->close();
    }

    // A login that fails says why, leaves the account unable to dial, and the next login, typed
    // into the dialog that the settings menu opens, registers afresh with what was typed. The
    // menu opens from its key beside the status line, or with a right click on the status line.
    void eachLoginRegistersAfresh_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("menuKey");
        QTest::addColumn<bool>("refused");
        QTest::newRow("wrong password") << QString() << "not-the-password"
                                        << "Rejected" << false << true;
        QTest::newRow("port refuses")
            << QStringLiteral("127.0.0.1:%1").arg(deadUdpPort()) << "kirrow1001"
            << "Registration failed: server not found or not reachable" << true << false;
        QTest::newRow("server silent")
            << QStringLiteral("silent") << "kirrow1001"
            << "Registration failed: no answer from the server" << true << false;
        QTest::newRow("accepted for no time")
            << QStringLiteral("no time") << "kirrow1001"
            << "Registration failed: the server kept the registration for no time (Expires: 0)"
            << false << false;
    }
    void eachLoginRegistersAfresh() {
        QFETCH(QString, server);
        QFETCH(QString, password);
        QFETCH(QString, status);
        QFETCH(bool, menuKey);
        QFETCH(bool, refused);
        std::optional<SilentServer> silent;
        if (server == QLatin1String("silent")) {
            silent.emplace();
            server = QStringLiteral("127.0.0.1:%1").arg(silent->port());
        }
        std::optional<SippPeer> registrar;
        if (server == QLatin1String("no time")) {
            registrar.emplace(SippPeer::Options{.scenario = "registrar-no-time.xml"});
            QString error;
            QVERIFY2(registrar->start(&error), qPrintable(error));
            server = QStringLiteral("127.0.0.1:%1").arg(registrar->port());
        }
        if (server.isEmpty())
            server = m_server->address();
        SipCapture capture;
        capture.addPort(m_server->port());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        auto kirrow = program();
        kirrow->startAndLogIn(server, "1001", password);
        // While the engine waits for an answer that does not come, the window keeps taking
        // input: a key of the dial pad is in the number box at once.
        kirrow->click(QStringLiteral("7"), QStringLiteral("push button"));
        QTRY_COMPARE(kirrow->control("Kirrow", "Number", "text").text(), QStringLiteral("7"));
        QTRY_COMPARE_WITH_TIMEOUT(wholeStatus(*kirrow), status, 60000);
        if (silent)
            QVERIFY(silent->datagrams() > 0); // the requests reached it
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
            QCOMPARE(kirrow->statusLine(), status);
        }

        chooseLoginAs(*kirrow, menuKey);
        kirrow->typeLogin(m_server->address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kRegisterTimeoutMs);
        QTRY_COMPARE(kirrow->statusLine(), kRegistered);
        QCOMPARE(kirrow->windows(), QStringList{"Kirrow"}); // no message
        kirrow->close();
    }

    // A server that goes away while the phone is registered: the status line says so and calls
    // wait; once it is back, the engine's own retries register again and the status says so.
    void serverOutageShowsAndPasses() {
        KamailioServer server(QList<KamailioServer::Account>{{"1001", "kirrow1001"}});
        server.setMaxExpires(10); // refreshed every few seconds
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        auto kirrow = program();
        kirrow->startAndLogIn(server.address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->statusLine(), kRegistered, kRegisterTimeoutMs);
        server.stop();
        // The refresh goes unanswered until the engine gives up on it (about 40 s).
        QTRY_COMPARE_WITH_TIMEOUT(wholeStatus(*kirrow),
                                  QStringLiteral("Registration failed: no answer from the server"),
                                  90000);
        QVERIFY2(server.start(&error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->statusLine(), kRegistered, 150000);
        QCOMPARE(server.contacts("1001").size(), 1);
        kirrow->close();
    }

    // A blank server is refused in the dialog, which stays open for the rest of the login.
    void blankServerIsRefusedInTheDialog() {
        auto kirrow = program();
        kirrow->start();
        kirrow->typeLogin(QString(), "1001", "kirrow1001");
        kirrow->answerMessage("Sip IP/Domain must not be blank");
        kirrow->typeLogin(m_server->address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kRegisterTimeoutMs);
        QTRY_COMPARE(kirrow->statusLine(), kRegistered);
        kirrow->close();
    }

    // EXIT in the login dialog ends the program without a word to the exchange.
    void exitAtStartUpStartsNoEngine() {
        SipCapture capture;
        capture.addPort(m_server->port());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        auto kirrow = program();
        kirrow->start();
        kirrow->click(QStringLiteral("EXIT"), QStringLiteral("push button"));
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->process().state(), QProcess::NotRunning,
                                  kRegisterTimeoutMs);
        QCOMPARE(kirrow->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(kirrow->process().exitCode(), 0);
        QVERIFY2(capture.sipMethods().isEmpty(), qPrintable(capture.sipMethods().join(' ')));
    }

    void closingForgetsTheAccountOnlyWhenAsked_data() {
        QTest::addColumn<bool>("save");
        QTest::newRow("kept") << true;
        QTest::newRow("not kept") << false;
    }
    void closingForgetsTheAccountOnlyWhenAsked() {
        QFETCH(bool, save);
        auto kirrow = program();
        kirrow->startAndLogIn(m_server->address(), "1002", "kirrow1002", save);
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->statusLine(), kRegistered, kRegisterTimeoutMs);
        kirrow->close();
        QCOMPARE(kirrow->setting("Account"), save ? QStringLiteral("1002") : QString());
        QCOMPARE(kirrow->setting("Password"), save ? QStringLiteral("kirrow1002") : QString());
        QCOMPARE(kirrow->setting("Sip"), save ? m_server->address() : QString());
        QCOMPARE(kirrow->setting("Save"), save ? QStringLiteral("yes") : QStringLiteral("no"));
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
        auto kirrow = program();
        QVERIFY(QDir().mkpath(kirrow->settingsFile())); // a folder where the file goes
        kirrow->start();
        kirrow->typeLogin(m_server->address(), "1001", "kirrow1001", save);
        if (save)
            kirrow->answerMessage(" Kirrow logs in all the same, this time.");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kRegisterTimeoutMs);
        QTRY_COMPARE(kirrow->statusLine(), kRegistered);
        QCOMPARE(kirrow->windows(), QStringList{"Kirrow"}); // told once, no more
        kirrow->close();
    }

    // Ended by a signal (the desktop session closing, `kill`, the terminal it was started from
    // closing), the program shuts down as through its close button: the registration is taken
    // back. An account not to be kept was never written, so no ending can leave it behind.
    // Hidden in the tray it ends all the same, and takes its icon with it.
    // Losing the display (the X server gone, or the program's connection to it cut, as xkill
    // does) ends it the same way, with the exit status Qt gives it.
    void terminationSignalShutsDownAsTheCloseButton_data() {
        QTest::addColumn<int>("signal"); // 0: the display's connection cut
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGTERM") << int(SIGTERM) << 0;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 0;
        QTest::newRow("display lost") << 0 << 1;
    }
    void terminationSignalShutsDownAsTheCloseButton() {
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        auto kirrow = program();
        kirrow->startAndLogIn(m_server->address(), "1002", "kirrow1002");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1002").size(), 1, kRegisterTimeoutMs);
        QVERIFY(!readBytes(kirrow->settingsFile()).contains("kirrow1002"));
        QCOMPARE(kirrow->setting("Save"), QStringLiteral("no"));
        const QString window = kirrow->mainWindow();
        kirrow->click(QStringLiteral("Hide to Tray"), QStringLiteral("push button"));
        QTRY_VERIFY(!xdo::isViewable(window));
        QTRY_COMPARE(xdo::trayIcons().size(), 1);
        if (signal)
            ::kill(pid_t(kirrow->process().processId()), signal);
        else
            QCOMPARE(QProcess::execute("xkill", {"-id", window}), 0);
        QVERIFY(kirrow->process().waitForFinished(20000));
        QCOMPARE(kirrow->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(kirrow->process().exitCode(), exitCode);
        QVERIFY(xdo::trayIcons().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(m_server->contacts("1002").isEmpty(), 5000);
        QCOMPARE(kirrow->setting("Password"), QString());
        QCOMPARE(kirrow->setting("Save"), QStringLiteral("no"));
    }

    // Without its engine the program says so and stays up; it neither crashes nor registers.
    void missingEngineIsToldNotACrash() {
        auto kirrow = program();
        QTemporaryDir folder;
        QProcessEnvironment environment;
        environment.insert("KIRROW_ENGINE", folder.filePath("no-such-engine.so"));
        kirrow->start(environment);
        kirrow->typeLogin(m_server->address(), "1001", "kirrow1001");
        QTRY_VERIFY_WITH_TIMEOUT(readBytes(kirrow->logFile()).contains("no-such-engine.so"),
                                 kRegisterTimeoutMs);
        QCOMPARE(kirrow->process().state(), QProcess::Running);
        QVERIFY(m_server->contacts("1001").isEmpty());
        kirrow->process().terminate(); // with the message still open
        QVERIFY(kirrow->process().waitForFinished(20000));
        QCOMPARE(kirrow->process().exitStatus(), QProcess::NormalExit);
    }

    // The login dialog at start-up shows before the window it logs into is built, and what is
    // typed into it at once counts (every start here types as soon as it shows). It stands where
    // "Login As..." puts it over that window. Without a mixer it steps aside for "No mixer
    // found!", which is answered before the dialog takes the login.
    void startUpDialogComesFirstWhereLoginAsPutsIt() {
        QRect atStartUp;
        {
            auto kirrow = program();
            kirrow->start();
            kirrow->typeLogin(m_server->address(), "1001", "kirrow1001", false, &atStartUp);
            QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kRegisterTimeoutMs);
            chooseLoginAs(*kirrow, false);
            QTRY_COMPARE(xdo::visibleWindows("^Please Enter Your Pin$").size(), 1);
            QCOMPARE(xdo::windowGeometry(xdo::visibleWindows("^Please Enter Your Pin$").first()),
                     atStartUp);
            kirrow->typeLogin(m_server->address(), "1001", "kirrow1001");
            QTRY_VERIFY(xdo::visibleWindows("^Please Enter Your Pin$").isEmpty());
            kirrow->close();
        }

        auto kirrow = program();
        QTemporaryDir folder;
        QFile noSoundConfiguration(folder.filePath("no-sound.conf"));
        QVERIFY(noSoundConfiguration.open(QIODevice::WriteOnly));
        QProcessEnvironment environment;
        environment.insert("ALSA_CONFIG_PATH", noSoundConfiguration.fileName());
        kirrow->start(environment);
        QTRY_COMPARE_WITH_TIMEOUT(xdo::visibleWindows("^Kirrow$").size(), 1, kRegisterTimeoutMs);
        QVERIFY(xdo::visibleWindows("^Please Enter Your Pin$").isEmpty());
        xdo::run({"windowfocus", "--sync", xdo::visibleWindows("^Kirrow$").first()});
        xdo::key({"Return"});
        QTRY_COMPARE(xdo::visibleWindows("^Please Enter Your Pin$").size(), 1);
        QVERIFY(xdo::visibleWindows("^Kirrow$").isEmpty());
    }

    // Started again from the desktop's menu while it runs, Kirrow does not log in a second time:
    // the second start ends at once and the running one comes back from its minimised state
    // (under a window manager, which keeps that state). A Kirrow with settings of its own (another
    // XDG_CONFIG_HOME) runs beside it with its own login.
    void secondStartComesToTheRunningOne() {
        auto kirrow = program();
        kirrow->startAndLogIn(m_server->address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kRegisterTimeoutMs);
        const QString window = kirrow->mainWindow();
        QProcess manager;
        const auto stopManager = windowManager(manager);
        QTRY_COMPARE_WITH_TIMEOUT(xdo::managedState(window), QStringLiteral("Normal"),
                                  kRegisterTimeoutMs);
        xdo::run({"windowminimize", "--sync", window});
        QTRY_COMPARE(xdo::managedState(window), QStringLiteral("Iconic"));

        // The same program with the same folders, started again.
        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.setProcessEnvironment(kirrow->process().processEnvironment());
        QElapsedTimer took;
        took.start();
        second.start(QStringLiteral(KIRROW_BINARY), {});
        QVERIFY(second.waitForFinished(kRegisterTimeoutMs));
        QVERIFY2(took.elapsed() < 2000, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(xdo::managedState(window), QStringLiteral("Normal"));
        QTRY_VERIFY(xdo::isViewable(window));
        QVERIFY(xdo::visibleWindows("^Please Enter Your Pin$").isEmpty());
        QCOMPARE(m_server->contacts("1001").size(), 1);
        QCOMPARE(kirrow->process().state(), QProcess::Running);

        auto other = program();
        other->start();
        QTRY_COMPARE_WITH_TIMEOUT(xdo::visibleWindows("^Please Enter Your Pin$").size(), 1,
                                  kRegisterTimeoutMs);
        QCOMPARE(other->process().state(), QProcess::Running);

        // Ended as the desktop ends it, the first takes its registration back.
        kirrow->process().terminate();
        QVERIFY(kirrow->process().waitForFinished(20000));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->contacts("1001").isEmpty(), kRegisterTimeoutMs);
    }

    // A tel: link opened while Kirrow runs: its number goes into the running one's number box and
    // that window comes up over the window that covered it; nothing is dialled, and the start
    // that was given the link ends at once without a window. The running one took the place of
    // a Kirrow that had crashed and left its socket behind, and serves the link while another
    // caller holds a connection open without a word.
    void linkGoesToTheRunningProgram() {
        auto kirrow = program();
        QTemporaryDir runtime;
        const QByteArray stale = QFile::encodeName(runtime.filePath(
            platform::InstanceChannel::socketNameFor(QFileInfo(kirrow->settingsFile()).path())));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(stale.begin(), stale.end(), address.sun_path);
        const int crashed = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::bind(crashed, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(crashed);
        QProcessEnvironment environment;
        environment.insert("XDG_RUNTIME_DIR", runtime.path());

        SipCapture capture;
        capture.addPort(m_server->port());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        kirrow->start(environment);
        kirrow->typeLogin(m_server->address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kRegisterTimeoutMs);
        const QString window = kirrow->mainWindow();
        QRasterWindow cover;
        cover.setFlag(Qt::FramelessWindowHint);
        cover.setGeometry(xdo::windowGeometry(window));
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        xdo::run({"windowfocus", "--sync", QString::number(cover.winId())});
        QVERIFY(xdo::stackingOrder().indexOf(cover.winId()) >
                xdo::stackingOrder().indexOf(window.toULongLong()));

        // A caller that connects and says nothing keeps nobody else waiting.
        const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const auto hangUp = qScopeGuard([silent] { ::close(silent); });
        QCOMPARE(::connect(silent, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);

        xdo::MapWatch maps;
        QProcess link;
        link.setProcessEnvironment(kirrow->process().processEnvironment());
        link.setProcessChannelMode(QProcess::ForwardedChannels);
        link.start(QStringLiteral(KIRROW_BINARY), {"tel:555-0100"});
        QVERIFY(link.waitForFinished(kRegisterTimeoutMs));
        QCOMPARE(link.exitStatus(), QProcess::NormalExit);
        QCOMPARE(link.exitCode(), 0);
        QCOMPARE(maps.mappedWindows(), 0);
        QTRY_VERIFY(xdo::stackingOrder().indexOf(window.toULongLong()) >
                    xdo::stackingOrder().indexOf(cover.winId()));
        QCOMPARE(xdo::visibleWindows("^Kirrow$"), QStringList{window});
        QCOMPARE(kirrow->process().state(), QProcess::Running);

        // The number as the user sees it: a double click selects it, and the selection is the
        // X server's, for any program to paste.
        const atspi::Node number = kirrow->control("Kirrow", "Number", "text");
        QTRY_COMPARE(number.text(), QStringLiteral("5550100"));
        const QRect shown = number.extents();
        xdo::clickAt(QPoint(shown.left() + 20, shown.center().y()), 1, 2);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(QClipboard::Selection),
                     QStringLiteral("5550100"));
        const QStringList methods = capture.sipMethods();
        QVERIFY2(methods.contains("REGISTER") && !methods.contains("INVITE"),
                 qPrintable(methods.join(' ')));
        kirrow->close();
    }

    // "Login As..." logs the running program in to the second account, through the same engine.
    void loginAsRegistersTheSecondAccount() {
        auto kirrow = program();
        kirrow->startAndLogIn(m_server->address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kRegisterTimeoutMs);
        chooseLoginAs(*kirrow, true);
        kirrow->typeLogin(QStringLiteral("localhost:%1").arg(m_server->port()), "1002",
                          "kirrow1002");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1002").size(), 1, kRegisterTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->statusLine(), kRegistered, kRegisterTimeoutMs);
        kirrow->close();
    }
};

QTEST_MAIN(TestRegistration)
#include "tst_registration.moc"
