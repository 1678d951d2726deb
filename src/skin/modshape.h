#pragma once

#include <QRegion>

class QWidget;

namespace modShape {

// The rounded rectangle a window of w × h pixels starts with: from (10, 10) to (w, h − 45),
// with corner ellipses 150 pixels wide and 100 high.
QRegion roundedStartupRegion(int w, int h);

// Gives the window that rounded shape, from its size.
void RoundFormRegion(QWidget *frm);

} // namespace modShape
