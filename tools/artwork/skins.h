// The window skins: the telephone body of the main window and the cards of the login, recent
// calls and phone book dialogs. Outside each shape every pixel is exactly the key colour.
#pragma once

#include <QImage>

namespace art {

// All skins as opaque RGB pictures; the main one is reduced to 8 bits when it is saved.
QImage drawMainSkin();
QImage drawLoginSkin();
QImage drawRecentSkin();
QImage drawPhoneBookSkin();

} // namespace art
