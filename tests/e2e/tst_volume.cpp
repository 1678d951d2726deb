#include "frmkirrow.h"
#include "kamailioserver.h"
#include "knobbox.h"
#include "linphoneclient.h"
#include "logindriver.h"
#include "mainwindowui.h"
#include "soundcheck.h"
#include "soundplayer.h"
#include "testdesktop.h"
#include "xdo.h"

#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

constexpr int kTimeoutMs = 20000;
constexpr long kFull = 65536; // the sound server's 100 %
constexpr double kDingHz = 1318.5;
constexpr double kDefaultHz = 880; // the sound played when a file cannot be

// The level of the default sink or source as the sound server has it (its first channel), -1
// when pactl cannot tell.
long serverLevel(const QString &device) {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("get-%1-volume").arg(device),
                                          QStringLiteral("@DEFAULT_%1@").arg(device.toUpper())});
    if (!pactl.waitForFinished(kTimeoutMs) || pactl.exitCode() != 0)
        return -1;
    // "Volume: front-left: 32768 /  50% / -18.06 dB, ..."
    static const QRegularExpression level(QStringLiteral(":\\s*(\\d+)\\s*/\\s*\\d+%"));
    const QRegularExpressionMatch m = level.match(QString::fromUtf8(pactl.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

bool setServerLevel(const QString &device, const QString &level) {
    return QProcess::execute(QStringLiteral("pactl"),
                             {QStringLiteral("set-%1-volume").arg(device),
                              QStringLiteral("@DEFAULT_%1@").arg(device.toUpper()), level}) == 0;
}

} // namespace

// The volume sliders as a user works them: the main window with the real engine, logged in to a
// private exchange, on the X server; the knobs dragged with xdotool's mouse; the levels read back
// from the test environment's PulseAudio (a null sink and source) with pactl, and the
// confirmation sound heard on the sink's monitor.
class TestVolume : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::unique_ptr<KamailioServer> m_server;
    std::unique_ptr<frmKirrow> m_window;
    std::unique_ptr<MessageCatcher> m_messages;
    soundcheck::SinkRecorder m_sink;
    int m_knobReleases = 0; // button releases the knobs got, seen before the program handles them

    // Where knob i's centre stands along its track: 0 at the left end, 1 at the right.
    double knobPlace(int i) const {
        const KnobBox *knob = ui(m_window).picWave[i];
        const QLabel *track = ui(m_window).Label1[i];
        return (knob->x() + knob->width() / 2.0 - track->x()) / track->width();
    }
    // Whether knob i stands at that place, to the pixel.
    bool knobAt(int i, double place) const {
        return std::abs(knobPlace(i) - place) * ui(m_window).Label1[i]->width() <= 1.5;
    }

    // Presses the button on knob i, moves the pointer dx pixels sideways in two steps, releases.
    void drag(int i, int button, int dx) {
        const KnobBox *knob = ui(m_window).picWave[i];
        const QPoint grip = knob->mapToGlobal(knob->rect().center());
        xdo::pointerTo(grip);
        xdo::run({QStringLiteral("mousedown"), QString::number(button)});
        xdo::pointerTo(grip + QPoint(dx / 2, 0));
        xdo::pointerTo(grip + QPoint(dx, 0));
        xdo::run({QStringLiteral("mouseup"), QString::number(button)});
    }

    // Records `ms` more of the sink and gives what was recorded since sample `from`.
    QByteArray heardSince(qsizetype from, int ms) {
        [&] { QVERIFY(m_sink.waitForMore(ms)); }();
        return m_sink.samples().mid(from);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::MouseButtonRelease)
            ++m_knobReleases;
        return false;
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test starts one)");
        // The sound is a file beside the program, put there by the build.
        QVERIFY(
            QFileInfo::exists(QFileInfo(QStringLiteral(KIRROW_BINARY)).dir().filePath("ding.wav")));
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        QVERIFY2(m_sink.start(), qPrintable(m_sink.error()));
        QVERIFY(setServerLevel(QStringLiteral("sink"), QStringLiteral("50%")));
        QVERIFY(setServerLevel(QStringLiteral("source"), QStringLiteral("30%")));
        m_server = std::make_unique<KamailioServer>(
            QList<KamailioServer::Account>{{"1001", "kirrow1001"}});
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));

        m_messages = std::make_unique<MessageCatcher>();
        m_window =
            std::make_unique<frmKirrow>([] { return std::make_shared<rtc::LinphoneClient>(); });
        LoginAnswer answer;
        answer.server = m_server->address();
        answer.account = QStringLiteral("1001");
        answer.password = QStringLiteral("kirrow1001");
        answer.byHand = true;
        answerNextLoginDialog(answer);
        QVERIFY(m_window->Form_Load());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QTRY_COMPARE_WITH_TIMEOUT(m_window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kTimeoutMs);
        QCOMPARE(m_messages->texts(), QStringList());
        for (KnobBox *knob : ui(m_window).picWave)
            knob->installEventFilter(this);
    }

    void cleanupTestCase() {
        m_window.reset();
        m_messages.reset();
    }

    // The knobs start where the levels stand and follow a level set elsewhere.
    void knobsShowTheLevels() {
        QVERIFY2(knobAt(0, 0.5), qPrintable(QString::number(knobPlace(0))));
        QVERIFY2(knobAt(1, 0.3), qPrintable(QString::number(knobPlace(1))));
        QVERIFY(setServerLevel(QStringLiteral("sink"), QStringLiteral("20%")));
        QVERIFY(setServerLevel(QStringLiteral("source"), QStringLiteral("80%")));
        QTRY_VERIFY2(knobAt(0, 0.2), qPrintable(QString::number(knobPlace(0))));
        QTRY_VERIFY2(knobAt(1, 0.8), qPrintable(QString::number(knobPlace(1))));
    }

    // Far right is the whole level, far left none; releasing the knob dings; the right button
    // drags nothing.
    void speakersKnobSetsTheSinkAndDings() {
        const long source = serverLevel(QStringLiteral("source"));
        const qsizetype from = m_sink.size();
        drag(0, 1, 200);
        QTRY_COMPARE(serverLevel(QStringLiteral("sink")), kFull);
        QVERIFY(knobAt(0, 1.0));
        QTRY_VERIFY_WITH_TIMEOUT(
            !soundcheck::isSilent(m_sink.samples().mid(from), soundcheck::kRate), kTimeoutMs);
        const QByteArray ding = heardSince(from, 600);
        const QList<double> shares =
            soundcheck::toneShares(ding, soundcheck::kRate, {kDingHz, kDefaultHz});
        QVERIFY2(shares[0] > 0.5 && shares[1] < 0.05,
                 qPrintable(soundcheck::describe(ding, soundcheck::kRate, {kDingHz, kDefaultHz})));

        drag(0, 1, -200);
        QTRY_COMPARE(serverLevel(QStringLiteral("sink")), 0L);
        QVERIFY(knobAt(0, 0.0));
        QCOMPARE(serverLevel(QStringLiteral("source")), source);

        const int left = ui(m_window).picWave[0]->x();
        const int releases = m_knobReleases;
        drag(0, 3, 100);
        QTRY_COMPARE(m_knobReleases, releases + 1); // the moves before it came in too
        QCOMPARE(ui(m_window).picWave[0]->x(), left);
        QCOMPARE(serverLevel(QStringLiteral("sink")), 0L);
    }

    void microphoneKnobSetsTheSourceOnlyAndIsQuiet() {
        QVERIFY(setServerLevel(QStringLiteral("sink"), QStringLiteral("100%")));
        QTRY_VERIFY(knobAt(0, 1.0));
        // The sound of the last release on the speakers' knob has played out and come through.
        QTRY_VERIFY(!platform::isSoundPlaying());
        QVERIFY(m_sink.waitForMore(300));
        const qsizetype from = m_sink.size();
        drag(1, 1, 200);
        QTRY_COMPARE(serverLevel(QStringLiteral("source")), kFull);
        QVERIFY(knobAt(1, 1.0));
        drag(1, 1, -200);
        QTRY_COMPARE(serverLevel(QStringLiteral("source")), 0L);
        QCOMPARE(serverLevel(QStringLiteral("sink")), kFull);
        const QByteArray heard = heardSince(from, 800);
        QVERIFY2(soundcheck::isSilent(heard, soundcheck::kRate),
                 qPrintable(soundcheck::describe(heard, soundcheck::kRate, {kDingHz, kDefaultHz})));
    }
};

QTEST_MAIN(TestVolume)
#include "tst_volume.moc"
