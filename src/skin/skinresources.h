#pragma once

// Registers the pictures built into the program (skins, buttons, icons). Safe to call often;
// every window that shows them calls it before loading one.
void initSkinResources();
