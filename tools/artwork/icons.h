// The small pictures: logo, volume knob, speaker, microphone, status mark, window icon and tray
// picture. Those that sit on the main skin start from the piece of skin they cover.
#pragma once

#include "keys.h"

#include <QImage>

#include <vector>

namespace art {

std::vector<NamedPicture> drawIcons(const QImage &mainSkin);
// The window icon at the sizes a desktop's menus and launchers use, each named by its size
// ("48x48"), as the icon theme's folders are.
std::vector<NamedPicture> drawDesktopIcons();

} // namespace art
