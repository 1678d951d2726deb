#include "recentlog.h"

#include "programfiles.h"

#include <QFile>

namespace calls {

namespace {

// Reads every line, keeping the first five; count says how many there were.
QStringList readLines(const QString &path, int &count, const std::function<void()> &yield) {
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
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        if (line.isEmpty() && file.error() != QFileDevice::NoError)
            break;
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (++count <= kRecentCalls)
            lines << QString::fromLocal8Bit(line);
        if (yield)
            yield();
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

QStringList readRecentCalls(const QString &path, const std::function<void()> &yield) {
    int count = 0;
    return readLines(path, count, yield);
}

bool addRecentCall(const QString &path, const QString &line, const std::function<void()> &yield) {
    int count = 0;
    QStringList lines = readLines(path, count, yield);
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
