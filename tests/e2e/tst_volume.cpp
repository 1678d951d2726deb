#include "kamailioserver.h"
#include "kirrowprogram.h"
#include "soundcheck.h"
#include "testdesktop.h"
#include "xdo.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
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

// The program's volume sliders as a user works them: logged in to a private exchange, on the X
// server; the knobs found as a screen reader finds them and dragged with xdotool's mouse; the
// levels read back from the test environment's PulseAudio (a null sink and source) with pactl,
// and the confirmation sound heard on the sink's monitor.
class TestVolume : public QObject {
    Q_OBJECT
    std::unique_ptr<KamailioServer> m_server;
    std::unique_ptr<KirrowProgram> m_kirrow;
    soundcheck::SinkRecorder m_sink;
    QRect m_tracks[2]; // where the knobs slide, on the screen

    atspi::Node knob(int i) {
        return m_kirrow->control(i == 0 ? QStringLiteral("Speaker Volume")
                                        : QStringLiteral("Microphone Volume"),
                                 QStringLiteral("slider"));
    }
    // Where knob i's centre stands along its track: 0 at the left end, 1 at the right.
    double knobPlace(int i) {
        const QRect knob = this->knob(i).extents();
        return (knob.x() + knob.width() / 2.0 - m_tracks[i].x()) / m_tracks[i].width();
    }
    // Whether knob i stands at that place, to the pixel.
    bool knobAt(int i, double place) {
        return std::abs(knobPlace(i) - place) * m_tracks[i].width() <= 1.5;
    }

    // Presses the button on knob i, moves the pointer dx pixels sideways in two steps, releases.
    void drag(int i, int button, int dx) {
        const QPoint grip = knob(i).extents().center();
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
    // Whether the sink stays silent for the next `ms`.
    bool quietFor(int ms) {
        return soundcheck::isSilent(heardSince(m_sink.size(), ms), soundcheck::kRate);
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test starts one)");
        // The sound is a file beside the program, put there by the build.
        QVERIFY(
            QFileInfo::exists(QFileInfo(QStringLiteral(KIRROW_BINARY)).dir().filePath("ding.wav")));
        QVERIFY2(m_sink.start(), qPrintable(m_sink.error()));
        QVERIFY(setServerLevel(QStringLiteral("sink"), QStringLiteral("50%")));
        QVERIFY(setServerLevel(QStringLiteral("source"), QStringLiteral("30%")));
        m_server = std::make_unique<KamailioServer>(
            QList<KamailioServer::Account>{{"1001", "kirrow1001"}});
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));

        m_kirrow = std::make_unique<KirrowProgram>(QStringLiteral(KIRROW_BINARY));
        m_kirrow->startRegistered(m_server->address(), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1001").size(), 1, kTimeoutMs);
        QCOMPARE(m_kirrow->windows(), QStringList{"Kirrow"}); // no message
        // Each knob slides along its track, the frame it stands on.
        for (int i = 0; i < 2; ++i) {
            const QPoint centre = knob(i).extents().center();
            const QList<atspi::Node> tracks =
                atspi::findAll(m_kirrow->application(), [&](const atspi::Node &node) {
                    return node.role() == QLatin1String("label") && node.extents().contains(centre);
                });
            QCOMPARE(tracks.size(), 1);
            m_tracks[i] = tracks.first().extents();
        }
    }

    void cleanupTestCase() {
        if (m_kirrow)
            m_kirrow->close();
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

        const QRect left = knob(0).extents();
        drag(0, 3, 100);
        // The program takes the mouse in order: once the microphone's knob has followed a drag
        // made after it, the right button's drag has come in too.
        drag(1, 1, -200);
        QTRY_COMPARE(serverLevel(QStringLiteral("source")), 0L);
        QCOMPARE(knob(0).extents(), left);
        QCOMPARE(serverLevel(QStringLiteral("sink")), 0L);
    }

    void microphoneKnobSetsTheSourceOnlyAndIsQuiet() {
        QVERIFY(setServerLevel(QStringLiteral("sink"), QStringLiteral("100%")));
        QTRY_VERIFY(knobAt(0, 1.0));
        // Whatever the program played last has played out.
        QTRY_VERIFY(quietFor(300));
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
