#include "freeport.h"
#include "frmkirrow.h"
#include "kamailioserver.h"
#include "linphoneclient.h"
#include "logindriver.h"
#include "picturebox.h"
#include "settingsstore.h"
#include "xdo.h"

#include <QAction>
#include <QLabel>
#include <QTimer>
#include <QtTest>

using namespace account;

// Kirrow with its real engine against a real exchange on 127.0.0.1.
class TestRegistration : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::unique_ptr<KamailioServer> m_server;
    std::shared_ptr<rtc::LinphoneClient> m_client;
    int m_clientsMade = 0;
    QStringList m_statusLines;

    static constexpr int kRegisterTimeoutMs = 20000;

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
            m_statusLines = {window->lblMsg->text()};
            // Connected after the window's own handler, so each line is read once it is written.
            QLabel *status = window->lblMsg;
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
        QTRY_COMPARE_WITH_TIMEOUT(window->RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        QCOMPARE(m_statusLines,
                 (QStringList{"Not logged in...", "Registering", "Registered and Ready..."}));
        QCOMPARE(window->lblMsg->text(), QStringLiteral("Registered and Ready..."));
        const auto contacts = m_server->contacts("1001");
        QCOMPARE(contacts.size(), 1);
        QVERIFY2(contacts.first().expires > 590 && contacts.first().expires <= 600,
                 qPrintable(QString::number(contacts.first().expires)));
        // The engine advertises the address that routes to the exchange.
        QVERIFY2(contacts.first().uri.contains("@127.0.0.1"), qPrintable(contacts.first().uri));
        QVERIFY(messages.texts().isEmpty());
    }

    void wrongPasswordIsRejectedAndKirrowKeepsRunning() {
        MessageCatcher messages;
        auto window = started(login("1001", "not-the-password"));
        QTRY_COMPARE_WITH_TIMEOUT(window->RegState(), QStringLiteral("REJECTED"),
                                  kRegisterTimeoutMs);
        QCOMPARE(window->lblMsg->text(), QStringLiteral("Rejected"));
        QVERIFY(!window->HasEnded());
        QVERIFY(window->isVisible());
        QVERIFY(messages.texts().isEmpty());
        QVERIFY(m_server->contacts("1001").isEmpty());
    }

    void passwordWithXmlCharactersRegisters() {
        auto window = started(login("1003", "p\"a&s<s"));
        QTRY_COMPARE_WITH_TIMEOUT(window->RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        QCOMPARE(m_server->contacts("1003").size(), 1);
    }

    void serverNotListeningLeavesTheWindowResponsive() {
        MessageCatcher messages;
        LoginAnswer answer = login("1001", "kirrow1001");
        answer.server = QStringLiteral("127.0.0.1:%1").arg(deadUdpPort());
        auto window = started(answer);
        QTRY_COMPARE_WITH_TIMEOUT(window->lblMsg->text(), QStringLiteral("Registering"),
                                  kRegisterTimeoutMs);
        // While the engine waits for an answer that never comes, the event loop keeps turning.
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(10);
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 100, 10000);
        QCOMPARE(window->RegState(), QStringLiteral("REGISTERING"));
        // When the engine gives up (no answer: value 5), the word and the status line stay.
        bool gaveUp = false;
        connect(m_client.get(), &rtc::IRTCClient::Event, this,
                [&gaveUp](long, const rtc::IRTCEventPtr &e) {
                    auto view = std::dynamic_pointer_cast<rtc::IRTCRegistrationStateChangeEvent>(e);
                    gaveUp = gaveUp || (view && view->State() == rtc::RTCRS_ERROR);
                });
        QTRY_VERIFY_WITH_TIMEOUT(gaveUp, 60000);
        QCOMPARE(window->RegState(), QStringLiteral("REGISTERING"));
        QCOMPARE(window->lblMsg->text(), QStringLiteral("Registering"));
        QVERIFY(messages.texts().isEmpty());
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
        QTRY_COMPARE_WITH_TIMEOUT(window->RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        // The close button, clicked as a user does.
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        xdo::click(window->Picture40);
        QTRY_VERIFY(window->HasEnded());
        QCOMPARE(readEntry(kAccountApp), save ? QStringLiteral("1002") : QString());
        QCOMPARE(readEntry(kPasswordApp), save ? QStringLiteral("kirrow1002") : QString());
        QCOMPARE(readEntry(kSipApp), save ? m_server->address() : QString());
        QCOMPARE(readEntry(kSaveApp), save ? QStringLiteral("yes") : QStringLiteral("no"));
    }

    void loginAsRegistersTheSecondAccount() {
        auto window = started(login("1001", "kirrow1001"));
        QTRY_COMPARE_WITH_TIMEOUT(window->RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        const QString firstProfile = window->strXMLProfile;
        LoginAnswer second = login("1002", "kirrow1002");
        second.server = QStringLiteral("localhost:%1").arg(m_server->port());
        answerNextLoginDialog(second);
        window->mnuLoginAs->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1002").size(), 1, kRegisterTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(window->RegState(), QStringLiteral("REGISTERED"),
                                  kRegisterTimeoutMs);
        QCOMPARE(m_clientsMade, 1);
        QCOMPARE(window->strSIPIP, second.server);
        QVERIFY(window->strXMLProfile != firstProfile);
        QVERIFY(window->strXMLProfile.contains("<user account=\"1002\" name=\"1001\""));
    }
};

QTEST_MAIN(TestRegistration)
#include "tst_registration.moc"
