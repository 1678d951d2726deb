#pragma once

#include <QRect>

namespace platform {

// Window layouts are kept in twips, as they were designed: 1440 to the inch, so 15 to a pixel on
// a 96 dpi screen. The screen's own value is read at run time.
constexpr int kDesignTwipsPerPixel = 15;

// Twips per pixel of the primary screen, horizontally and vertically, rounded.
int screenTwipsPerPixelX();
int screenTwipsPerPixelY();

// Rounds to the nearest integer, halves to even, as every real-to-integer step of the program does.
int roundHalfEven(double value);

// Converts with the screen's twips per pixel, rounded to whole pixels.
int twipsToPixelsX(int twips);
int twipsToPixelsY(int twips);
QRect twipsRect(int left, int top, int width, int height);

} // namespace platform
