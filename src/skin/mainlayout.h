#pragma once

#include <QList>
#include <QString>

namespace skin {

// Where one control of the main window sits, in twips, relative to its container ("" for the
// window itself). The numbers are the designed ones, so this table can be checked against the
// window's design by eye.
struct ControlPlace {
    QString name;
    QString container;
    int left;
    int top;
    int width;
    int height;
};

// Every control of the main window, back to front, including those placed to the right of the
// skin where the window's outline never shows them.
const QList<ControlPlace> &mainWindowLayout();

// The place of one control; throws std::out_of_range for a name that is not in the table.
const ControlPlace &placeOf(const QString &name);

// The window's size at start-up, in twips.
constexpr int kMainWindowWidthTwips = 4450;
constexpr int kMainWindowHeightTwips = 6540;

} // namespace skin
