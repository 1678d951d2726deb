#include "mainlayout.h"

#include <stdexcept>

namespace skin {

const QList<ControlPlace> &mainWindowLayout() {
    static const QList<ControlPlace> table = {
        // name          container   left  top   width height
        {"Picture1", "", 0, 0, 4380, 5835},
        {"Picture4", "Picture1", 1320, 240, 1575, 555},
        {"lblMsg", "Picture1", 1080, 960, 2295, 300},
        {"lblBalance", "Picture1", 1320, 2040, 1215, 255},
        {"Picture3", "Picture1", 680, 2640, 405, 345},
        {"Picture2", "Picture1", 2400, 2640, 330, 345},
        {"cmbPhoneNo", "", 1080, 1200, 1800, 315},
        {"Picture16", "", 2880, 1200, 570, 270},
        {"Picture17", "", 2880, 1560, 585, 270},
        {"Frame1", "", 1080, 1560, 1680, 480},
        {"Label1(0)", "Frame1", 45, 120, 1485, 60},
        {"Label1(1)", "Frame1", 45, 345, 1485, 60},
        {"picWave(0)", "Frame1", 600, 90, 100, 100},
        {"picWave(1)", "Frame1", 600, 350, 100, 100},
        {"Image1", "", 570, 1545, 240, 240},
        {"Image2", "", 570, 1785, 240, 240},
        {"Image3", "", 585, 1005, 225, 165},
        {"Picture11", "", 1590, 2640, 330, 315},
        {"Picture13", "", 3240, 2640, 360, 345},
        {"Picture6", "", 360, 3480, 585, 780},
        {"Picture8", "", 3480, 3480, 600, 765},
        {"Picture20", "", 1080, 3420, 720, 405},
        {"Picture21", "", 1860, 3420, 720, 405},
        {"Picture22", "", 2625, 3420, 720, 405},
        {"Picture25", "", 1080, 3855, 720, 405},
        {"Picture26", "", 1860, 3855, 720, 405},
        {"Picture27", "", 2625, 3855, 720, 405},
        {"Picture30", "", 1080, 4275, 720, 405},
        {"Picture31", "", 1860, 4275, 720, 405},
        {"Picture32", "", 2625, 4275, 720, 405},
        {"Picture35", "", 1080, 4695, 720, 405},
        {"Picture36", "", 1860, 4680, 720, 405},
        {"Picture37", "", 2625, 4695, 720, 405},
        {"Picture40", "", 3840, 140, 180, 180},
        {"Picture41", "", 4035, 330, 180, 180},
        // The settings menu's key, between the status mark and the status line.
        {"picMenu", "", 840, 975, 210, 210},
        // Outside the skin: holders of pictures, never seen.
        {"logOn", "", 4920, 240, 390, 375},
        {"logOff", "", 5400, 240, 390, 375},
        {"TrayIcon", "", 4920, 840, 405, 525},
    };
    return table;
}

const ControlPlace &placeOf(const QString &name) {
    for (const ControlPlace &place : mainWindowLayout())
        if (place.name == name)
            return place;
    throw std::out_of_range("no control named " + name.toStdString());
}

} // namespace skin
