#pragma once

#include <QUrl>

namespace shell {

// Where the logo leads: the address the program was built with (the KIRROW_ABOUT_URL option), or
// by default the about page built from the README and kept beside the program, so the link never
// leads to a site that is not ours.
QUrl aboutPageUrl();

// Opens the logo's link in the user's browser. When nothing can open it, says so in a message box
// and in the program's log; the window stays as it was.
void openWebLink();

} // namespace shell
