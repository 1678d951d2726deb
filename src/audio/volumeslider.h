#pragma once

// The arithmetic of a volume slider: a knob dragged along a track, its centre standing for the
// level. All positions are twips of the volume panel; the knob is placed by its left edge.
namespace audio {

struct SliderGeometry {
    long knobHalfWidth = 0; // half the knob's width, truncated
    long trackLeft = 0;     // the track's left end
    long trackRight = 0;    // the track's right end (left + width)
    long trackWidth = 1;    // never 0
};

// How far the knob's left edge may go: its centre stays on the track, between its two ends.
long MinKnobLeft(const SliderGeometry &g);
long MaxKnobLeft(const SliderGeometry &g);

// The knob's new left edge when the pointer, grabbed at grabX inside the knob, is now at x inside
// it: moved by the difference, rounded to the nearest twip (halves to even), kept within bounds.
long MoveVolumeKnob(const SliderGeometry &g, long knobLeft, double x, long grabX);

// The level a knob at knobLeft stands for: its centre's place between the track's left and right
// ends, mapped onto the whole range, the left end giving the minimum and the right end the
// maximum, rounded to the nearest level (halves to even).
long LevelFromKnob(const SliderGeometry &g, long knobLeft, long minimum, long maximum);

// The left edge of a knob that shows the level: the other way round, a level outside the range
// putting the knob at the nearer end.
long KnobLeftForLevel(const SliderGeometry &g, long level, long minimum, long maximum);

} // namespace audio
