#include "freedmemory.h"

#include <QCoreApplication>
#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace platform {

namespace {
constexpr int kKeptFreeBytes = 1024 * 1024;
// Longer than the SIP stack keeps a finished transaction (32 s).
constexpr int kSettleMs = 40000;

void trimNow() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
} // namespace

void returnFreedMemoryLater() {
    if (!QCoreApplication::instance())
        return;
    QTimer::singleShot(0, QCoreApplication::instance(), trimNow);
}

void returnFreedMemoryWhenSettled() {
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    static QTimer *settled = nullptr;
    if (!settled) {
        settled = new QTimer(application);
        settled->setSingleShot(true);
        settled->setInterval(kSettleMs);
        QObject::connect(settled, &QTimer::timeout, trimNow);
        QObject::connect(settled, &QObject::destroyed, [] { settled = nullptr; });
    }
    settled->start();
}

void keepLittleFreedMemory() {
#ifdef __GLIBC__
    // Small blocks freed join their free neighbours at once, instead of waiting in fast lists.
    mallopt(M_MXFAST, 0);
    // A thread's arena gives its free top back as soon as a freed block joins a top over 1 MiB.
    // Setting the thresholds also stops glibc raising them (to tens of MiB) after large blocks are
    // freed, so that blocks of up to 1 MiB are reused from the arena and larger ones unmapped.
    mallopt(M_TRIM_THRESHOLD, kKeptFreeBytes);
    mallopt(M_MMAP_THRESHOLD, kKeptFreeBytes);
#endif
}

} // namespace platform
