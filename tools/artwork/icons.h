// The small pictures: logo, volume knob, speaker, microphone, status mark, window icon and tray
// picture. Those that sit on the main skin start from the piece of skin they cover.
#pragma once

#include "keys.h"

#include <QImage>

#include <vector>

namespace art {

std::vector<NamedPicture> drawIcons(const QImage &mainSkin);

} // namespace art
