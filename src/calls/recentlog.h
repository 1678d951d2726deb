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

// Reads up to five lines, creating the file empty when it is missing. No more than six lines are
// ever read, so a log of any length costs no more than a full one. A log that is there but cannot
// be read (no permission, a disk error) gives the lines read before the failure; complete (when
// given) says whether the log was read as far as needed.
QStringList readRecentCalls(const QString &path, bool *complete = nullptr);

// Puts line at the top and keeps five lines: the sixth is dropped, and so are the lines of a file
// made longer by hand. The lines kept are written back with the very bytes they were read with.
// Written whole to a temporary file and renamed over the old one, so a failure leaves the old
// log. Returns false, and logs why, when the log could not be written, and when it could not be
// read: a log that could not be read is left as it is, never replaced by what was read of it.
bool addRecentCall(const QString &path, const QString &line);

} // namespace calls
