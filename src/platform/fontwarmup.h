#pragma once

namespace platform {

// Reading the font configuration (some fifty XML files and the font caches) is the largest single
// step of the program's start, and Qt does it on the GUI thread the first time a widget needs a
// font. startReadingFonts() reads it on a thread of its own, beside the loading of Qt and the
// connection to the display; awaitFonts() waits for that thread, and must be called after the
// application object exists and before the first widget is built. Qt then finds the configuration
// read. Calling only awaitFonts(), or neither, is harmless.
void startReadingFonts();
void awaitFonts();

} // namespace platform
