#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

class QIODevice;
class QThread;

namespace phonebook {

// The phone book is one text file, one "name--number" line per entry, every line ending in
// CR LF, in the order the user made them. Every change the window makes is made to what the file
// holds at that moment, and the file rewritten whole.
QString phoneBookPath();
QString phoneBookPathFor(const QString &programFolder);

// The separator between the name and the number of a row.
inline QString separator() {
    return QStringLiteral("--");
}

// A row made from what was typed: the name and the number without surrounding spaces.
QString composeRow(const QString &name, const QString &number);

// Why a name and a number cannot be kept as one row, or an empty string when they can. A row is
// split at its first separator, so a separator in either box, or a name ending in "-", would
// come back from the file as another name and number; a line break would split the row in two.
QString entryProblem(const QString &name, const QString &number);

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
// line without an ending is read whole. Stops at a read error without handing on the line it was
// reading, and when stop (if given) is set; returns true only when every line was read.
bool readLines(QIODevice &device, const LineSink &addLine, const std::atomic_bool *stop = nullptr);

// The same for the file at path, which is created empty when it is missing. A file that is there
// but cannot be opened or read to its end (no permission, a disk error) returns false, with the
// reason in error; so does a missing file that cannot be created, and something other than a
// regular file at path (a named pipe, a folder), which is left as it is and never waited on.
bool readFileLines(const QString &path, const LineSink &addLine, QString *error = nullptr,
                   const std::atomic_bool *stop = nullptr);

// Replaces the file with the given lines, each followed by CR LF. The new content goes to a
// temporary file that is renamed over the old one, so a failure (a read-only folder, a full
// disk, the program killed half way) leaves the old file as it was. On failure returns false
// and says why in error.
bool writeFileLines(const QString &path, const QList<QByteArray> &lines, QString *error);

// One change the window makes: made to what the file holds when it is written, so that what
// another writer (another copy of the program on the same folder, an editor) put in the file since
// the window read it stays. Rows are matched by their bytes.
struct Change {
    enum class Kind { Add, Replace, Remove };
    Kind kind = Kind::Add;
    QByteArray row;    // the row added, or the row as it stood before a Replace or Remove
    QByteArray newRow; // what a Replace puts in its place
};

// Makes the change to lines: Add appends the row; Replace puts newRow in place of the first line
// equal to row, or appends it when there is none; Remove takes out the first line equal to row,
// and nothing when there is none. Returns the index of the line added, replaced or removed, or
// -1 when nothing changed.
qsizetype applyChange(QList<QByteArray> &lines, const Change &change);

// Holding the file's write lock, reads the file whole, makes the change to what it holds and
// writes it back whole. holds receives the lines the file holds afterwards. Returns false with
// why in error when the file could not be locked, read or written; it is then left as it was.
bool changeFile(const QString &path, const Change &change, QList<Line> *holds, QString *error);

// Reads a file with readFileLines on a thread of its own, so that a file of any size (a line of
// megabytes, a million lines) never holds up the thread that shows it. The lines come back to
// the reader's own thread in order, in slices handed on for a few milliseconds at a time, so
// that thread's events (painting, input, timers) run between slices; finished() follows the
// last slice. Destroying the reader stops the reading.
class BackgroundReader : public QObject {
    Q_OBJECT
public:
    explicit BackgroundReader(QObject *parent = nullptr);
    ~BackgroundReader() override;

    // Starts reading; a reader reads one file once.
    void start(const QString &path);
    // From start() until finished() has been emitted.
    bool isReading() const { return m_reading; }

signals:
    void linesRead(const QList<phonebook::Line> &lines);
    // complete is false when the file could not be read to its end; error then says why.
    void finished(bool complete, const QString &error);

private:
    void handOn();

    std::unique_ptr<QThread> m_thread;
    std::atomic_bool m_stop{false};
    bool m_reading = false;

    // Shared with the reading thread, which waits for room while many lines wait to be handed
    // on, so that no more than a few slices of the file are held twice.
    QMutex m_mutex;
    QWaitCondition m_room;
    QList<Line> m_pending;
    bool m_handOnPosted = false;
    bool m_done = false;
    bool m_complete = false;
    QString m_error;

    // Taken from m_pending, being handed on.
    QList<Line> m_taken;
    qsizetype m_next = 0;
};

} // namespace phonebook
