// The main window's volume panel: the mixer controller made at start-up, the tracks and knobs of
// the lines the mixer has, and the knobs' mouse events handed to the sliders' controller.

#include "alsamixer.h"
#include "clsvolume.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "knobbox.h"
#include "soundplayer.h"
#include "twips.h"
#include "volumecontroller.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>

void frmKirrow::CreateMixerController() {
    // "No mixer found!" comes before the login dialog, also one put up ahead of its turn.
    if (m_loginShownAhead && audio::openingMixerFailed())
        m_loginShownAhead->hide();
    objVolume = std::make_unique<audio::clsVolume>();
}

// A track and its knob show only when the mixer has that line: speakers (bit 1), microphone (2).
void frmKirrow::ShowMixerLines() {
    for (int i = 0; i < 2; ++i) {
        const bool present = objVolume->HasVolumeControl(1L << i);
        Label1[i]->setVisible(present);
        picWave[i]->setVisible(present);
    }
}

void frmKirrow::ReadMixerScales() {
    const long MinWaveVolume = objVolume->MinWaveVolume();
    const long MaxWaveVolume = objVolume->MaxWaveVolume();
    const long MinMicVolume = objVolume->MinMicVolume();
    const long MaxMicVolume = objVolume->MaxMicVolume();
    const long MinWavInVolume = objVolume->MinWavInVolume();
    const long MaxWavInVolume = objVolume->MaxWavInVolume();
    const long MinLineInVolume = objVolume->MinLineInVolume();
    const long MaxLineInVolume = objVolume->MaxLineInVolume();
    const long MinCDVolume = objVolume->MinCDVolume();
    const long MaxCDVolume = objVolume->MaxCDVolume();
    const long MinMidVolume = objVolume->MinMidVolume();
    const long MaxMidVolume = objVolume->MaxMidVolume();
    // Mixer units per twip of track, line by line.
    const auto scale = [this](long minimum, long maximum) {
        return static_cast<float>(double(maximum - minimum) / double(lngTrackWidth));
    };
    sngWaveScale = scale(MinWaveVolume, MaxWaveVolume);
    sngMicScale = scale(MinMicVolume, MaxMicVolume);
    sngWavInScale = scale(MinWavInVolume, MaxWavInVolume);
    sngLineInScale = scale(MinLineInVolume, MaxLineInVolume);
    sngCDScale = scale(MinCDVolume, MaxCDVolume);
    sngMidScale = scale(MinMidVolume, MaxMidVolume);

    // The sliders map a knob onto the whole range of its line, and start where the levels stand.
    m_volume = std::make_unique<audio::VolumeController>(
        *objVolume,
        audio::SliderGeometry{lngKnobHalfWidth, lngTrackLeft, lngTrackRight, lngTrackWidth});
    m_volume->followWhileShown(this);
    connect(m_volume.get(), &audio::VolumeController::knobMoved, this, &frmKirrow::PlaceKnob);
    connect(m_volume.get(), &audio::VolumeController::playWave, this, &frmKirrow::PlayWave);
    for (int i = 0; i < audio::VolumeController::kSliders; ++i)
        PlaceKnob(i, m_volume->KnobLeft(i));
}

void frmKirrow::WireVolumeKnobs() {
    for (int i = 0; i < 2; ++i) {
        KnobBox *knob = picWave[i];
        // The pointer's place inside the knob, in twips, measured from where the knob stands in
        // twips: the widget can only stand on whole pixels.
        const auto inside = [this, i, knob](QPointF at) {
            return (knob->x() + at.x()) * lngTwipsPerPixelX - m_volume->KnobLeft(i);
        };
        connect(knob, &PictureBox::mousePressed, this,
                [this, i, inside](Qt::MouseButton button, Qt::KeyboardModifiers, QPointF at) {
                    if (m_volume)
                        m_volume->KnobMouseDown(i, button, inside(at));
                });
        connect(knob, &PictureBox::mouseMoved, this,
                [this, i, inside](Qt::MouseButtons buttons, Qt::KeyboardModifiers, QPointF at) {
                    if (m_volume)
                        m_volume->KnobMouseMove(i, buttons, inside(at));
                });
        connect(knob, &PictureBox::mouseReleased, this,
                [this, i](Qt::MouseButton button, Qt::KeyboardModifiers, QPointF) {
                    if (m_volume)
                        m_volume->KnobMouseUp(i, button);
                });
    }
}

// The knob's left edge in twips of the panel; its top stays.
void frmKirrow::PlaceKnob(int index, long left) {
    KnobBox *knob = picWave[index];
    knob->move(platform::twipsToPixelsX(static_cast<int>(left)), knob->y());
}

// Plays a sound file from the program's folder and returns at once. While another sound of the
// program plays, nothing is played; a file that cannot be played gives the default sound.
void frmKirrow::PlayWave(const QString &name) {
    platform::playSound(QDir(QCoreApplication::applicationDirPath()).filePath(name),
                        platform::SND_ASYNC | platform::SND_NOSTOP);
}
