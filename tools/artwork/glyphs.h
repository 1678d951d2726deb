// The symbols printed on keys and icons, as filled outlines. Each one is drawn into the given
// box (keeping its own proportions, centred), so the same symbol serves any key size.
#pragma once

#include <QPainterPath>
#include <QRectF>

namespace art::glyphs {

// A telephone handset, earpiece at the top left; `hungUp` turns it down for the end key.
QPainterPath handset(const QRectF &box, bool hungUp = false);
QPainterPath clock(const QRectF &box);
QPainterPath addressBook(const QRectF &box);
QPainterPath sliders(const QRectF &box);
QPainterPath key(const QRectF &box);
QPainterPath speaker(const QRectF &box);
QPainterPath microphone(const QRectF &box);
QPainterPath signalBars(const QRectF &box);
QPainterPath voicemail(const QRectF &box);
QPainterPath backspace(const QRectF &box);
QPainterPath asterisk(const QRectF &box);
QPainterPath cross(const QRectF &box, double thickness);
// `count` arcs opening to the right from the middle of the box's left edge.
QPainterPath soundWaves(const QRectF &box, int count, double thickness);

} // namespace art::glyphs
