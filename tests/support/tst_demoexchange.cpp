// The demo exchange a user starts with scripts/run: its answering service 600 answers a call and
// echoes the caller's touch tones, and stopping the exchange ends the service with it.

#include "freeport.h"
#include "sipcapture.h"
#include "sipppeer.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

class TestDemoExchange : public QObject {
    Q_OBJECT
private slots:
    void answeringServiceEchoesTones();
};

namespace {

constexpr int callDeadlineMs = 30000;

SippPeer::Options caller(const QString &scenario, const QString &exchange, const QString &callee,
                         const QString &user, const QString &password) {
    SippPeer::Options options;
    options.scenario = scenario;
    options.remote = exchange;
    options.service = callee;
    options.authUser = user;
    options.authPassword = password;
    options.keys = {{QStringLiteral("caller"), user}};
    options.timeoutMs = callDeadlineMs;
    return options;
}

} // namespace

void TestDemoExchange::answeringServiceEchoesTones() {
    // scripts/demo-exchange with its answering service, on a free port and
    // a private state folder; call-tones.xml calls 600 and sends tones both
    // as telephone-events and as SIP INFO.
    QTemporaryDir state;
    QVERIFY(state.isValid());
    const quint16 exchangePort = freeUdpPort();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KIRROW_DEMO_PORT"), QString::number(exchangePort));
    environment.insert(QStringLiteral("KIRROW_DEMO_STATE"), state.path());
    environment.insert(QStringLiteral("KIRROW_DEMO_LIFETIME"), QStringLiteral("120"));
    const auto demo = [&](const QString &command) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(QStringLiteral(KIRROW_DEMO_EXCHANGE), {command});
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
        }
        return std::make_pair(process.exitStatus() == QProcess::NormalExit ? process.exitCode()
                                                                           : -1,
                              QString::fromUtf8(process.readAll()));
    };
    // Stopped whatever happens below.
    struct Stopper {
        std::function<void()> stop;
        ~Stopper() { stop(); }
    } stopper{[&] { demo(QStringLiteral("stop")); }};

    const auto [started, startOutput] = demo(QStringLiteral("start"));
    QVERIFY2(started == 0, qPrintable(startOutput));
    const QRegularExpressionMatch answering =
        QRegularExpression(QStringLiteral("sipp on 127\\.0\\.0\\.1:(\\d+)")).match(startOutput);
    QVERIFY2(answering.hasMatch(), qPrintable(startOutput));
    const quint16 answeringPort = answering.captured(1).toUShort();
    QVERIFY(udpPortInUse(answeringPort));

    const QString exchange = QStringLiteral("127.0.0.1:%1").arg(exchangePort);
    SippPeer call(caller(QStringLiteral("call-tones.xml"), exchange, QStringLiteral("600"),
                         QStringLiteral("1001"), QStringLiteral("kirrow1001")));
    SipCapture capture;
    capture.addPort(exchangePort);
    capture.addPort(call.mediaPort());
    // sipp sends its events as payload type 96 (see call-tones.xml).
    capture.setTelephoneEventPayloadType(96);
    QString error;
    QVERIFY2(capture.start(&error), qPrintable(error));

    QVERIFY2(call.start(&error), qPrintable(error));
    QVERIFY2(call.waitForExit(callDeadlineMs) && call.exitCode() == 0, qPrintable(call.report()));
    capture.stop();

    // The caller's tones came back to its own media port: echoed, each
    // once, the repeated 1 as a tone of its own.
    const QList<int> tones{1, 11, 1};
    QCOMPARE(capture.rtpEvents(call.mediaPort()), tones);
    QCOMPARE(capture.rtpEvents(), tones);
    QVERIFY2(capture.lastError().isEmpty(), qPrintable(capture.lastError()));
    QCOMPARE(capture.sipInfoBodies(), QStringList{QStringLiteral("Signal=5\r\nDuration=250\r\n")});
    QVERIFY(capture.sipResponses().contains(QStringLiteral("200 INFO")));
    QVERIFY(capture.sipResponses().contains(QStringLiteral("200 BYE")));

    const auto [stopped, stopOutput] = demo(QStringLiteral("stop"));
    QVERIFY2(stopped == 0, qPrintable(stopOutput));
    QVERIFY2(!udpPortInUse(answeringPort), "the answering service outlived the exchange");
    QVERIFY(!udpPortInUse(exchangePort));
}

QTEST_GUILESS_MAIN(TestDemoExchange)
#include "tst_demoexchange.moc"
