#include "programfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace platform {

namespace {
// The user's calls and numbers are for the user alone, as the settings are.
constexpr QFile::Permissions kPrivateFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions kPrivateFolder = kPrivateFile | QFile::ExeOwner;
constexpr QFile::Permissions kOthers = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                       QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

// The program's data folder, made for the user alone. One that an older version made open to
// others is closed: it holds nothing but this program's files.
QString privateDataFolder() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QFileInfo info(data);
    if (!info.exists()) {
        QDir().mkpath(info.absolutePath());
        QDir().mkdir(data, kPrivateFolder);
    } else if (info.isDir() && !info.isSymLink() && (info.permissions() & kOthers)) {
        QFile::setPermissions(data, kPrivateFolder);
    }
    return data;
}
} // namespace

QString programFilePathFor(const QString &programFolder, const QString &fileName) {
    const QString beside = QDir(programFolder).filePath(fileName);
    if (QFileInfo::exists(beside))
        return beside;
    return QDir(privateDataFolder()).filePath(fileName);
}

QString programFilePath(const QString &fileName) {
    return programFilePathFor(QCoreApplication::applicationDirPath(), fileName);
}

bool createEmptyFile(const QString &path, QString *error) {
    QFile create(path);
    if (create.open(QIODevice::WriteOnly | QIODevice::Append, kPrivateFile))
        return true;
    if (error)
        *error = create.errorString();
    return false;
}

bool writeLinesWhole(const QString &path, const QList<QByteArray> &lines, QString *error) {
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    // The new copy is the user's alone, whatever the umask or the old file allowed. (A file
    // system without modes, a stick beside a carried program, refuses; the write goes on.)
    if (written)
        file.setPermissions(kPrivateFile);
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
