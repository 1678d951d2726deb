#include "clsvolume.h"
#include "fakemixerdevice.h"
#include "frmkirrow.h"
#include "knobbox.h"
#include "logindriver.h"
#include "mainwindowui.h"
#include "volumecontroller.h"
#include "volumeslider.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace audio;

namespace {

// The main window's sliders, in twips: knob 100 wide, track from 45 to 1530.
const SliderGeometry kPanel{50, 45, 1530, 1485};

std::shared_ptr<FakeMixerDevice::State> mixerWith(QList<FakeMixerDevice::Line> lines) {
    auto state = std::make_shared<FakeMixerDevice::State>();
    state->lines = std::move(lines);
    return state;
}

} // namespace

// The mixer controller over a scripted mixer, the sliders' arithmetic and drag rules, and the
// window on a machine whose sound server is gone.
class TestVolume : public QObject {
    Q_OBJECT

private slots:
    void linesAreFoundByTheirMixerNames() {
        MessageCatcher messages;
        auto state = mixerWith({{"Master", 0, 65536, 100, true},
                                {"Capture", 0, 65536, 200, false},
                                {"Mic", 0, 31, 5, true},
                                {"Aux", 0, 31, 7, true}});
        clsVolume volume(std::make_unique<FakeMixerDevice>(state));
        QVERIFY(messages.texts().isEmpty());
        QVERIFY(volume.HasVolumeControl(1) && volume.HasVolumeControl(2));
        QVERIFY(volume.HasVolumeControl(8)); // line-in through the auxiliary input
        QVERIFY(!volume.HasVolumeControl(4 | 16 | 32));
        // A fader without a mute switch: its volume bit only.
        QVERIFY(volume.HasMuteControl(1) && !volume.HasMuteControl(2) && volume.HasMuteControl(8));
        // The microphone is the capture level, not the microphone's loop-back ("Mic").
        volume.setMicroVolume(300);
        QCOMPARE(state->line("Capture")->level, 300);
        QCOMPARE(state->line("Mic")->level, 5);
        QCOMPARE(volume.MaxLineInVolume(), 31);
        volume.setLineInVolume(9);
        QCOMPARE(state->line("Aux")->level, 9);
        // A missing line has no range, reads 0, and writing it touches nothing.
        const int writes = state->writes;
        volume.setCD_Volume(5);
        volume.setCD_Mute(-1);
        QCOMPARE(state->writes, writes);
        QCOMPARE(volume.CD_Volume(), 0);
        QCOMPARE(volume.MaxCDVolume(), 0);

        // Either bit answers HasVolumeControl(3); a real line input wins over the auxiliary.
        auto second = mixerWith({{"Capture"}, {"Aux"}, {"Line", 0, 100, 50}});
        clsVolume microphoneOnly(std::make_unique<FakeMixerDevice>(second));
        QVERIFY(!microphoneOnly.HasVolumeControl(1));
        QVERIFY(microphoneOnly.HasVolumeControl(3));
        QCOMPARE(microphoneOnly.LineInVolume(), 50);
    }

    void levelsAreClampedAndMutingIsASwitch() {
        auto state = mixerWith({{"Master", 100, 200, 150, true}});
        clsVolume volume(std::make_unique<FakeMixerDevice>(state));
        volume.setWaveVolume(500);
        QCOMPARE(state->line("Master")->level, 200);
        volume.setWaveVolume(-3);
        QCOMPARE(state->line("Master")->level, 100);
        // Read from the mixer every time, so a change made elsewhere shows.
        state->line("Master")->level = 170;
        QCOMPARE(volume.WaveVolume(), 170);
        volume.setWaveMute(-1);
        QVERIFY(state->line("Master")->muted);
        QVERIFY(volume.WaveMute() != 0);
        volume.setWaveMute(0);
        QVERIFY(!state->line("Master")->muted);
        QCOMPARE(volume.WaveMute(), 0);
    }

    void knobPositionsMapOntoTheWholeRange() {
        // The knob's left edge keeps its centre on the track.
        QCOMPARE(MinKnobLeft(kPanel), -5);
        QCOMPARE(MaxKnobLeft(kPanel), 1480);
        QCOMPARE(MoveVolumeKnob(kPanel, 600, 5000.0, 50), 1480);
        QCOMPARE(MoveVolumeKnob(kPanel, 600, -5000.0, 50), -5);
        QCOMPARE(MoveVolumeKnob(kPanel, 600, 60.5, 50), 610); // 610.5: halves to even
        QCOMPARE(MoveVolumeKnob(kPanel, 600, 61.5, 50), 612);
        // Far left gives the minimum, far right the maximum, for any range.
        QCOMPARE(LevelFromKnob(kPanel, -5, 0, 65535), 0);
        QCOMPARE(LevelFromKnob(kPanel, 1480, 0, 65535), 65535);
        QCOMPARE(LevelFromKnob(kPanel, -5, -6000, -1000), -6000);
        QCOMPARE(LevelFromKnob(kPanel, 1480, -6000, -1000), -1000);
        QCOMPARE(LevelFromKnob(kPanel, 737, 100, 1585), 842); // 742 twips along, 742 levels up
        // Half way between two levels goes to the even one.
        const SliderGeometry small{1, 0, 4, 4};
        QCOMPARE(LevelFromKnob(small, 0, 10, 12), 10); // 10.5
        QCOMPARE(LevelFromKnob(small, 2, 10, 12), 12); // 11.5
        QCOMPARE(LevelFromKnob(small, 1, 10, 12), 11);
        // A level shows as the knob that gives it; beyond the range, at the nearer end.
        for (const long left : {-5L, 0L, 737L, 1201L, 1480L})
            QCOMPARE(KnobLeftForLevel(kPanel, LevelFromKnob(kPanel, left, 0, 65536), 0, 65536),
                     left);
        QCOMPARE(KnobLeftForLevel(kPanel, 99000, 0, 65536), 1480);
        QCOMPARE(KnobLeftForLevel(kPanel, -1, 0, 65536), -5);
        QCOMPARE(KnobLeftForLevel(kPanel, 5, 5, 5), -5); // a range of one level
    }

    void knobDragWritesItsLevelAndOtherwiseFollowsIt() {
        auto state = FakeMixerDevice::speakersAndMicrophone();
        state->line("Capture")->level = 0;
        clsVolume volume(std::make_unique<FakeMixerDevice>(state));
        VolumeController sliders(volume, kPanel);
        QSignalSpy waves(&sliders, &VolumeController::playWave);
        // The knobs start where the levels stand.
        QCOMPARE(sliders.KnobLeft(0), 737);
        QCOMPARE(sliders.KnobLeft(1), -5);

        // The right button, or the left with another, drags nothing.
        sliders.KnobMouseDown(0, Qt::RightButton, 50);
        sliders.KnobMouseMove(0, Qt::RightButton, 400);
        sliders.KnobMouseMove(0, Qt::LeftButton | Qt::RightButton, 400);
        QCOMPARE(sliders.KnobLeft(0), 737);
        // Pressed and released without a move: the sound, no level.
        sliders.KnobMouseDown(0, Qt::LeftButton, 50);
        sliders.KnobMouseUp(0, Qt::LeftButton);
        QCOMPARE(state->writes, 0);
        QCOMPARE(waves.count(), 1);
        QCOMPARE(waves.first().first().toString(), QStringLiteral("ding.wav"));

        // One write per move, wherever the pointer goes while the button is held.
        sliders.KnobMouseDown(0, Qt::LeftButton, 50);
        sliders.KnobMouseMove(0, Qt::LeftButton, 5000);
        QCOMPARE(sliders.KnobLeft(0), 1480);
        QCOMPARE(state->line("Master")->level, 65536);
        sliders.KnobMouseMove(0, Qt::LeftButton, -5000);
        QCOMPARE(sliders.KnobLeft(0), -5);
        QCOMPARE(state->line("Master")->level, 0);
        QCOMPARE(state->writes, 2);
        QCOMPARE(state->line("Capture")->level, 0);
        // A knob being dragged does not follow its level; the other does; nothing is written.
        state->line("Master")->level = 65536;
        state->line("Capture")->level = 65536;
        sliders.FollowLevels();
        QCOMPARE(sliders.KnobLeft(0), -5);
        QCOMPARE(sliders.KnobLeft(1), 1480);
        sliders.KnobMouseUp(0, Qt::LeftButton);
        QCOMPARE(waves.count(), 2);
        sliders.FollowLevels();
        QCOMPARE(sliders.KnobLeft(0), 1480);
        QCOMPARE(state->writes, 2);

        // The microphone's knob is quiet; a drag that lost its release moves nothing more.
        sliders.KnobMouseDown(1, Qt::LeftButton, 50);
        sliders.KnobMouseMove(1, Qt::LeftButton, -5000);
        QCOMPARE(state->line("Capture")->level, 0);
        sliders.CancelDrag();
        sliders.KnobMouseMove(1, Qt::LeftButton, 5000);
        sliders.KnobMouseUp(1, Qt::LeftButton);
        QCOMPARE(state->line("Capture")->level, 0);
        QCOMPARE(waves.count(), 2);
    }

    // A desktop whose ALSA goes through the sound server, with the server gone: the window says
    // so once, hides both sliders and runs on.
    void withoutASoundServerTheSlidersAreHidden() {
        QTemporaryDir dir;
        QFile alsa(dir.filePath("asound.conf"));
        QFile pulse(dir.filePath("client.conf"));
        QVERIFY(alsa.open(QIODevice::WriteOnly) && pulse.open(QIODevice::WriteOnly));
        alsa.write("</usr/share/alsa/alsa.conf>\nctl.!default { type pulse }\n"
                   "pcm.!default { type pulse }\n");
        pulse.write("autospawn = no\n"); // never start a server of our own
        alsa.close();
        pulse.close();
        const QByteArray variables[] = {"ALSA_CONFIG_PATH", "PULSE_SERVER", "PULSE_CLIENTCONFIG"};
        QList<QByteArray> saved;
        for (const QByteArray &variable : variables)
            saved << qgetenv(variable.constData());
        const auto restore = qScopeGuard([&] {
            for (int i = 0; i < 3; ++i)
                qputenv(variables[i].constData(), saved[i]);
        });
        qputenv("ALSA_CONFIG_PATH", QFile::encodeName(alsa.fileName()));
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + dir.filePath("no-server")));
        qputenv("PULSE_CLIENTCONFIG", QFile::encodeName(pulse.fileName()));
        setMixerDeviceFactory({});

        MessageCatcher messages;
        auto window = startOverFakeEngine();
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("No mixer found!")});
        for (int i = 0; i < 2; ++i) {
            QVERIFY(ui(window).Label1[i]->isHidden());
            QVERIFY(ui(window).picWave[i]->isHidden());
            QVERIFY(!window->Volume()->HasLine(i));
        }
        window->Volume()->FollowLevels();
        QTest::mouseClick(ui(window).Picture40, Qt::LeftButton);
        QVERIFY(window->HasEnded());
        QCOMPARE(messages.texts().size(), 1);
    }
};

QTEST_MAIN(TestVolume)
#include "tst_volume.moc"
