#include "volumecontroller.h"

#include <QEvent>

#include <cmath>

namespace audio {

VolumeController::VolumeController(clsVolume &volume, const SliderGeometry &geometry,
                                   QObject *parent)
    : QObject(parent), m_volume(volume), m_geometry(geometry) {
    m_knobLeft.fill(MinKnobLeft(m_geometry));
    FollowLevels();
    // Nothing tells the program of a level changed elsewhere (the desktop's volume control, the
    // tuning wizard): it looks.
    m_follow.setInterval(kFollowIntervalMs);
    connect(&m_follow, &QTimer::timeout, this, &VolumeController::FollowLevels);
    m_follow.start();
}

void VolumeController::followWhileShown(QObject *window) {
    window->installEventFilter(this);
}

bool VolumeController::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Hide) {
        m_follow.stop();
    } else if (event->type() == QEvent::Show && !m_follow.isActive()) {
        FollowLevels();
        m_follow.start();
    }
    return QObject::eventFilter(watched, event);
}

MixerLine VolumeController::LineOf(int index) const {
    return index == 0 ? Speakers : Microphone;
}

bool VolumeController::HasLine(int index) const {
    return index >= 0 && index < kSliders && m_volume.HasVolumeControl(1L << LineOf(index));
}

void VolumeController::KnobMouseDown(int index, Qt::MouseButton button, double x) {
    if (button != Qt::LeftButton || !HasLine(index))
        return;
    lngKnobGrabX = static_cast<long>(std::nearbyint(x));
    m_dragged = index;
}

void VolumeController::KnobMouseMove(int index, Qt::MouseButtons buttons, double x) {
    // Only the left button drags, and only the knob it was pressed on; the knob gets the moves
    // while the button is held, also outside it.
    if (buttons != Qt::LeftButton || index != m_dragged)
        return;
    const long left = MoveVolumeKnob(m_geometry, KnobLeft(index), x, lngKnobGrabX);
    m_knobLeft[static_cast<size_t>(index)] = left;
    emit knobMoved(index, left);
    SetLevelFromKnob(left, index);
}

void VolumeController::KnobMouseUp(int index, Qt::MouseButton button) {
    if (button == Qt::LeftButton && index == m_dragged)
        m_dragged = -1;
    // The speakers' knob confirms its level with a sound played at it; the microphone's is quiet.
    if (index == 0)
        emit playWave(QStringLiteral("ding.wav"));
}

void VolumeController::CancelDrag() {
    m_dragged = -1;
}

void VolumeController::SetLevelFromKnob(long left, int index) {
    const MixerLine line = LineOf(index);
    m_volume.setVolume(
        line, LevelFromKnob(m_geometry, left, m_volume.Minimum(line), m_volume.Maximum(line)));
}

void VolumeController::FollowLevels() {
    for (int index = 0; index < kSliders; ++index) {
        if (index == m_dragged || !HasLine(index))
            continue;
        const MixerLine line = LineOf(index);
        const std::optional<long> level = m_volume.ReadVolume(line);
        if (!level)
            continue; // the mixer cannot tell now: the knob stays
        const long left =
            KnobLeftForLevel(m_geometry, *level, m_volume.Minimum(line), m_volume.Maximum(line));
        if (left == KnobLeft(index))
            continue;
        m_knobLeft[static_cast<size_t>(index)] = left;
        emit knobMoved(index, left);
    }
}

} // namespace audio
