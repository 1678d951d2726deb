#include "clstooltip.h"
#include "clsvolume.h"
#include "dialogdriver.h"
#include "digitbox.h"
#include "errortraps.h"
#include "fakemixerdevice.h"
#include "fakertcclient.h"
#include "filebytes.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "knobbox.h"
#include "logindriver.h"
#include "mainlayout.h"
#include "mainwindowui.h"
#include "mdltooltip.h"
#include "picturebox.h"
#include "provisioningprofile.h"
#include "registrationstate.h"
#include "settingsstore.h"
#include "traycontroller.h"
#include "tuningwizard.h"
#include "volumecontroller.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
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
    std::shared_ptr<FakeMixerDevice::State> m_mixer;
    bool m_noEngine = false; // making the client fails, as it does when the engine cannot load
    QList<rtc::AudioDevice> m_devices;

    std::unique_ptr<frmKirrow> makeWindow() {
        return std::make_unique<frmKirrow>([this] {
            ++m_clientsMade;
            if (m_noEngine)
                throw rtc::RtcError(rtc::RTC_E_ENGINE, "The SIP engine could not be loaded.");
            m_client = std::make_shared<FakeRTCClient>();
            m_client->failOn = m_failOn;
            m_client->devices = m_devices;
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
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        // The window's mixer is a scripted one, whatever sound the machine has.
        audio::setMixerDeviceFactory([this] { return std::make_unique<FakeMixerDevice>(m_mixer); });
    }
    void init() {
        m_mixer = FakeMixerDevice::speakersAndMicrophone();
        QFile::remove(settingsFilePath());
        m_client.reset();
        m_clientsMade = 0;
        m_failOn.clear();
        m_noEngine = false;
        m_devices.clear();
    }

    // Start-up registers the account typed, once, and says nothing until the engine reports.
    void startUpRegistersTheAccountTyped() {
        MessageCatcher messages;
        auto window = started(login());
        QVERIFY(messages.texts().isEmpty());
        QCOMPARE(ui(window).lblMsg->text(), QStringLiteral("Not logged in..."));
        QVERIFY(!window->Registration().IsRegistered());
        QCOMPARE(m_client->calls.filter("EnableProfile"), QStringList{"EnableProfile 7"});
        const rtc::ProvisioningProfile profile =
            rtc::parseProvisioningProfile(m_client->profileTexts.value(0));
        QCOMPARE(profile.userName, QStringLiteral("1001"));
        QCOMPARE(profile.password, QStringLiteral("secret"));
        QCOMPARE(window->Registration().SipServer(), QStringLiteral("sip.example.net"));
        QCOMPARE(window->Tooltips()->Tools().size(), 11);
    }

    void idleControlsAfterStartUp() {
        auto window = started(login());
        QVERIFY(ui(window).Picture6->isEnabled());
        QVERIFY(ui(window).Picture16->isEnabled());
        QVERIFY(ui(window).Picture17->isEnabled());
        QVERIFY(ui(window).Picture13->isEnabled());
        QVERIFY(!ui(window).Picture8->isEnabled());
        QVERIFY(ui(window).cmbPhoneNo->isEnabled());
        QVERIFY(!window->Calls().tmrConnected->isActive());
        QCOMPARE(window->Calls().tmrConnected->interval(), 1000);
        QVERIFY(ui(window).lblBalance->isHidden());
    }

    // Every control the user works is on the skin, whole: none hangs outside the window's
    // outline, where it would be cut off or not there at all.
    void everyControlLiesOnTheSkin() {
        auto window = started(login());
        const QRegion mask = window->mask();
        for (const skin::ControlPlace &place : skin::mainWindowLayout()) {
            auto *control = window->findChild<QWidget *>(place.name);
            QVERIFY2(control, qPrintable(place.name));
            if (control == ui(window).Picture1 || control->accessibleName().isEmpty() ||
                !control->isVisibleTo(window.get()))
                continue; // the skin itself, pictures kept for other controls, a knob's track
            const QRect on(control->mapTo(window.get(), QPoint()), control->size());
            QVERIFY2(mask.contains(on.topLeft() + QPoint(1, 1)) &&
                         mask.contains(on.bottomRight() - QPoint(1, 1)),
                     qPrintable(place.name));
        }
    }

    void windowIsTheSkinsOutline() {
        auto window = started(login());
        const QImage skin = ui(window).Picture1->picture();
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
             {static_cast<QWidget *>(ui(window).logOn), static_cast<QWidget *>(ui(window).logOff),
              static_cast<QWidget *>(ui(window).TrayIcon)})
            QVERIFY(!mask.intersects(holder->geometry()));
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    }

    void knobsHaveARaisedEdge() {
        auto window = started(login());
        QCOMPARE(window->KnobRect(), QRect(0, 0, 6, 6));
        for (KnobBox *knob : ui(window).picWave) {
            const QImage painted = knob->grab().toImage();
            // The edge's light top-left and dark bottom-right, over the knob's picture.
            QCOMPARE(painted.pixel(0, 0), knob->palette().color(QPalette::Light).rgb());
            QCOMPARE(painted.pixel(5, 5), knob->palette().color(QPalette::Shadow).rgb());
        }
    }

    // A knob follows the pointer while the left button is held; a window that opens over the main
    // one ends the drag, as its release will go there.
    void knobDragFollowsThePointerUntilAModalWindowOpens() {
        auto window = started(login());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        KnobBox *knob = ui(window).picWave[0];
        const int start = knob->x();
        QTest::mousePress(knob, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseMove(knob, QPoint(23, 3));
        QCOMPARE(knob->x(), start + 20);
        // 300 twips on from half way (737): its centre 1042 of the track's 1485 twips along.
        QCOMPARE(window->Volume()->KnobLeft(0), 1037L);
        QCOMPARE(m_mixer->writes, 1);
        QCOMPARE(m_mixer->line("Master")->level, 45986L); // 65536 * 1042 / 1485
        QDialog dialog(window.get());
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        QTRY_COMPARE(window->Volume()->DraggedKnob(), -1);
    }

    void exitAtStartUpCreatesNoClient() {
        LoginAnswer answer;
        answer.action = LoginAnswer::Exit;
        auto window = makeWindow();
        answerNextLoginDialog(answer);
        QVERIFY(!window->Form_Load());
        QVERIFY(window->HasEnded());
        QCOMPARE(m_clientsMade, 0);
    }

    void passwordReadBackEmptyIsTheAccountNumber() {
        // The dialog closed by the window manager saves nothing; the stored account has no
        // password.
        writeEntry(kAccountApp, "1001");
        writeEntry(kSipApp, "sip.example.net");
        LoginAnswer answer;
        answer.action = LoginAnswer::CloseWindow;
        auto window = started(answer);
        QVERIFY(window->Registration().ProfileText().contains("password=\"1001\""));
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
                           << "Failed: server not reachable";
    }
    void registrationStatesShowInWordAndStatusLine() {
        QFETCH(long, state);
        QFETCH(QString, word);
        QFETCH(QString, caption);
        auto window = started(login());
        m_client->raiseRegistration(state);
        QCOMPARE(window->Registration().RegState(), word);
        QCOMPARE(ui(window).lblMsg->text(), caption);
        if (state == 5)
            QCOMPARE(ui(window).lblMsg->toolTip(),
                     "Registration failed: server not found or not reachable");
    }

    // Every text of the program's own fits the status line whole at its font; what does not
    // (an engine's description, a server's words) is cut with an ellipsis, and the tooltip keeps
    // the whole text in either case.
    void statusTextsFitTheStatusLine() {
        auto window = started(login());
        StatusLine *line = ui(window).lblMsg;
        QStringList texts = {"Not logged in...", "Ready...", "Error:  There is no call.",
                             "Error:  -2147024809", "CONNECTED 59:59:59"};
        for (long state = 0; state <= 6; ++state)
            for (long code : {0L, 408L, 403L, 503L, 604L})
                if (const auto shown = account::registrationShown(state, code, QString()))
                    texts << shown->caption;
        for (long state : {rtc::RTCSS_INCOMING, rtc::RTCSS_ANSWERING, rtc::RTCSS_INPROGRESS,
                           rtc::RTCSS_CONNECTED, rtc::RTCSS_DISCONNECTED}) {
            m_client->raiseSession(state, state == rtc::RTCSS_INCOMING
                                              ? m_client->newSession("sip:1003@example.net")
                                              : rtc::IRTCSessionPtr());
            texts << line->text();
        }
        for (long code : {486L, 404L, 408L, 603L, 500L})
            texts << "DISCONNECTED " + calls::endReason(code);
        for (const QString &text : texts)
            QVERIFY2(line->fits(text), qPrintable(text));

        const QString long_ = "Error:  The call to sip:0123456789012345@sip.example.net could "
                              "not be started.";
        line->showStatus(long_);
        QVERIFY(line->text().endsWith(QChar(0x2026)));
        QVERIFY(line->fits(line->text()));
        QCOMPARE(line->toolTip(), long_);
    }

    void otherRegistrationValuesAndMediaEventsChangeNothing() {
        auto window = started(login());
        m_client->raiseRegistration(2);
        for (long state : {4L, 7L, -1L, 99L}) {
            m_client->raiseRegistration(state);
            QCOMPARE(window->Registration().RegState(), QStringLiteral("REGISTERED"));
            QCOMPARE(ui(window).lblMsg->text(), QStringLiteral("Registered and Ready..."));
        }
        m_client->raiseMedia(1, 2);
        // An event whose object is not the view its type promises is skipped, not a crash.
        m_client->raise(rtc::RTCE_REGISTRATION_STATE_CHANGE, std::make_shared<rtc::IRTCEvent>());
        m_client->raise(rtc::RTCE_MEDIA, std::make_shared<rtc::IRTCEvent>());
        m_client->raise(rtc::RTCE_CLIENT, std::make_shared<rtc::IRTCEvent>());
        QCOMPARE(ui(window).lblMsg->text(), QStringLiteral("Registered and Ready..."));
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
        QVERIFY(!window->Registration().ProfileText().isEmpty()); // set before the failing step
        QCOMPARE(ui(window).lblMsg->text(), QStringLiteral("Not logged in..."));
        // "has been logged" holds: the program's log says what failed.
        QVERIFY(readBytes(platform::programLogPath())
                    .contains(failOn.toUtf8() + " failed as the test asked."));
    }

    // A skipped step (a ring, a tone that fails on every key) leaves one line in the program's
    // log naming what failed and where, not one line each time.
    void skippedStepsAreLoggedOnceNotOnEveryRepeat() {
        QFile::remove(platform::programLogPath());
        const auto ringFails = [] {
            return platform::skipOnError([] { throw rtc::RtcError(-5, "the ring is broken"); });
        };
        for (int i = 0; i < 10; ++i)
            QVERIFY(!ringFails());
        QVERIFY(!platform::skipOnError([] { throw std::runtime_error("no tone device"); }));
        const QStringList lines = QString::fromUtf8(readBytes(platform::programLogPath()))
                                      .split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].contains(QRegularExpression(
                     "skippedStepsAreLoggedOnceNotOnEveryRepeat.*tst_frmkirrow.cpp:\\d+\\): "
                     "skipped: the ring is broken$")),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].endsWith("skipped: no tone device"), qPrintable(lines[1]));

        // What the engine drops after an operation has returned (a touch tone) is logged too.
        auto window = started(login());
        emit m_client->Dropped("the touch tone 5 could not be sent");
        QVERIFY(
            readBytes(platform::programLogPath()).contains("the touch tone 5 could not be sent"));
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
        QTest::mouseClick(ui(window).Picture40, Qt::LeftButton);
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
            ui(window).Picture2,  ui(window).Picture3,  ui(window).Picture4,  ui(window).Picture6,
            ui(window).Picture8,  ui(window).Picture11, ui(window).Picture13, ui(window).Picture16,
            ui(window).Picture17, ui(window).Picture20, ui(window).Picture21, ui(window).Picture22,
            ui(window).Picture25, ui(window).Picture26, ui(window).Picture27, ui(window).Picture30,
            ui(window).Picture31, ui(window).Picture32, ui(window).Picture35, ui(window).Picture36,
            ui(window).Picture37, ui(window).Picture40, ui(window).Picture41, ui(window).picMenu};
        for (PictureBox *box : pressed) {
            QVERIFY2(found.contains(box), qPrintable(box->objectName()));
            QCOMPARE(found[box]->role(), QAccessible::Button);
        }
        QCOMPARE(buttons, pressed.size()); // the skin and the hidden pictures are not buttons
        QCOMPARE(found[ui(window).Picture36]->text(QAccessible::Name), QStringLiteral("0"));
        QCOMPARE(found[ui(window).Picture6]->text(QAccessible::Description),
                 QStringLiteral("Click to Make Call"));
        for (KnobBox *knob : ui(window).picWave) {
            QVERIFY(found.contains(knob));
            QCOMPARE(found[knob]->role(), QAccessible::Slider);
            QVERIFY(!found[knob]->text(QAccessible::Name).isEmpty());
        }
        QVERIFY(found.contains(ui(window).cmbPhoneNo));
        QVERIFY(!found[ui(window).cmbPhoneNo]->text(QAccessible::Name).isEmpty());
        QCOMPARE(found[ui(window).cmbPhoneNo]->text(QAccessible::Description),
                 QStringLiteral("Include International Country Code"));

        // Pressed by the screen reader, a key dials as a click does; End, unusable, offers no
        // press.
        QAccessibleActionInterface *five = found[ui(window).Picture26]->actionInterface();
        QVERIFY(five);
        five->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(ui(window).cmbPhoneNo->currentText(), QStringLiteral("5"));
        QVERIFY(!found[ui(window).Picture8]->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
    }

    void loginAsRegistersANewProfileOnTheSameClient() {
        auto window = started(login());
        const auto client = m_client;
        LoginAnswer second = login("1002", "other");
        second.server = "sip2.example.net";
        answerNextLoginDialog(second);
        ui(window).mnuLoginAs->trigger();
        QCOMPARE(m_clientsMade, 1);
        QCOMPARE(client->calls.mid(6), (QStringList{"CreateProfile", "EnableProfile 7"}));
        QCOMPARE(window->Registration().SipServer(), QStringLiteral("sip2.example.net"));
        QCOMPARE(window->Registration().ProfileText(), client->profileTexts.last());
        // The name shown to the people called is the account now logged in.
        QVERIFY(window->Registration().ProfileText().contains(
            "<user account=\"1002\" name=\"1002\" "
            "password=\"other\" uri=\"sip:1002@sip2.example.net\""));
    }

    void exitInLoginAsReregistersWithWhatIsSaved() {
        auto window = started(login());
        LoginAnswer exit;
        exit.action = LoginAnswer::Exit;
        answerNextLoginDialog(exit);
        ui(window).mnuLoginAs->trigger();
        QVERIFY(!window->HasEnded());
        QCOMPARE(m_client->calls.last(), QStringLiteral("EnableProfile 7"));
        QCOMPARE(m_client->profileTexts.size(), 2);
    }

    void loginButtonOnlySavesForNextTime() {
        auto window = started(login());
        answerNextLoginDialog(login("1002", "other", true));
        QTest::mouseClick(ui(window).Picture13, Qt::LeftButton);
        QCOMPARE(readEntry(kAccountApp), QStringLiteral("1002"));
        QCOMPARE(readEntry(kSaveApp), QStringLiteral("yes"));
        QCOMPARE(m_client->profileTexts.size(), 1);
        QCOMPARE(window->Registration().SipServer(), QStringLiteral("sip.example.net"));
    }

    // Without a client the audio button and the menu item say "Error", and the log says why.
    void tuningWizardWithoutAClientSaysError_data() {
        QTest::addColumn<bool>("noEngine");
        QTest::addColumn<QString>("failOn");
        QTest::newRow("never made") << true << QString();
        QTest::newRow("not running") << false << "Initialize";
    }
    void tuningWizardWithoutAClientSaysError() {
        QFETCH(bool, noEngine);
        QFETCH(QString, failOn);
        m_noEngine = noEngine;
        m_failOn = failOn;
        MessageCatcher messages;
        auto window = started(login());
        messages.clear();
        QTest::mouseClick(ui(window).Picture2, Qt::LeftButton);
        ui(window).mnuVOICE->trigger();
        QCOMPARE(messages.texts(), (QStringList{"Error", "Error"}));
        QVERIFY(readBytes(platform::programLogPath()).contains("TUNING WIZARD: "));
    }

    // The saved devices reach the client at start, one that is not there leaving its part on
    // the default; the wizard says so, tries each choice (and a headset) on the client at once,
    // stops its tries when it closes, puts the devices back on Cancel and keeps them on Finish.
    void tuningWizardTriesChoicesAndKeepsThemOnFinish() {
        m_devices = {{"spk1", "Speakers One", true, false},
                     {"spk2", "Speakers Two", true, false},
                     {"mic1", "Microphone One", false, true}};
        saveAudioDevices({"spk2", "", "gone-mic", false}); // a headset
        auto window = started(login());
        QVERIFY(!m_client->EchoCancelling());
        QVERIFY(m_client->calls.contains("SetPreferredAudioDevice 0 spk2"));
        QVERIFY(m_client->calls.contains("SetPreferredAudioDevice 1 gone-mic"));
        QCOMPARE(m_client->PreferredAudioDevice(rtc::RTCAD_MICROPHONE), QString());

        bool tried = false;
        whenModalShows<audio::TuningWizard>([&](audio::TuningWizard *wizard) {
            const auto reject = qScopeGuard([wizard] { wizard->reject(); });
            QCOMPARE(wizard->cmbDevice[rtc::RTCAD_SPEAKER]->currentData(), QVariant("spk2"));
            QCOMPARE(wizard->cmbDevice[rtc::RTCAD_MICROPHONE]->currentData(), QVariant(""));
            QVERIFY(wizard->lblGone[rtc::RTCAD_SPEAKER]->isHidden());
            QVERIFY(!wizard->lblGone[rtc::RTCAD_MICROPHONE]->isHidden());
            QCOMPARE(wizard->cmbDevice[rtc::RTCAD_MICROPHONE]->count(), 2); // the default, mic1
            wizard->cmbDevice[rtc::RTCAD_SPEAKER]->setCurrentIndex(1);
            QCOMPARE(m_client->PreferredAudioDevice(rtc::RTCAD_SPEAKER), QStringLiteral("spk1"));
            wizard->cmdTestSound->click();
            wizard->next();
            m_client->captureLevel = 0.1; // -20 dB: two thirds up the bar's 60 dB
            QTRY_COMPARE(wizard->prgLevel->value(), 67);
            wizard->cmdEchoTest->click();
            QVERIFY(m_client->calls.contains("StartEchoTest"));
            QVERIFY(wizard->chkHeadset->isChecked());
            wizard->chkHeadset->click();
            QVERIFY(m_client->EchoCancelling());
            tried = true;
        });
        m_client->calls.clear();
        QTest::mouseClick(ui(window).Picture2, Qt::LeftButton);
        QVERIFY(tried);
        QCOMPARE(m_client->calls.filter(QRegularExpression("^(Start|Stop|Play)")),
                 (QStringList{"PlayTestSound", "StartCaptureMeter", "StartEchoTest",
                              "StopCaptureMeter", "StopEchoTest"}));
        QCOMPARE(m_client->CaptureLevel(), 0.0);
        QCOMPARE(m_client->PreferredAudioDevice(rtc::RTCAD_SPEAKER), QStringLiteral("spk2"));
        QVERIFY(!m_client->EchoCancelling());
        QCOMPARE(readAudioDevices(), (AudioDeviceChoice{"spk2", "", "gone-mic", false}));

        whenModalShows<audio::TuningWizard>([&](audio::TuningWizard *wizard) {
            wizard->cmbDevice[rtc::RTCAD_RINGER]->setCurrentIndex(1);
            wizard->next();
            wizard->cmbDevice[rtc::RTCAD_MICROPHONE]->setCurrentIndex(1);
            wizard->chkHeadset->click();
            wizard->next();
            QCOMPARE(wizard->lblSummary->text(),
                     QStringLiteral("Speakers: Speakers Two\nRinger: Speakers One\n"
                                    "Microphone: Microphone One"));
            wizard->accept();
        });
        ui(window).mnuVOICE->trigger();
        QCOMPARE(readAudioDevices(), (AudioDeviceChoice{"spk2", "spk1", "mic1"}));
        QVERIFY(m_client->EchoCancelling());
        QCOMPARE(m_client->PreferredAudioDevice(rtc::RTCAD_RINGER), QStringLiteral("spk1"));
        QCOMPARE(m_client->PreferredAudioDevice(rtc::RTCAD_MICROPHONE), QStringLiteral("mic1"));
    }

    // A link opened while the login dialog is up leaves the dialog on top and its number waits
    // for the login; later links bring back a window that was minimised or hidden.
    void linkedNumberWaitsForTheLoginAndBringsTheWindowBack() {
        auto window = makeWindow();
        bool waited = false;
        whenModalShows<frmLogin>([&](frmLogin *dialog) {
            window->ShowLinkedNumber("5550100");
            waited = dialog->isVisible() && !window->isVisible() &&
                     ui(window).cmbPhoneNo->currentText().isEmpty();
            answerNextLoginDialog(login());
        });
        QVERIFY(window->Form_Load());
        QVERIFY(waited);
        QCOMPARE(ui(window).cmbPhoneNo->currentText(), QStringLiteral("5550100"));
        QVERIFY(m_client->calls.filter("CreateSession").isEmpty());
        window->showMinimized();
        window->ShowLinkedNumber("+15550100");
        QVERIFY(window->isVisible() && !window->isMinimized());
        QCOMPARE(ui(window).cmbPhoneNo->currentText(), QStringLiteral("+15550100"));
        window->hide();
        window->ShowLinkedNumber("*21#");
        QVERIFY(window->isVisible());
        QCOMPARE(ui(window).cmbPhoneNo->currentText(), QStringLiteral("*21#"));
    }

    // On a desktop with a tray the icon is there exactly while the window is hidden: a tray that
    // goes away gives the window back. A window brought back through the desktop while its icon
    // is still there loses only the icon at the next press of the hide button. Asked to end while
    // hidden (a signal, the session ending), the program ends as through its close button and the
    // icon goes with it.
    void trayIconComesAndGoesWithTheHiddenWindow() {
        auto window = started(login("1001", "secret", false));
        shell::TrayController &tray = window->Tray();
        bool trayThere = true;
        tray.setTrayAvailable([&trayThere] { return trayThere; });
        window->show();
        QTest::mouseClick(ui(window).Picture41, Qt::LeftButton);
        QVERIFY(window->isHidden());
        trayThere = false;
        QTRY_VERIFY(window->isVisible());
        QVERIFY(!tray.InTray());
        trayThere = true;
        QTest::mouseClick(ui(window).Picture41, Qt::LeftButton);
        QVERIFY(window->isHidden());
        QVERIFY(tray.Icon().isVisible());
        QCOMPARE(tray.Icon().toolTip(), QStringLiteral("Kirrow"));
        window->show();
        QTest::mouseClick(ui(window).Picture41, Qt::LeftButton);
        QVERIFY(window->isVisible());
        QVERIFY(!tray.Icon().isVisible());
        QTest::mouseClick(ui(window).Picture41, Qt::LeftButton);
        QVERIFY(window->isHidden());
        // A link brings the window back from the tray as a double-click does; on a tray that
        // reports clicks only, a click does.
        window->ShowLinkedNumber("5550100");
        QVERIFY(window->isVisible() && !tray.InTray() && !tray.Icon().isVisible());
        tray.setClicksOnly([] { return true; });
        QTest::mouseClick(ui(window).Picture41, Qt::LeftButton);
        emit tray.Icon().activated(QSystemTrayIcon::Trigger);
        QVERIFY(window->isVisible() && !tray.InTray());
        tray.setClicksOnly([] { return false; });
        QTest::mouseClick(ui(window).Picture41, Qt::LeftButton);
        emit tray.Icon().activated(QSystemTrayIcon::Trigger);
        QVERIFY(window->isHidden() && tray.InTray());
        window->Quit();
        QVERIFY(window->HasEnded());
        QVERIFY(!tray.Icon().isVisible());
        QCOMPARE(readEntry(kAccountApp), QString());
    }
};

QTEST_MAIN(TestFrmKirrow)
#include "tst_frmkirrow.moc"
