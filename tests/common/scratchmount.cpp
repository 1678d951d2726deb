#include "scratchmount.h"

#include <QFile>
#include <QProcess>

namespace {
bool run(const QStringList &arguments) {
    QProcess process;
    process.start(QStringLiteral("mount"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}
} // namespace

ScratchMount::ScratchMount(int kilobytes) {
    if (m_dir.isValid())
        m_mounted = run({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                         QStringLiteral("size=%1k,mode=0777").arg(kilobytes),
                         QStringLiteral("tmpfs"), m_dir.path()});
}

ScratchMount::~ScratchMount() {
    if (!m_mounted)
        return;
    QProcess process;
    process.start(QStringLiteral("umount"), {QStringLiteral("-l"), m_dir.path()});
    process.waitForFinished(10000);
}

qint64 ScratchMount::fill() {
    QFile filler(m_dir.filePath(QStringLiteral("filler")));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return 0;
    const QByteArray block(512, 'x');
    qint64 total = 0;
    for (qint64 n; (n = filler.write(block)) > 0;)
        total += n;
    // What is left is smaller than a block: take it a byte at a time.
    while (filler.write("x", 1) == 1)
        ++total;
    return total;
}

bool ScratchMount::makeReadOnly() {
    return run({QStringLiteral("-o"), QStringLiteral("remount,ro"), m_dir.path()});
}
