#include "skinresources.h"

#include <QtGlobal>

// Outside any namespace, as resource registration requires.
static void registerAll() {
    Q_INIT_RESOURCE(skin);
    Q_INIT_RESOURCE(buttons);
    Q_INIT_RESOURCE(icons);
}

void initSkinResources() {
    static const bool registered = (registerAll(), true);
    Q_UNUSED(registered);
}
