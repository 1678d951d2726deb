#pragma once

namespace shell {

// Whether the desktop has a D-Bus session bus to reach (its address given, or the usual socket in
// the user's runtime folder). Asked before Qt D-Bus connects: without one, the D-Bus library
// would start a bus of its own on the X display for the question.
bool sessionBusExists();

} // namespace shell
