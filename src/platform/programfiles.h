#pragma once

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
bool createEmptyFile(const QString &path, QString *error = nullptr);

// Replaces the file with the given lines, each followed by CR LF, as the program's text files
// have always been written, readable by the user alone (0600). The new content goes to a
// temporary file that is flushed, synced and renamed over the old one, so a failure (a read-only
// folder, a full disk, the program killed half way) leaves the old file as it was. On failure
// returns false and says why in error.
bool writeLinesWhole(const QString &path, const QList<QByteArray> &lines, QString *error = nullptr);

} // namespace platform
