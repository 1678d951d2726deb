#include "clstooltip.h"
#include "digitbox.h"
#include "errortraps.h"
#include "fakertcclient.h"
#include "filebytes.h"
#include "frmkirrow.h"
#include "knobbox.h"
#include "logindriver.h"
#include "mainlayout.h"
#include "mdltooltip.h"
#include "picturebox.h"
#include "settingsstore.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QTimer>
#include <QtTest>

using namespace account;

// The main window over a scripted client: start-up order, registration states, shutdown.
class TestFrmKirrow : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::shared_ptr<FakeRTCClient> m_client;
    int m_clientsMade = 0;
    QString m_failOn;

    std::unique_ptr<frmKirrow> makeWindow() {
        return std::make_unique<frmKirrow>([this] {
            ++m_clientsMade;
            m_client = std::make_shared<FakeRTCClient>();
            m_client->failOn = m_failOn;
            return m_client;
        });
    }

    // A window started and logged in with the given answer.
    std::unique_ptr<frmKirrow> started(const LoginAnswer &answer) {
        auto window = makeWindow();
        answerNextLoginDialog(answer);
        window->Form_Load();
        return window;
    }

    static LoginAnswer login(const QString &acct = "1001", const QString &password = "secret",
                             bool save = true) {
        LoginAnswer answer;
        answer.server = "sip.example.net";
        answer.account = acct;
        answer.password = password;
        answer.save = save;
        return answer;
    }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8()); }
    void init() {
        QFile::remove(settingsFilePath());
        m_client.reset();
        m_clientsMade = 0;
        m_failOn.clear();
    }

    void startUpCreatesConfiguresAndRegistersInOrder() {
        MessageCatcher messages;
        auto window = started(login());
        QVERIFY(messages.texts().isEmpty());
        QCOMPARE(window->lblMsg->text(), QStringLiteral("Not logged in..."));
        QCOMPARE(window->RegState(), QStringLiteral("NOTREGISTERED"));
        QCOMPARE(m_client->calls,
                 (QStringList{"Initialize", "EventFilter 39", "ListenForIncomingSessions 2",
                              "SetPreferredMediaTypes 3 1", "CreateProfile", "EnableProfile 7"}));
        QCOMPARE(window->strSIPIP, QStringLiteral("sip.example.net"));
        QCOMPARE(window->strXMLProfile, m_client->profileTexts.first());
        QVERIFY(window->strXMLProfile.contains(
            "<user account=\"1001\" name=\"1001\" password=\"secret\""));
        QCOMPARE(window->DisplayName(), QStringLiteral("1001"));
        QCOMPARE(window->Tooltips()->Tools().size(), 11);
    }

    void idleControlsAfterStartUp() {
        auto window = started(login());
        QVERIFY(window->Picture6->isEnabled());
        QVERIFY(window->Picture16->isEnabled());
        QVERIFY(window->Picture17->isEnabled());
        QVERIFY(window->Picture13->isEnabled());
        QVERIFY(!window->Picture8->isEnabled());
        QVERIFY(window->cmbPhoneNo->isEnabled());
        QVERIFY(!window->Calls().tmrConnected->isActive());
        QCOMPARE(window->Calls().tmrConnected->interval(), 1000);
        QVERIFY(window->lblBalance->isHidden());
    }

    void everyControlSitsWhereTheLayoutPutsIt() {
        auto window = started(login());
        for (const skin::ControlPlace &place : skin::mainWindowLayout()) {
            auto *control = window->findChild<QWidget *>(place.name);
            QVERIFY2(control, qPrintable(place.name));
            QCOMPARE(control->pos(), QPoint(place.left, place.top) / 15);
            auto *picture = qobject_cast<PictureBox *>(control);
            if (picture && !picture->pixmap().isNull() && !qobject_cast<KnobBox *>(control))
                QCOMPARE(control->size(), picture->pixmap().size()); // sized to its picture
            else
                QCOMPARE(control->size(), QSize(place.width, place.height) / 15);
        }
        QCOMPARE(window->size(), QSize(297, 436));
        QCOMPARE(window->Picture1->size(), QSize(292, 389));
        QCOMPARE(window->Picture16->width(), 38);
        QCOMPARE(window->Picture17->width(), 39);
    }

    void windowIsTheSkinsOutline() {
        auto window = started(login());
        const QImage skin = window->Picture1->picture();
        QCOMPARE(skin.format(), QImage::Format_Indexed8); // the 8-bit skin, converted by the scan
        const QRgb transparent = skin.pixel(0, skin.height() - 1);
        const QRegion mask = window->mask();
        for (int y = 0; y < skin.height(); y += 7)
            for (int x = 0; x < skin.width(); x += 5)
                QCOMPARE(mask.contains(QPoint(x, y)),
                         skin.pixel(x, y) != transparent && x != skin.width() - 1);
        // Nothing below or beside the skin, where the rounded start-up shape reached.
        QVERIFY(!mask.contains(QPoint(150, 390)));
        // The picture holders lie outside the outline.
        for (QWidget *holder :
             {static_cast<QWidget *>(window->logOn), static_cast<QWidget *>(window->logOff),
              static_cast<QWidget *>(window->TrayIcon)})
            QVERIFY(!mask.intersects(holder->geometry()));
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    }

    void knobsHaveARaisedEdge() {
        auto window = started(login());
        QCOMPARE(window->KnobRect(), QRect(0, 0, 6, 6));
        for (KnobBox *knob : window->picWave) {
            const QImage painted = knob->grab().toImage();
            // The edge's light top-left and dark bottom-right, over the knob's picture.
            QCOMPARE(painted.pixel(0, 0), knob->palette().color(QPalette::Light).rgb());
            QCOMPARE(painted.pixel(5, 5), knob->palette().color(QPalette::Shadow).rgb());
        }
    }

    void exitAtStartUpCreatesNoClient() {
        LoginAnswer answer;
        answer.action = LoginAnswer::Exit;
        auto window = makeWindow();
        answerNextLoginDialog(answer);
        QVERIFY(!window->Form_Load());
        QVERIFY(window->HasEnded());
        QCOMPARE(m_clientsMade, 0);
        QCOMPARE(window->lblBalance->text(), QStringLiteral("EXITING"));
    }

    void passwordReadBackEmptyIsTheAccountNumber() {
        // The dialog closed by the window manager saves nothing; the stored account has no
        // password.
        writeEntry(kAccountApp, "1001");
        writeEntry(kSipApp, "sip.example.net");
        LoginAnswer answer;
        answer.action = LoginAnswer::CloseWindow;
        auto window = started(answer);
        QVERIFY(window->strXMLProfile.contains("password=\"1001\""));
        QCOMPARE(m_client->calls.last(), QStringLiteral("EnableProfile 7"));
    }

    void registrationStatesShowInWordAndStatusLine_data() {
        QTest::addColumn<long>("state");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("caption");
        QTest::newRow("0") << 0L << "NOTREGISTERED"
                           << "Not Registered";
        QTest::newRow("1") << 1L << "REGISTERING"
                           << "Registering";
        QTest::newRow("2") << 2L << "REGISTERED"
                           << "Registered and Ready...";
        QTest::newRow("3") << 3L << "REJECTED"
                           << "Rejected";
        QTest::newRow("6") << 6L << "LOGGEDOFF"
                           << "Logged off.";
        QTest::newRow("5") << 5L << "NOTREGISTERED"
                           << "Registration failed: server not found or not reachable";
    }
    void registrationStatesShowInWordAndStatusLine() {
        QFETCH(long, state);
        QFETCH(QString, word);
        QFETCH(QString, caption);
        auto window = started(login());
        m_client->raiseRegistration(state);
        QCOMPARE(window->RegState(), word);
        QCOMPARE(window->lblMsg->text(), caption);
    }

    void otherRegistrationValuesAndMediaEventsChangeNothing() {
        auto window = started(login());
        m_client->raiseRegistration(2);
        for (long state : {4L, 7L, -1L, 99L}) {
            m_client->raiseRegistration(state);
            QCOMPARE(window->RegState(), QStringLiteral("REGISTERED"));
            QCOMPARE(window->lblMsg->text(), QStringLiteral("Registered and Ready..."));
        }
        m_client->raiseMedia(1, 2);
        // An event whose object is not the view its type promises is skipped, not a crash.
        m_client->raise(rtc::RTCE_REGISTRATION_STATE_CHANGE, std::make_shared<rtc::IRTCEvent>());
        m_client->raise(rtc::RTCE_MEDIA, std::make_shared<rtc::IRTCEvent>());
        m_client->raise(rtc::RTCE_CLIENT, std::make_shared<rtc::IRTCEvent>());
        QCOMPARE(window->lblMsg->text(), QStringLiteral("Registered and Ready..."));
    }

    void clientThatFailsShowsTheStartUpMessageAndGoesOn_data() {
        QTest::addColumn<QString>("failOn");
        QTest::addColumn<int>("messageCount");
        // Client creation failing leaves no client, so the profile step fails too.
        QTest::newRow("Initialize") << "Initialize" << 2;
        QTest::newRow("ListenForIncomingSessions") << "ListenForIncomingSessions" << 1;
        QTest::newRow("CreateProfile") << "CreateProfile" << 1;
        QTest::newRow("EnableProfile") << "EnableProfile" << 1;
    }
    void clientThatFailsShowsTheStartUpMessageAndGoesOn() {
        QFETCH(QString, failOn);
        QFETCH(int, messageCount);
        m_failOn = failOn;
        MessageCatcher messages;
        auto window = started(login());
        QCOMPARE(messages.texts(),
                 QStringList(messageCount, "An Error Occured and has been logged. FORMLOAD"));
        QVERIFY(!window->strXMLProfile.isEmpty()); // set before the failing step
        QCOMPARE(window->lblMsg->text(), QStringLiteral("Not logged in..."));
        // "has been logged" holds: the program's log says what failed.
        QVERIFY(readBytes(platform::programLogPath())
                    .contains(failOn.toUtf8() + " failed as the test asked."));
    }

    void closingErasesTheAccountOnlyWhenNotToBeKept_data() {
        QTest::addColumn<bool>("save");
        QTest::newRow("kept") << true;
        QTest::newRow("not kept") << false;
    }
    void closingErasesTheAccountOnlyWhenNotToBeKept() {
        QFETCH(bool, save);
        auto window = started(login("1001", "secret", save));
        window->show();
        QTest::mouseClick(window->Picture40, Qt::LeftButton);
        QVERIFY(window->HasEnded());
        QVERIFY(!window->isVisible());
        QCOMPARE(readEntry(kAccountApp).isEmpty(), !save);
        QCOMPARE(readEntry(kPasswordApp).isEmpty(), !save);
        QCOMPARE(readEntry(kSipApp).isEmpty(), !save);
        QCOMPARE(readEntry(kSaveApp), save ? QStringLiteral("yes") : QStringLiteral("no"));
    }

    void closingByTheWindowManagerIsTheCloseButton() {
        auto window = started(login("1001", "secret", false));
        window->show();
        window->close();
        QVERIFY(window->HasEnded());
        QCOMPARE(readEntry(kAccountApp), QString());
        // The tooltip manager went with the window, and its tip window and filter with it.
        QVERIFY(!window->Tooltips());
        QCOMPARE(mdlTooltip::lngTooltipInstances, 0);
        QVERIFY(!mdlTooltip::hTooltipWnd);
    }

    // What a screen reader finds in the window: every picture that is pressed is a button with
    // a name, that it can press; the knobs are sliders; the number box says what it is for.
    void controlsSpeakToAScreenReader() {
        auto window = started(login());
        window->show();
        QHash<QObject *, QAccessibleInterface *> found;
        std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
            found.insert(node->object(), node);
            for (int i = 0; i < node->childCount(); ++i)
                walk(node->child(i));
        };
        walk(QAccessible::queryAccessibleInterface(window.get()));

        int buttons = 0;
        for (QAccessibleInterface *node : std::as_const(found)) {
            if (node->role() != QAccessible::Button)
                continue;
            ++buttons;
            QVERIFY2(!node->text(QAccessible::Name).isEmpty(),
                     qPrintable(node->object()->objectName()));
        }
        const QList<PictureBox *> pressed = {
            window->Picture2,  window->Picture3,  window->Picture4,  window->Picture6,
            window->Picture8,  window->Picture11, window->Picture13, window->Picture16,
            window->Picture17, window->Picture20, window->Picture21, window->Picture22,
            window->Picture25, window->Picture26, window->Picture27, window->Picture30,
            window->Picture31, window->Picture32, window->Picture35, window->Picture36,
            window->Picture37, window->Picture40, window->Picture41};
        for (PictureBox *box : pressed) {
            QVERIFY2(found.contains(box), qPrintable(box->objectName()));
            QCOMPARE(found[box]->role(), QAccessible::Button);
        }
        QCOMPARE(buttons, pressed.size()); // the skin and the hidden pictures are not buttons
        QCOMPARE(found[window->Picture36]->text(QAccessible::Name), QStringLiteral("0"));
        QCOMPARE(found[window->Picture6]->text(QAccessible::Description),
                 QStringLiteral("Click to Make Call"));
        for (KnobBox *knob : window->picWave) {
            QVERIFY(found.contains(knob));
            QCOMPARE(found[knob]->role(), QAccessible::Slider);
            QVERIFY(!found[knob]->text(QAccessible::Name).isEmpty());
        }
        QVERIFY(found.contains(window->cmbPhoneNo));
        QVERIFY(!found[window->cmbPhoneNo]->text(QAccessible::Name).isEmpty());
        QCOMPARE(found[window->cmbPhoneNo]->text(QAccessible::Description),
                 QStringLiteral("Include International Country Code"));

        // Pressed by the screen reader, a key dials as a click does; End, unusable, offers no
        // press.
        QAccessibleActionInterface *five = found[window->Picture26]->actionInterface();
        QVERIFY(five);
        five->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(window->cmbPhoneNo->currentText(), QStringLiteral("5"));
        QVERIFY(!found[window->Picture8]->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
    }

    void loginAsRegistersANewProfileOnTheSameClient() {
        auto window = started(login());
        const auto client = m_client;
        LoginAnswer second = login("1002", "other");
        second.server = "sip2.example.net";
        answerNextLoginDialog(second);
        window->mnuLoginAs->trigger();
        QCOMPARE(m_clientsMade, 1);
        QCOMPARE(client->calls.mid(6), (QStringList{"CreateProfile", "EnableProfile 7"}));
        QCOMPARE(window->strSIPIP, QStringLiteral("sip2.example.net"));
        QCOMPARE(window->strXMLProfile, client->profileTexts.last());
        // The name shown to the people called is the account now logged in.
        QVERIFY(
            window->strXMLProfile.contains("<user account=\"1002\" name=\"1002\" "
                                           "password=\"other\" uri=\"sip:1002@sip2.example.net\""));
    }

    void exitInLoginAsReregistersWithWhatIsSaved() {
        auto window = started(login());
        LoginAnswer exit;
        exit.action = LoginAnswer::Exit;
        answerNextLoginDialog(exit);
        window->mnuLoginAs->trigger();
        QVERIFY(!window->HasEnded());
        QCOMPARE(m_client->calls.last(), QStringLiteral("EnableProfile 7"));
        QCOMPARE(m_client->profileTexts.size(), 2);
    }

    void loginButtonOnlySavesForNextTime() {
        auto window = started(login());
        answerNextLoginDialog(login("1002", "other", false));
        QTest::mouseClick(window->Picture13, Qt::LeftButton);
        QCOMPARE(readEntry(kAccountApp), QStringLiteral("1002"));
        QCOMPARE(readEntry(kSaveApp), QStringLiteral("no"));
        QCOMPARE(m_client->profileTexts.size(), 1);
        QCOMPARE(window->strSIPIP, QStringLiteral("sip.example.net"));
    }
};

QTEST_MAIN(TestFrmKirrow)
#include "tst_frmkirrow.moc"
