#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

// A file's whole content, or "<missing>" when it cannot be read.
inline QByteArray readBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Replaces a file's content; false when it could not be written.
inline bool writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// The permission bits of a file or folder (0600, 0755), or -1 when it is missing.
inline int modeOf(const QString &path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// Root reads and writes every file whatever its mode. A test of a file its user may not read
// (chmod 000) therefore checks the program as the unprivileged user nobody when the test runs as
// root: it runs one of its own test functions again as nobody, working in a folder handed to
// nobody, and that run finds the folder with unprivileged::folder().
namespace unprivileged {

// File modes do not stop this test program.
inline bool needed() {
    return ::geteuid() == 0;
}

// In the run as nobody, the folder to work in; empty in every other run.
inline QString folder() {
    return qEnvironmentVariable("KIRROW_TEST_NOBODYS_FOLDER");
}

// Hands folder and the files in it to nobody, whose own they then are as a user's files are
// theirs (their modes say what nobody may do with them), and runs testFunction of this test
// program as nobody. Returns an empty string when that run passed, otherwise what it printed.
inline QString runAsNobody(const QString &testFunction, const QString &folder) {
    constexpr int kNobody = 65534;
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotDot);
    for (const QString &name : names) {
        if (::chown(QFile::encodeName(dir.filePath(name)).constData(), kNobody, kNobody) != 0)
            return QStringLiteral("could not hand %1 to nobody").arg(dir.filePath(name));
    }
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KIRROW_TEST_NOBODYS_FOLDER"), folder);
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("setpriv"),
              {QStringLiteral("--reuid=%1").arg(kNobody), QStringLiteral("--regid=%1").arg(kNobody),
               QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
               testFunction});
    if (!run.waitForFinished(120000)) {
        run.kill();
        run.waitForFinished();
    }
    const QString printed = QString::fromLocal8Bit(run.readAll());
    if (run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0)
        return QString();
    return QStringLiteral("the run as nobody failed (%1):\n%2").arg(run.errorString(), printed);
}

} // namespace unprivileged
