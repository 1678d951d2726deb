#include "programfiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    return openRegularFile(create, QIODevice::WriteOnly | QIODevice::Append, error) ==
           FileOpen::Opened;
}

QString notRegularFileReason() {
    return QStringLiteral("it is not a regular file");
}

FileOpen openRegularFile(QFile &file, QIODevice::OpenMode mode, QString *error) {
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return FileOpen::Failed;
    };
    const bool adding = mode & QIODevice::WriteOnly;
    // O_NONBLOCK lets the open of a named pipe return at once instead of waiting for its other
    // end; what was opened is then looked at before anything is read or written.
    const int flags =
        O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (adding ? O_WRONLY | O_APPEND | O_CREAT : O_RDONLY);
    const QByteArray name = QFile::encodeName(file.fileName());
    int fd = -1;
    do {
        fd = ::open(name.constData(), flags, S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int why = errno;
        if (why == ENOENT && !adding)
            return FileOpen::Missing;
        // A pipe without a reader, a socket and a folder refuse to be opened for writing.
        if (why == ENXIO || why == EISDIR || why == EOPNOTSUPP)
            return fail(notRegularFileReason());
        return fail(qt_error_string(why));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail(notRegularFileReason());
    }
    // A regular file reads and writes as ever from here on.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(file.errorString());
    }
    return FileOpen::Opened;
}

namespace {
// A writer holds the lock for a re-read and one write: a moment, or a few seconds for a file of
// a million lines.
constexpr int kLockWaitMs = 2000;
} // namespace

FileWriteLock::FileWriteLock(const QString &path) : m_lock(path + QStringLiteral(".lock")) {
    if (m_lock.tryLock(kLockWaitMs))
        return;
    const QString lockPath = QDir::toNativeSeparators(path + QStringLiteral(".lock"));
    switch (m_lock.error()) {
    case QLockFile::LockFailedError:
        m_error = QStringLiteral("another copy of the program is writing it (it holds %1); try "
                                 "again in a moment")
                      .arg(lockPath);
        break;
    case QLockFile::PermissionError:
        m_error = QStringLiteral("its folder may not be written (the lock file %1 could not be "
                                 "made)")
                      .arg(lockPath);
        break;
    default:
        m_error = QStringLiteral("the lock file %1 could not be made").arg(lockPath);
        break;
    }
}

void removeStaleCopies(const QString &path) {
    constexpr qint64 kUntouchedSeconds = 60;
    const QFileInfo file(path);
    const QDir folder = file.absoluteDir();
    // QSaveFile (through QTemporaryFile) names its copy after the file, a dot and six letters.
    const QRegularExpression copyName(
        QStringLiteral("^%1\\.[A-Za-z]{6}$").arg(QRegularExpression::escape(file.fileName())));
    const QStringList names =
        folder.entryList({file.fileName() + QStringLiteral(".??????")},
                         QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (const QString &name : names) {
        if (!copyName.match(name).hasMatch())
            continue;
        const QByteArray copy = QFile::encodeName(folder.filePath(name));
        struct stat info {};
        if (::lstat(copy.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != ::geteuid() || (info.st_mode & (S_IRWXG | S_IRWXO)) ||
            now - info.st_mtime < kUntouchedSeconds)
            continue;
        ::unlink(copy.constData());
    }
}

bool writeLinesWhole(const QString &path, const QList<QByteArray> &lines, QString *error) {
    // Looking does not open, so a named pipe there holds nothing up; it is left as it is.
    if (struct stat info{};
        ::stat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (error)
            *error = notRegularFileReason();
        return false;
    }
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
