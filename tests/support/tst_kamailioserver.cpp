// Checks the test exchange itself with an independent SIP peer (sipp), so
// that end-to-end failures of the phone can be trusted to be the phone's.

#include "fixtures.h"
#include "freeport.h"
#include "kamailioserver.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <memory>
#include <sys/prctl.h>

namespace {

const QString sippPath = QStringLiteral("/usr/bin/sipp");
// sipp's own deadline is 20 s per call; this only guards against a hang.
constexpr int sippDeadlineMs = 40000;

struct SippResult {
    int exitCode = -1; // 0: every call succeeded
    QString output;
};

// Arguments every sipp run gets: loopback only, one call, bounded in time.
QStringList sippBaseArgs(quint16 localPort) {
    return {
        QStringLiteral("-i"),       QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
        QString::number(localPort), QStringLiteral("-m"),        QStringLiteral("1"),
        QStringLiteral("-timeout"), QStringLiteral("20s"),       QStringLiteral("-timeout_error"),
        QStringLiteral("-nostdin")};
}

void startSipp(QProcess &process, const QString &workDir, const QStringList &args) {
    process.setWorkingDirectory(workDir); // sipp may drop files in its cwd
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    // A crashed test must not leave a peer waiting for calls.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start(sippPath, args);
}

SippResult finishSipp(QProcess &process) {
    SippResult result;
    if (!process.waitForFinished(sippDeadlineMs)) {
        process.kill();
        process.waitForFinished();
        result.output = QStringLiteral("sipp did not finish in time\n");
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.output += QString::fromLocal8Bit(process.readAll());
    return result;
}

SippResult runSipp(const QString &workDir, const QStringList &args) {
    QProcess process;
    startSipp(process, workDir, args);
    return finishSipp(process);
}

// sipp REGISTER of `user` at `server`, the contact being 127.0.0.1:contactPort.
QStringList registerArgs(const KamailioServer &server, const QString &scenario, const QString &user,
                         const QString &password, int expires, quint16 localPort,
                         quint16 contactPort) {
    return QStringList{server.address(),
                       QStringLiteral("-sf"),
                       testFixturePath(QStringLiteral("sipp/") + scenario),
                       QStringLiteral("-s"),
                       user,
                       QStringLiteral("-au"),
                       user,
                       QStringLiteral("-ap"),
                       password,
                       QStringLiteral("-key"),
                       QStringLiteral("expires"),
                       QString::number(expires),
                       QStringLiteral("-key"),
                       QStringLiteral("contact_port"),
                       QString::number(contactPort)} +
           sippBaseArgs(localPort);
}

QString failureText(const SippResult &result, const KamailioServer &server) {
    return QStringLiteral("sipp exit code %1\n--- sipp:\n%2\n--- kamailio log:\n%3")
        .arg(result.exitCode)
        .arg(result.output.right(3000), server.log().right(3000));
}

const QString quotingPassword = QStringLiteral("p\"a&s<s");
const QString backslashPassword = QStringLiteral("x\\y'z$var(x)");

} // namespace

class TestKamailioServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void registration_data();
    void registration();
    void callBetweenRegisteredUsersGoesThroughExchange();
    void stopEndsEveryKamailioProcess();

private:
    QTemporaryDir m_work;
    std::unique_ptr<KamailioServer> m_server;
};

void TestKamailioServer::initTestCase() {
    QVERIFY2(QFile::exists(sippPath), "sipp is missing: run scripts/deps");
    QVERIFY(m_work.isValid());

    m_server = std::make_unique<KamailioServer>(QList<KamailioServer::Account>{
        {QStringLiteral("1001"), quotingPassword},
        {QStringLiteral("1002"), backslashPassword},
        {QStringLiteral("1003"), QStringLiteral("kirrow1003")},
        {QStringLiteral("1004"), QStringLiteral("kirrow1004")},
    });
    QString error;
    QVERIFY2(m_server->start(&error), qPrintable(error));
    QVERIFY(m_server->port() != 0);
}

void TestKamailioServer::registration_data() {
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("expires");
    QTest::addColumn<bool>("accepted");

    // Passwords with characters that need quoting in the config, the shell
    // or XML must still match exactly.
    QTest::newRow("quote, ampersand, less-than") << "1001" << quotingPassword << 600 << true;
    QTest::newRow("backslash, apostrophe, dollar") << "1002" << backslashPassword << 3600 << true;
    QTest::newRow("wrong password") << "1003"
                                    << "kirrow1003x" << 600 << false;
    QTest::newRow("another account's password") << "1003" << quotingPassword << 600 << false;
    QTest::newRow("password with the escapes written out")
        << "1001" << QStringLiteral("p\\\"a&s<s") << 600 << false;
    QTest::newRow("unknown user") << "1099" << quotingPassword << 600 << false;
}

void TestKamailioServer::registration() {
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, expires);
    QFETCH(bool, accepted);

    const quint16 sippPort = freeUdpPort();
    const QString scenario =
        accepted ? QStringLiteral("register.xml") : QStringLiteral("register-rejected.xml");
    const SippResult result =
        runSipp(m_work.path(),
                registerArgs(*m_server, scenario, user, password, expires, sippPort, sippPort));
    QVERIFY2(result.exitCode == 0, qPrintable(failureText(result, *m_server)));

    // Each row registers from a port of its own, so earlier rows' contacts
    // for the same user do not count.
    const QString uri = QStringLiteral("sip:%1@127.0.0.1:%2").arg(user).arg(sippPort);
    QList<KamailioServer::Contact> contacts = m_server->contacts(user);
    contacts.removeIf([&](const KamailioServer::Contact &c) { return c.uri != uri; });
    if (!accepted) {
        QVERIFY(contacts.isEmpty());
        return;
    }
    QCOMPARE(contacts.size(), 1);
    // The asked-for lifetime is kept (a few seconds may have passed).
    QVERIFY2(contacts.first().expires > expires - 10 && contacts.first().expires <= expires,
             qPrintable(QString::number(contacts.first().expires)));
}

void TestKamailioServer::callBetweenRegisteredUsersGoesThroughExchange() {
    // 1004 answers with a sipp peer registered at the exchange; 1003 calls it
    // by number, authenticating with 407, and hangs up. The callee checks the
    // exchange added its Record-Route; the BYE must be relayed back to it.
    const quint16 calleePort = freeUdpPort();
    QProcess callee;
    startSipp(callee, m_work.path(),
              QStringList{QStringLiteral("-sf"),
                          testFixturePath(QStringLiteral("sipp/call-answer.xml")),
                          QStringLiteral("-s"), QStringLiteral("1004")} +
                  sippBaseArgs(calleePort));
    const QDeadlineTimer deadline(10000);
    while (!udpPortInUse(calleePort) && !deadline.hasExpired()) {
        if (callee.waitForFinished(20))
            break;
    }
    QVERIFY2(udpPortInUse(calleePort), qPrintable(QStringLiteral("callee sipp did not start:\n") +
                                                  QString::fromLocal8Bit(callee.readAll())));

    const quint16 registerPort = freeUdpPort();
    const SippResult registered =
        runSipp(m_work.path(),
                registerArgs(*m_server, QStringLiteral("register.xml"), QStringLiteral("1004"),
                             QStringLiteral("kirrow1004"), 600, registerPort, calleePort));
    QVERIFY2(registered.exitCode == 0, qPrintable(failureText(registered, *m_server)));

    const SippResult caller = runSipp(
        m_work.path(),
        QStringList{m_server->address(), QStringLiteral("-sf"),
                    testFixturePath(QStringLiteral("sipp/call.xml")), QStringLiteral("-s"),
                    QStringLiteral("1004"), QStringLiteral("-key"), QStringLiteral("caller"),
                    QStringLiteral("1003"), QStringLiteral("-au"), QStringLiteral("1003"),
                    QStringLiteral("-ap"), QStringLiteral("kirrow1003")} +
            sippBaseArgs(freeUdpPort()));
    const SippResult answered = finishSipp(callee);
    QVERIFY2(caller.exitCode == 0, qPrintable(failureText(caller, *m_server)));
    QVERIFY2(answered.exitCode == 0, qPrintable(failureText(answered, *m_server)));
}

void TestKamailioServer::stopEndsEveryKamailioProcess() {
    KamailioServer server({{QStringLiteral("1001"), QStringLiteral("x")}});
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    const quint16 port = server.port();
    QVERIFY(udpPortInUse(port));
    QVERIFY(!server.rpc({QStringLiteral("core.uptime")}).isEmpty());

    server.stop();

    QVERIFY(!server.isRunning());
    // Every worker inherits the SIP socket: the port is only free once the
    // last kamailio process is gone.
    QVERIFY(!udpPortInUse(port));
    QVERIFY(server.rpc({QStringLiteral("core.uptime")}).isEmpty());
}

QTEST_GUILESS_MAIN(TestKamailioServer)
#include "tst_kamailioserver.moc"
