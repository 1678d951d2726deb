// The image buttons: dial keys, call and end keys, function keys, the clear and delete keys and
// the window buttons, each normal and lit. Every picture starts from the piece of skin it covers,
// so its corners match the skin exactly wherever the program puts it.
#pragma once

#include <QImage>
#include <QString>

#include <vector>

namespace art {

struct NamedPicture {
    QString name; // file name without the extension
    QImage image;
};

// `mainSkin` is the main window skin as the program shows it (after the 8-bit reduction).
std::vector<NamedPicture> drawMainButtons(const QImage &mainSkin);
// The phone book's close image, on its own skin.
QImage drawPhoneBookClose(const QImage &phoneBookSkin);

} // namespace art
