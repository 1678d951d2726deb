// Composite previews for judging the artwork by eye: the pictures laid over their skins where the
// program puts them, with stand-ins for the controls the program draws itself.
#pragma once

#include <QImage>
#include <QMap>
#include <QString>

namespace art {

struct Artwork {
    QImage mainSkin;     // as the program shows it (after the 8-bit reduction)
    QImage mainSkinFull; // before the reduction, to judge what it costs
    QImage loginSkin;
    QImage recentSkin;
    QImage phoneBookSkin;
    QMap<QString, QImage> buttons; // by file name without extension
    QMap<QString, QImage> icons;
};

// Writes into folder: main-normal.png and main-lit.png (a few keys lit) at their real size,
// main-2x.png (both side by side, doubled), main-all-lit-2x.png, dialogs-2x.png, icons-8x.png,
// glyphs.png, and main-skin-8bit.png / main-skin-24bit.png (the skin alone, after and before
// the 8-bit reduction).
bool writePreviews(const Artwork &art, const QString &folder);

} // namespace art
