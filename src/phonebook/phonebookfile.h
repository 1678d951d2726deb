#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;

namespace phonebook {

// The phone book is one text file, one "name--number" line per entry, every line ending in
// CR LF, in the order the user made them. The file is a copy of the window's list and is
// rewritten whole after every change.
QString phoneBookPath();
QString phoneBookPathFor(const QString &programFolder);

// The separator between the name and the number of a row.
inline QString separator() {
    return QStringLiteral("--");
}

// A row made from what was typed: the name and the number without surrounding spaces.
QString composeRow(const QString &name, const QString &number);

// The name is the text before the first separator, the number the text between the first and the
// second. A row without a separator (only in a file edited by hand) is all name.
struct RowParts {
    QString name;
    QString number;
};
RowParts splitRow(const QString &row);

// One line as it was read: its bytes, kept so that a rewrite gives back exactly what was read
// even when they are not valid text in the user's encoding, and the text shown for them.
struct Line {
    QByteArray bytes;
    QString text;
};
using LineSink = std::function<void(const Line &)>;

// Hands every line of the device to addLine, in order; a line ends at CR LF, CR or LF, and a last
// line without an ending is read whole. yield runs between lines. Stops at a read error without
// handing on the line it was reading; returns false then.
bool readLines(QIODevice &device, const LineSink &addLine, const std::function<void()> &yield);

// The same for the file at path, which is created empty when it is missing. A file that can be
// neither read nor created gives no lines and returns false.
bool readFileLines(const QString &path, const LineSink &addLine,
                   const std::function<void()> &yield);

// Replaces the file with the given lines, each followed by CR LF. The new content goes to a
// temporary file that is renamed over the old one, so a failure (a read-only folder, a full
// disk, the program killed half way) leaves the old file as it was. On failure returns false
// and says why in error.
bool writeFileLines(const QString &path, const QList<QByteArray> &lines, QString *error);

} // namespace phonebook
