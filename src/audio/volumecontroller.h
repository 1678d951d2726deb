#pragma once

#include "clsvolume.h"
#include "volumeslider.h"

#include <QObject>
#include <QTimer>

#include <array>

namespace audio {

// The two volume sliders without their widgets: slider 0 sets the speakers' level, slider 1 the
// microphone's. The window forwards the knobs' mouse events here and places each knob where
// knobMoved says. A knob dragged with the left button writes its level at every move; every
// knob follows its line's level, read once a second, so a change made elsewhere shows.
class VolumeController : public QObject {
    Q_OBJECT
public:
    static constexpr int kSliders = 2;
    static constexpr int kFollowIntervalMs = 1000;

    // The mixer must outlive the controller. Knobs start where their lines' levels stand.
    VolumeController(clsVolume &volume, const SliderGeometry &geometry, QObject *parent = nullptr);

    // Follows the levels only while the window holds the knobs shown: a window hidden in the
    // tray has none to move, and a look once a second would wake the program for nothing. Shown
    // again, the knobs take the levels at once.
    void followWhileShown(QObject *window);

    // Whether slider i has a line to set (else the window hides it).
    bool HasLine(int index) const;
    // Knob i's left edge, twips of the panel.
    long KnobLeft(int index) const { return m_knobLeft.at(static_cast<size_t>(index)); }
    // The knob being dragged, -1 for none.
    int DraggedKnob() const { return m_dragged; }

    // A knob's mouse events; x is the pointer's position inside the knob, in twips.
    void KnobMouseDown(int index, Qt::MouseButton button, double x);
    void KnobMouseMove(int index, Qt::MouseButtons buttons, double x);
    void KnobMouseUp(int index, Qt::MouseButton button);
    // The drag ends without its release (a dialog or menu took the pointer).
    void CancelDrag();

    // Puts every knob not being dragged where its line's level stands now; writes nothing.
    void FollowLevels();

signals:
    void knobMoved(int index, long left);
    // A sound file of the program's, by name, to be played as a confirmation.
    void playWave(const QString &name);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MixerLine LineOf(int index) const;
    void SetLevelFromKnob(long left, int index);

    clsVolume &m_volume;
    SliderGeometry m_geometry;
    std::array<long, kSliders> m_knobLeft{};
    long lngKnobGrabX = 0;
    int m_dragged = -1;
    QTimer m_follow;
};

} // namespace audio
