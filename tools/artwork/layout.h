// Where the program puts its controls on each skin, in skin pixels. The skins draw their panels
// and sockets under these rectangles, and the preview lays the pictures over them.
#pragma once

#include <QRect>
#include <QSize>
#include <array>

namespace art::layout {

namespace mainWindow {
inline constexpr QSize size{292, 389};

inline constexpr QRect logo{88, 16, 105, 37};
inline constexpr QRect closeButton{256, 9, 12, 12};
inline constexpr QRect hideButton{269, 22, 12, 12};

inline constexpr QRect statusIcon{39, 67, 15, 11};
inline constexpr QRect statusLine{72, 64, 153, 20};
// The settings menu's key, between the status mark and the status line it belongs to.
inline constexpr QRect menuKey{56, 65, 14, 14};
inline constexpr QRect numberBox{72, 80, 120, 21};
// The clear and delete keys grow or shrink by one pixel when lit; both stay anchored left.
inline constexpr QRect clearKey{192, 80, 38, 18};
inline constexpr int clearKeyLitWidth = 39;
inline constexpr QRect backKey{192, 104, 39, 18};
inline constexpr int backKeyLitWidth = 38;

inline constexpr QRect volumePanel{72, 104, 112, 32};
inline constexpr QRect volumeTrack0{75, 112, 99, 4};
inline constexpr QRect volumeTrack1{75, 127, 99, 4};
inline constexpr QRect speakerIcon{38, 103, 16, 16};
inline constexpr QRect microphoneIcon{38, 119, 16, 16};

inline constexpr QRect recentKey{45, 176, 27, 23};
inline constexpr QRect phoneBookKey{106, 176, 22, 21};
inline constexpr QRect tuneKey{160, 176, 22, 23};
inline constexpr QRect loginKey{216, 176, 24, 23};

inline constexpr QRect callKey{24, 232, 39, 52};
inline constexpr QRect endKey{232, 232, 40, 51};

inline constexpr QSize dialKey{48, 27};
inline constexpr std::array<int, 3> dialColumns{72, 124, 175};
inline constexpr std::array<int, 4> dialRows{228, 257, 285, 313};
inline constexpr int zeroKeyTop = 312;
} // namespace mainWindow

namespace login {
inline constexpr QSize size{216, 228};
inline constexpr std::array<QRect, 3> labels{QRect{16, 32, 73, 17}, QRect{16, 56, 73, 17},
                                             QRect{24, 80, 65, 17}};
inline constexpr std::array<QRect, 3> fields{QRect{96, 32, 105, 19}, QRect{96, 56, 105, 19},
                                             QRect{96, 80, 105, 19}};
inline constexpr QRect saveBox{136, 112, 57, 17};
inline constexpr QRect loginButton{40, 144, 53, 20};
inline constexpr QRect exitButton{120, 144, 53, 20};
} // namespace login

namespace recent {
inline constexpr QSize size{216, 228};
inline constexpr QRect list{20, 32, 177, 108};
inline constexpr QRect closeButton{64, 160, 81, 25};
} // namespace recent

namespace phoneBook {
inline constexpr QSize size{280, 296};
inline constexpr QRect list{32, 32, 217, 72};
inline constexpr QRect nameLabel{72, 112, 65, 17};
inline constexpr QRect nameField{72, 128, 129, 19};
inline constexpr QRect numberLabel{72, 152, 65, 25};
inline constexpr QRect numberField{72, 168, 129, 19};
inline constexpr QRect addButton{72, 200, 65, 25};
inline constexpr QRect callButton{144, 200, 57, 25};
inline constexpr QRect deleteButton{72, 232, 65, 25};
inline constexpr QRect editButton{144, 232, 57, 25};
inline constexpr QRect closeImage{256, 8, 12, 12};
} // namespace phoneBook

} // namespace art::layout
