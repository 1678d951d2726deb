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
// given) says whether the log was read as far as needed. Something other than a regular file at
// path (a named pipe, a folder) is never waited on, and reads as nothing. A log that cannot be read
// is told in the program's log, once until it can be read again.
QStringList readRecentCalls(const QString &path, bool *complete = nullptr);

// Puts line at the top of what the log holds at that moment and keeps five lines: the sixth is
// dropped, and so are the lines of a file made longer by hand. The lines kept are written back
// with the very bytes they were read with. Read and written holding the log's write lock, so
// the calls another copy of the program logs at the same time are all kept; written whole to a
// temporary file and renamed over the old one, so a failure leaves the old log. Returns false,
// and says why in error, when the log could not be locked or written, and when it could not be
// read: a log that could not be read is left as it is, never replaced by what was read of it.
bool addRecentCall(const QString &path, const QString &line, QString *error = nullptr);

} // namespace calls
