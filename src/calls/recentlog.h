#pragma once

#include <QStringList>

namespace calls {

// The last five calls, newest first, one "number--Duration: h:m:s"
// line each, lines ending in CR LF.
constexpr int kRecentCalls = 5;

// Where the log is kept: beside the program when a log is already there (a copy of the program
// carried with its files), otherwise in the user's data folder.
QString recentLogPath();
// The same choice for a given program folder.
QString recentLogPathFor(const QString &programFolder);

// Reads up to five lines, creating the file empty when it is missing. A file that can neither be
// read nor created gives no lines at once. No more than six lines are ever read, so a huge file
// costs no more than a full log.
QStringList readRecentCalls(const QString &path);

// Puts line at the top, dropping the sixth; a file longer than five lines (edited by hand) is cut
// to its first five and takes no new line. Written whole to a temporary file and renamed over the
// old one, so a failure leaves the old log. Returns false when the log could not be written.
bool addRecentCall(const QString &path, const QString &line);

} // namespace calls
