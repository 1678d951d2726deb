#include "recentlog.h"

#include "programfiles.h"

#include <QFile>

namespace calls {

namespace {

// Reads the first five lines; count says how many there were, up to one more than five.
QStringList readLines(const QString &path, int &count) {
    count = 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // Missing: create it empty. Neither readable nor creatable: no lines.
        QFile create(path);
        if (!create.open(QIODevice::WriteOnly | QIODevice::Append))
            return {};
        create.close();
        if (!file.open(QIODevice::ReadOnly))
            return {};
    }
    QStringList lines;
    while (count <= kRecentCalls && !file.atEnd()) {
        QByteArray line = file.readLine();
        if (line.isEmpty() && file.error() != QFileDevice::NoError)
            break;
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (++count <= kRecentCalls)
            lines << QString::fromLocal8Bit(line);
    }
    return lines;
}

} // namespace

QString recentLogPathFor(const QString &programFolder) {
    return platform::programFilePathFor(programFolder, QStringLiteral("recentcall.txt"));
}

QString recentLogPath() {
    return platform::programFilePath(QStringLiteral("recentcall.txt"));
}

QStringList readRecentCalls(const QString &path) {
    int count = 0;
    return readLines(path, count);
}

bool addRecentCall(const QString &path, const QString &line) {
    int count = 0;
    QStringList lines = readLines(path, count);
    // A log longer than the program writes it (edited by hand) keeps its first five lines and
    // takes no new one.
    if (count <= kRecentCalls)
        lines.prepend(line);
    while (lines.size() > kRecentCalls)
        lines.removeLast();
    QList<QByteArray> bytes;
    for (const QString &entry : lines)
        bytes << entry.toLocal8Bit();
    return platform::writeLinesWhole(path, bytes);
}

} // namespace calls
