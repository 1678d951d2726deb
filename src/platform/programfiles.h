#pragma once

#include <QFile>
#include <QLockFile>
#include <QString>

namespace platform {

// Where the program keeps one of its own text files (the phone book, the recent-call log): the
// user's data folder, created for the user alone (0700) when it is missing. A file that already
// stands beside the program (a copy of the program carried with its files, or one kept there by an
// older version) stays in use there, so nothing the user had is left behind.
QString programFilePath(const QString &fileName);
// The same choice for a given program folder.
QString programFilePathFor(const QString &programFolder, const QString &fileName);

// Creates an empty file at path for the user alone (0600); false, and why in error, when it cannot.
// Something other than a regular file at path is left as it is, and is an error.
bool createEmptyFile(const QString &path, QString *error = nullptr);

// How opening one of the program's files went.
enum class FileOpen { Opened, Missing, Failed };

// Opens the program's file at file's name for reading (ReadOnly) or for adding to its end
// (WriteOnly | Append, created for the user alone when missing), only when it is a regular file.
// Never waits: a named pipe (which would hold the program until something wrote to it), a socket,
// a device or a folder at the path fails at once, saying it is not a regular file, and is left as
// it is. Missing is only given for reading; error says why it failed.
FileOpen openRegularFile(QFile &file, QIODevice::OpenMode mode, QString *error = nullptr);

// Why openRegularFile() refused a path that holds something other than a regular file.
QString notRegularFileReason();

// Keeps the program's writers of one file apart: two copies of the program sharing the user's
// folders, each re-reading the file, making its one change and renaming the new text into place
// while holding it, never write over each other's changes. A lock file beside the file (its name
// and ".lock"), as QSettings keeps beside the settings; one left by a copy that was killed is
// taken over. Waits a short while for a lock another writer holds.
class FileWriteLock {
public:
    explicit FileWriteLock(const QString &path);
    bool isLocked() const { return m_lock.isLocked(); }
    // Why the lock could not be had, for a message saying why the file was not written.
    QString error() const { return m_error; }

private:
    QLockFile m_lock;
    QString m_error;
};

// Removes what writes killed half way left beside the file at path: the temporary copies QSaveFile
// names after the file (its name, a dot and six random letters), when they are regular files of
// this user's, for the user alone as the program writes them, and untouched for a minute (a
// write of another copy of the program running now is never touched). Anything else stays.
void removeStaleCopies(const QString &path);

// Replaces the file with the given lines, each followed by CR LF, as the program's text files
// have always been written, readable by the user alone (0600). The new content goes to a
// temporary file that is flushed, synced and renamed over the old one, so a failure (a read-only
// folder, a full disk, the program killed half way) leaves the old file as it was. On failure
// returns false and says why in error. Something other than a regular file at path (a named
// pipe, a folder) is never replaced: that is an error too.
bool writeLinesWhole(const QString &path, const QList<QByteArray> &lines, QString *error = nullptr);

} // namespace platform
