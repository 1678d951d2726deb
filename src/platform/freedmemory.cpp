#include "freedmemory.h"

#include <QCoreApplication>
#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace platform {

void returnFreedMemoryLater() {
    if (!QCoreApplication::instance())
        return;
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    });
}

} // namespace platform
