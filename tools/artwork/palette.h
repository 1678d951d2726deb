// The colours of every Kirrow picture, in one place so the skins, keys and icons agree.
#pragma once

#include <QColor>

namespace art {

struct Palette {
    // The colour the program cuts away from every skin; compared as an exact 24-bit value.
    QColor transparentKey{255, 0, 255};

    // Handset body: deep teal, lighter at the top, with a pale rim where the light catches it.
    QColor bodyTop{46, 121, 146};
    QColor bodyMiddle{30, 96, 121};
    QColor bodyBottom{19, 68, 90};
    QColor bodyHighlight{188, 228, 240};
    QColor bodyShadow{5, 27, 39};
    QColor bodyOutline{6, 30, 42};

    // Recessed wells cut into the body (display bezel, keypad well, sockets).
    QColor wellTop{16, 60, 80};
    QColor wellBottom{24, 80, 103};
    QColor bezelTop{12, 44, 60};
    QColor bezelBottom{33, 92, 116};

    // Display: these three are the exact backgrounds of the controls the program lays over it.
    QColor lcd{165, 203, 221};
    QColor numberBox{107, 163, 191};
    QColor volumePanel{58, 135, 166};
    QColor lcdShade{120, 160, 180};
    QColor trackGroove{24, 78, 102};
    QColor trackGrooveLight{112, 176, 201};
    QColor lcdInk{23, 56, 74};

    // Engravings on the body.
    QColor engraveDark{9, 40, 55};
    QColor engraveLight{92, 158, 182};
    QColor captionInk{190, 222, 233};

    // Dial keys: pale glossy caps, warm amber when lit.
    QColor keyTop{250, 252, 253};
    QColor keyBottom{203, 218, 227};
    QColor keyEdge{38, 78, 97};
    QColor keyDigit{20, 52, 70};
    QColor keyLetters{66, 108, 128};
    QColor litTop{255, 249, 230};
    QColor litBottom{255, 204, 112};
    QColor litEdge{150, 84, 14};
    QColor litDigit{82, 40, 0};
    QColor litLetters{142, 78, 14};
    QColor glow{255, 176, 64};

    // Small function keys: steel-teal caps with pale symbols.
    QColor funcTop{108, 172, 196};
    QColor funcBottom{36, 98, 124};
    QColor funcEdge{8, 38, 52};
    QColor funcSymbol{240, 250, 253};
    QColor funcLitTop{255, 230, 160};
    QColor funcLitBottom{238, 150, 44};
    QColor funcLitSymbol{82, 40, 0};

    // Call and end keys.
    QColor callTop{120, 214, 120};
    QColor callBottom{24, 128, 52};
    QColor callEdge{10, 62, 24};
    QColor callLitTop{196, 255, 170};
    QColor callLitBottom{60, 186, 70};
    QColor endTop{244, 120, 108};
    QColor endBottom{166, 28, 28};
    QColor endEdge{82, 10, 10};
    QColor endLitTop{255, 196, 150};
    QColor endLitBottom{232, 70, 40};
    QColor symbolWhite{255, 255, 255};

    // Window buttons on the ear.
    QColor closeTop{240, 128, 112};
    QColor closeBottom{176, 42, 36};
    QColor hideTop{168, 212, 228};
    QColor hideBottom{64, 130, 156};

    // Dialog cards.
    QColor cardPanelTop{236, 243, 247};
    QColor cardPanelBottom{212, 227, 235};
    QColor cardWhite{255, 255, 255};
    QColor cardTitle{232, 246, 251};
    QColor cardSubtitle{160, 206, 222};
    QColor listBack{224, 224, 224};
};

inline const Palette &palette() {
    static const Palette colours;
    return colours;
}

} // namespace art
