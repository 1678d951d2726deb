// Reduces a skin to a 256-colour palette for the 8-bit main window bitmap.
#pragma once

#include <QColor>
#include <QImage>
#include <QList>

namespace art {

// Converts an opaque picture to Format_Indexed8 with exactly 256 palette entries.
// `key` is the transparent colour: pixels of exactly that colour keep it, and no other pixel is
// ever mapped to it. Every colour in `exact` gets an entry of its own, and pixels of exactly that
// colour keep it undithered, so flat areas the program matches stay flat. The other pixels are
// mapped to a median-cut palette refined by a few k-means passes, with gentle error diffusion
// so the body gradients do not band.
QImage toIndexed8(const QImage &picture, const QColor &key, const QList<QColor> &exact);

} // namespace art
