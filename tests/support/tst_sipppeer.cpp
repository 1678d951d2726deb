// Checks the far-end peers of the end-to-end tests (sipp scenarios run by
// SippPeer), the capture that judges them (SipCapture), and the exchange's
// answering service 600, against each other through a real exchange, so that
// a failing phone test points at the phone.

#include "fixtures.h"
#include "freeport.h"
#include "kamailioserver.h"
#include "sipcapture.h"
#include "sipppeer.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

const QString callerUser = QStringLiteral("1002");
const QString callerPassword = QStringLiteral("caller-secret");
// Accounts for sipp peers standing in for the phone, one per test: a
// contact left from an earlier test would get a copy of the call too, and
// the exchange would wait for that dead branch before giving up on it.
const QStringList phoneUsers{QStringLiteral("1001"), QStringLiteral("1003"),
                             QStringLiteral("1004")};
const QString phonePassword = QStringLiteral("phone-secret");

constexpr int callDeadlineMs = 30000;

QRegularExpression line(const QString &pattern) {
    return QRegularExpression(pattern, QRegularExpression::MultilineOption);
}

int count(const QString &text, const QString &pattern) {
    int n = 0;
    auto it = line(pattern).globalMatch(text);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

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

QStringList withoutTrying(QStringList responses) {
    responses.removeAll(QStringLiteral("100 INVITE"));
    return responses;
}

} // namespace

class TestSippPeer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void callInAnsweredThenHungUpByFarEnd();
    void callInDeclined();
    void callInCancelledWhileRinging();
    void answeringServiceIsOffWithoutPeer();
    void demoAnsweringServiceEchoesTones();
    void stopEndsSipp();

private:
    // Starts the phone's stand-in and registers it as its -s user.
    void startPhone(SippPeer &phone);

    std::unique_ptr<KamailioServer> m_server;
};

void TestSippPeer::initTestCase() {
    QList<KamailioServer::Account> accounts{{callerUser, callerPassword}};
    for (const QString &user : phoneUsers)
        accounts.append({user, phonePassword});
    m_server = std::make_unique<KamailioServer>(accounts);
    QString error;
    QVERIFY2(m_server->start(&error), qPrintable(error));
}

void TestSippPeer::startPhone(SippPeer &phone) {
    const QString phoneUser = phone.options().service;
    QString error;
    QVERIFY2(phone.start(&error), qPrintable(error));

    SippPeer::Options options;
    options.scenario = QStringLiteral("register.xml");
    options.remote = m_server->address();
    options.service = phoneUser;
    options.authUser = phoneUser;
    options.authPassword = phonePassword;
    options.keys = {{QStringLiteral("expires"), QStringLiteral("600")},
                    {QStringLiteral("contact_port"), QString::number(phone.port())}};
    SippPeer registration(options);
    QVERIFY2(registration.start(&error), qPrintable(error));
    QVERIFY2(registration.waitForExit(callDeadlineMs) && registration.exitCode() == 0,
             qPrintable(registration.report()));
    const QString contact = QStringLiteral("sip:%1@127.0.0.1:%2").arg(phoneUser).arg(phone.port());
    QList<KamailioServer::Contact> contacts = m_server->contacts(phoneUser);
    QVERIFY(std::any_of(contacts.cbegin(), contacts.cend(),
                        [&](const KamailioServer::Contact &c) { return c.uri == contact; }));
}

void TestSippPeer::callInAnsweredThenHungUpByFarEnd() {
    const QString phoneUser = phoneUsers.at(0);
    // call-in.xml calls the "phone"; answer-hangup.xml answers and hangs up
    // after a moment: call-in must take the answer, ACK it along the
    // recorded route and answer the BYE that comes back through the exchange.
    SippPeer::Options phoneOptions;
    phoneOptions.scenario = QStringLiteral("answer-hangup.xml");
    phoneOptions.service = phoneUser;
    phoneOptions.pauseMs = 300;
    SippPeer phone(phoneOptions);
    startPhone(phone);
    if (QTest::currentTestFailed())
        return;

    // Both legs of the call: caller - exchange, exchange - phone.
    SipCapture capture;
    capture.addPort(m_server->port());
    capture.addPort(phone.port());
    QString error;
    QVERIFY2(capture.start(&error), qPrintable(error));

    SippPeer call(caller(QStringLiteral("call-in.xml"), m_server->address(), phoneUser, callerUser,
                         callerPassword));
    QVERIFY2(call.start(&error), qPrintable(error));
    QVERIFY2(call.waitForExit(callDeadlineMs) && call.exitCode() == 0, qPrintable(call.report()));
    QVERIFY2(phone.waitForExit(callDeadlineMs) && phone.exitCode() == 0,
             qPrintable(phone.report()));

    // The outcome shows in the caller's trace: answered, then hung up.
    const QString trace = call.messages();
    QVERIFY(call.waitForMessage(line(QStringLiteral("^SIP/2\\.0 200 ")), 0));
    QCOMPARE(count(trace, QStringLiteral("^SIP/2\\.0 603 ")), 0);
    QCOMPARE(count(trace, QStringLiteral("^BYE sip:")), 1);
    // The answer sent once: a retransmitted 200 would mean the ACK went
    // astray. The phone's BYE was answered.
    const QStringList phoneSent = phone.sentMessages();
    QCOMPARE(phoneSent.filter(line(QStringLiteral("^CSeq: *\\d+ INVITE"))).size(), 2); // 180, 200
    QCOMPARE(phoneSent.filter(line(QStringLiteral("^SIP/2\\.0 200 "))).size(), 1);
    QCOMPARE(phone.receivedMessages().filter(line(QStringLiteral("^SIP/2\\.0 200 "))).size(), 1);

    // The capture saw both legs; relayed copies count once.
    capture.stop();
    QCOMPARE(capture.sipMethods(),
             (QStringList{QStringLiteral("INVITE"), QStringLiteral("ACK"), QStringLiteral("INVITE"),
                          QStringLiteral("ACK"), QStringLiteral("BYE")}));
    QCOMPARE(withoutTrying(capture.sipResponses()),
             (QStringList{QStringLiteral("407 INVITE"), QStringLiteral("180 INVITE"),
                          QStringLiteral("200 INVITE"), QStringLiteral("200 BYE")}));
    QVERIFY2(capture.lastError().isEmpty(), qPrintable(capture.lastError()));
    const QList<SipCapture::SipMessage> messages = capture.sipMessages();
    const auto bye =
        std::find_if(messages.cbegin(), messages.cend(), [](const SipCapture::SipMessage &m) {
            return m.method == QLatin1String("BYE");
        });
    QVERIFY(bye != messages.cend());
    QCOMPARE(bye->sourcePort, phone.port());
    QCOMPARE(bye->destinationPort, m_server->port());
}

void TestSippPeer::callInDeclined() {
    const QString phoneUser = phoneUsers.at(1);
    SippPeer::Options phoneOptions;
    phoneOptions.scenario = QStringLiteral("decline.xml");
    phoneOptions.service = phoneUser;
    phoneOptions.pauseMs = 200;
    SippPeer phone(phoneOptions);
    startPhone(phone);
    if (QTest::currentTestFailed())
        return;

    QString error;
    SippPeer call(caller(QStringLiteral("call-in.xml"), m_server->address(), phoneUser, callerUser,
                         callerPassword));
    QVERIFY2(call.start(&error), qPrintable(error));
    QVERIFY2(call.waitForExit(callDeadlineMs) && call.exitCode() == 0, qPrintable(call.report()));
    QVERIFY2(phone.waitForExit(callDeadlineMs) && phone.exitCode() == 0,
             qPrintable(phone.report()));

    const QString trace = call.messages();
    // Rejected, acknowledged at once: the exchange did not have to repeat it.
    QCOMPARE(count(trace, QStringLiteral("^SIP/2\\.0 603 ")), 1);
    QCOMPARE(count(trace, QStringLiteral("^SIP/2\\.0 200 ")), 0);
    QCOMPARE(count(trace, QStringLiteral("^ACK sip:")), 2); // the 407's and the 603's
}

void TestSippPeer::callInCancelledWhileRinging() {
    const QString phoneUser = phoneUsers.at(2);
    SippPeer::Options phoneOptions;
    phoneOptions.scenario = QStringLiteral("ring.xml");
    phoneOptions.service = phoneUser;
    SippPeer phone(phoneOptions);
    startPhone(phone);
    if (QTest::currentTestFailed())
        return;

    QString error;
    SippPeer::Options options = caller(QStringLiteral("call-in-cancel.xml"), m_server->address(),
                                       phoneUser, callerUser, callerPassword);
    options.pauseMs = 200;
    SippPeer call(options);
    QVERIFY2(call.start(&error), qPrintable(error));
    QVERIFY2(call.waitForExit(callDeadlineMs) && call.exitCode() == 0, qPrintable(call.report()));
    QVERIFY2(phone.waitForExit(callDeadlineMs) && phone.exitCode() == 0,
             qPrintable(phone.report()));

    const QString trace = call.messages();
    QCOMPARE(count(trace, QStringLiteral("^CANCEL sip:")), 1);
    // One 487 and its ACK: a repeated 487 would mean the ACK did not match.
    QCOMPARE(count(trace, QStringLiteral("^SIP/2\\.0 487 ")), 1);
    QCOMPARE(count(phone.messages(), QStringLiteral("^CANCEL sip:")), 1);
}

void TestSippPeer::answeringServiceIsOffWithoutPeer() {
    // KamailioServer fills in no answering peer: 600 must be refused, not
    // relayed to a broken address.
    QString error;
    SippPeer call(caller(QStringLiteral("call-in.xml"), m_server->address(), QStringLiteral("600"),
                         callerUser, callerPassword));
    QVERIFY2(call.start(&error), qPrintable(error));
    QVERIFY(call.waitForExit(callDeadlineMs));
    QVERIFY2(call.waitForMessage(line(QStringLiteral("^SIP/2\\.0 404 ")), 0),
             qPrintable(call.report()));
    QVERIFY(call.exitCode() != 0); // call-in.xml expects an answer
}

void TestSippPeer::demoAnsweringServiceEchoesTones() {
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

void TestSippPeer::stopEndsSipp() {
    SippPeer::Options options;
    options.scenario = QStringLiteral("answer.xml");
    options.rtpEcho = true;
    SippPeer peer(options);
    QString error;
    QVERIFY2(peer.start(&error), qPrintable(error));
    QVERIFY(peer.isRunning());
    QVERIFY(udpPortInUse(peer.port()));
    QVERIFY(udpPortInUse(peer.mediaPort()));
    QCOMPARE(peer.exitCode(), -1);

    peer.stop();
    QVERIFY(!peer.isRunning());
    QCOMPARE(peer.exitCode(), -1); // stopped, not passed
    QVERIFY(!udpPortInUse(peer.port()));
    QVERIFY(!udpPortInUse(peer.mediaPort()));
    QVERIFY(!peer.waitForMessage(line(QStringLiteral("^INVITE")), 1000));
}

QTEST_GUILESS_MAIN(TestSippPeer)
#include "tst_sipppeer.moc"
