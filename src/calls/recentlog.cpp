#include "recentlog.h"

#include "errortraps.h"
#include "programfiles.h"

#include <QFile>

namespace calls {

namespace {

const QString kWhere = QStringLiteral("recent calls");

// The first lines of the log as they were read, without their line endings.
struct LogLines {
    QList<QByteArray> lines; // up to five
    int count = 0;           // how many there were, up to one more than five
    bool complete = true;    // false when the log is there but could not be read
    QString error;           // why not
};

LogLines readLog(const QString &path) {
    LogLines log;
    QFile file(path);
    platform::FileOpen opened = platform::openRegularFile(file, QIODevice::ReadOnly, &log.error);
    // Missing: create it empty. When it cannot be created either, there is nothing to lose. A log
    // that is there but cannot be opened is not an empty one.
    if (opened == platform::FileOpen::Missing) {
        if (!platform::createEmptyFile(path))
            return log;
        opened = platform::openRegularFile(file, QIODevice::ReadOnly, &log.error);
        if (opened == platform::FileOpen::Missing)
            return log;
    }
    if (opened != platform::FileOpen::Opened) {
        log.complete = false;
        return log;
    }
    while (log.count <= kRecentCalls && !file.atEnd()) {
        QByteArray line = file.readLine();
        // A line is whole when it ends in LF or at the end of the file; anything else was cut
        // short by an error.
        if (line.isEmpty() || file.error() != QFileDevice::NoError ||
            (!line.endsWith('\n') && !file.atEnd())) {
            log.complete = false;
            log.error = file.errorString();
            break;
        }
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (++log.count <= kRecentCalls)
            log.lines << line;
    }
    return log;
}

} // namespace

QString recentLogPathFor(const QString &programFolder) {
    return platform::programFilePathFor(programFolder, QStringLiteral("recentcall.txt"));
}

QString recentLogPath() {
    return platform::programFilePath(QStringLiteral("recentcall.txt"));
}

QStringList readRecentCalls(const QString &path, bool *complete) {
    const LogLines log = readLog(path);
    if (complete)
        *complete = log.complete;
    // Told once, not again with every opening of the recent calls, until it reads again. (Read
    // on the GUI thread alone.)
    static QString toldOf;
    if (log.complete) {
        if (toldOf == path)
            toldOf.clear();
    } else if (toldOf != path) {
        toldOf = path;
        platform::logError(kWhere, QStringLiteral("%1 could not be read: %2").arg(path, log.error));
    }
    QStringList lines;
    for (const QByteArray &line : log.lines)
        lines << QString::fromLocal8Bit(line);
    return lines;
}

bool addRecentCall(const QString &path, const QString &line, QString *error) {
    const platform::FileWriteLock lock(path);
    if (!lock.isLocked()) {
        if (error)
            *error = lock.error();
        return false;
    }
    LogLines log = readLog(path);
    if (!log.complete) {
        if (error)
            *error = QStringLiteral("it could not be read: ") + log.error;
        return false;
    }
    // The newest call always goes on top, also in a log made longer by hand, whose lines past
    // the fifth are dropped with it.
    log.lines.prepend(line.toLocal8Bit());
    while (log.lines.size() > kRecentCalls)
        log.lines.removeLast();
    return platform::writeLinesWhole(path, log.lines, error);
}

} // namespace calls
