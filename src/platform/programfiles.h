#pragma once

#include <QString>

namespace platform {

// Where the program keeps one of its own text files (the phone book, the recent-call log): the
// program's folder when it can be written there, otherwise the user's data folder (an installed
// program's folder is not the user's to write).
QString programFilePath(const QString &fileName);
// The same choice for a given program folder.
QString programFilePathFor(const QString &programFolder, const QString &fileName);

// Replaces the file with the given lines, each followed by CR LF, as the program's text files
// have always been written. The new content goes to a temporary file that is flushed, synced and
// renamed over the old one, so a failure (a read-only folder, a full disk, the program killed half
// way) leaves the old file as it was. On failure returns false and says why in error.
bool writeLinesWhole(const QString &path, const QList<QByteArray> &lines, QString *error = nullptr);

} // namespace platform
