#include "recentlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

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
    const QFileInfo folder(programFolder);
    if (folder.isDir() && folder.isWritable())
        return QDir(programFolder).filePath(QStringLiteral("recentcall.txt"));
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return QDir(data).filePath(QStringLiteral("recentcall.txt"));
}

QString recentLogPath() {
    return recentLogPathFor(QCoreApplication::applicationDirPath());
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QString &entry : lines)
        file.write(entry.toLocal8Bit() + "\r\n");
    return file.commit();
}

} // namespace calls
