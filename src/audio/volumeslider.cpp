#include "volumeslider.h"

#include <algorithm>
#include <cmath>

namespace audio {

namespace {

long nearest(double value) {
    return static_cast<long>(std::nearbyint(value)); // the default rounding: halves to even
}

} // namespace

long MinKnobLeft(const SliderGeometry &g) {
    return g.trackLeft - g.knobHalfWidth;
}

long MaxKnobLeft(const SliderGeometry &g) {
    return g.trackRight - g.knobHalfWidth;
}

long MoveVolumeKnob(const SliderGeometry &g, long knobLeft, double x, long grabX) {
    const long moved = nearest(knobLeft + x - grabX);
    return std::min(std::max(moved, MinKnobLeft(g)), MaxKnobLeft(g));
}

long LevelFromKnob(const SliderGeometry &g, long knobLeft, long minimum, long maximum) {
    const long along = std::clamp(knobLeft - MinKnobLeft(g), 0L, g.trackWidth);
    // In double precision the product of two 32-bit values is exact, so a level that falls half
    // way between two is seen as such and goes to the even one.
    return minimum + nearest(double(along) * double(maximum - minimum) / double(g.trackWidth));
}

long KnobLeftForLevel(const SliderGeometry &g, long level, long minimum, long maximum) {
    if (maximum <= minimum)
        return MinKnobLeft(g);
    const long above = std::clamp(level, minimum, maximum) - minimum;
    return MinKnobLeft(g) +
           nearest(double(above) * double(g.trackWidth) / double(maximum - minimum));
}

} // namespace audio
