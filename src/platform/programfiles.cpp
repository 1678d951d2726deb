#include "programfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace platform {

QString programFilePathFor(const QString &programFolder, const QString &fileName) {
    const QString beside = QDir(programFolder).filePath(fileName);
    if (QFileInfo::exists(beside))
        return beside;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return QDir(data).filePath(fileName);
}

QString programFilePath(const QString &fileName) {
    return programFilePathFor(QCoreApplication::applicationDirPath(), fileName);
}

bool writeLinesWhole(const QString &path, const QList<QByteArray> &lines, QString *error) {
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    for (qsizetype i = 0; written && i < lines.size(); ++i)
        written = file.write(lines.at(i) + "\r\n") == lines.at(i).size() + 2;
    // The last buffered bytes are written by the flush. commit() would flush them too, but a
    // failure there goes unnoticed and the short file replaces the old one.
    written = written && file.flush();
    if (written && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    file.cancelWriting();
    return false;
}

} // namespace platform
