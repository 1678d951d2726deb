#include "phonebookfile.h"

#include "programfiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QThread>

namespace phonebook {

QString phoneBookPathFor(const QString &programFolder) {
    return platform::programFilePathFor(programFolder, QStringLiteral("PhoneBook.txt"));
}

QString phoneBookPath() {
    return platform::programFilePath(QStringLiteral("PhoneBook.txt"));
}

QString composeRow(const QString &name, const QString &number) {
    return name.trimmed() + separator() + number.trimmed();
}

QString entryProblem(const QString &name, const QString &number) {
    if (name.contains(separator()) || number.contains(separator()))
        return QStringLiteral("A name or number may not contain \"%1\".").arg(separator());
    const auto breaksLine = [](const QString &text) {
        return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
    };
    if (breaksLine(name) || breaksLine(number))
        return QStringLiteral("A name or number may not hold a line break.");
    // "Anna-" and "123" would make "Anna---123", read back as "Anna" and "-123".
    const RowParts parts = splitRow(composeRow(name, number));
    if (parts.name != name.trimmed() || parts.number != number.trimmed())
        return QStringLiteral("A name may not end in \"-\".");
    return QString();
}

RowParts splitRow(const QString &row) {
    const qsizetype first = row.indexOf(separator());
    if (first < 0)
        return {row, QString()};
    const qsizetype start = first + separator().size();
    const qsizetype second = row.indexOf(separator(), start);
    return {row.left(first), row.mid(start, second < 0 ? -1 : second - start)};
}

namespace {

// Hands on the pieces of one chunk that ended in LF (or at the end of the data); a lone CR
// inside it ends a line as well.
void addPieces(QByteArray chunk, const LineSink &addLine) {
    if (chunk.endsWith('\n'))
        chunk.chop(1);
    if (chunk.endsWith('\r'))
        chunk.chop(1);
    if (!chunk.contains('\r')) {
        addLine({chunk, QString::fromLocal8Bit(chunk)});
        return;
    }
    const QList<QByteArray> pieces = chunk.split('\r');
    for (const QByteArray &bytes : pieces)
        addLine({bytes, QString::fromLocal8Bit(bytes)});
}

// Lines at a time the reading thread hands over, and how many bytes at most; how many lines may
// wait to be handed on before it waits.
constexpr qsizetype kBatchLines = 512;
constexpr qsizetype kBatchBytes = 1 << 20;
constexpr qsizetype kWaitingLines = 32 * kBatchLines;
// Lines handed on in one linesRead(), and how long the owner's thread hands on slices before
// letting its other events run.
constexpr qsizetype kSliceLines = 256;
constexpr qint64 kHandOnMs = 8;

} // namespace

bool readLines(QIODevice &device, const LineSink &addLine, const std::atomic_bool *stop) {
    while (!device.atEnd()) {
        if (stop && stop->load(std::memory_order_relaxed))
            return false;
        const QByteArray chunk = device.readLine();
        // A chunk is whole when it ends a line or the data; anything else was cut by an error.
        if (chunk.isEmpty() || (!chunk.endsWith('\n') && !device.atEnd()))
            return false;
        if (auto *file = qobject_cast<QFileDevice *>(&device);
            file && file->error() != QFileDevice::NoError)
            return false;
        addPieces(chunk, addLine);
    }
    return true;
}

bool readFileLines(const QString &path, const LineSink &addLine, QString *error,
                   const std::atomic_bool *stop) {
    QFile file(path);
    platform::FileOpen opened = platform::openRegularFile(file, QIODevice::ReadOnly, error);
    // Missing: create it empty, then read it (it may have been written meanwhile). A file that
    // is there but cannot be opened is not an empty phone book.
    if (opened == platform::FileOpen::Missing) {
        if (!platform::createEmptyFile(path, error))
            return false;
        opened = platform::openRegularFile(file, QIODevice::ReadOnly, error);
    }
    if (opened == platform::FileOpen::Missing)
        return true; // removed again at once: as empty as it was made
    if (opened != platform::FileOpen::Opened)
        return false;
    if (readLines(file, addLine, stop))
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

bool writeFileLines(const QString &path, const QList<QByteArray> &lines, QString *error) {
    return platform::writeLinesWhole(path, lines, error);
}

qsizetype applyChange(QList<QByteArray> &lines, const Change &change) {
    if (change.kind == Change::Kind::Add) {
        lines.append(change.row);
        return lines.size() - 1;
    }
    const qsizetype at = lines.indexOf(change.row);
    if (change.kind == Change::Kind::Remove) {
        if (at >= 0)
            lines.removeAt(at);
        return at;
    }
    // A row another writer changed or deleted meanwhile is gone: the user's new row is added all
    // the same. What the user typed is kept; should it now stand beside the other writer's
    // version, both show in the list and one is a DELETE away, while a change dropped without a
    // word would be lost for good.
    if (at < 0) {
        lines.append(change.newRow);
        return lines.size() - 1;
    }
    lines[at] = change.newRow;
    return at;
}

bool changeFile(const QString &path, const Change &change, QList<Line> *holds, QString *error) {
    const platform::FileWriteLock lock(path);
    if (!lock.isLocked()) {
        if (error)
            *error = lock.error();
        return false;
    }
    QList<Line> read;
    if (!readFileLines(
            path, [&read](const Line &line) { read << line; }, error))
        return false;
    QList<QByteArray> lines;
    lines.reserve(read.size() + 1);
    for (const Line &line : read)
        lines << line.bytes;
    const qsizetype at = applyChange(lines, change);
    if (at >= 0 && !writeFileLines(path, lines, error))
        return false;
    if (holds) {
        // The lines read stand as they were; only the changed one is made anew.
        if (at >= 0 && change.kind == Change::Kind::Remove) {
            read.removeAt(at);
        } else if (at >= 0) {
            const Line changed{lines.at(at), QString::fromLocal8Bit(lines.at(at))};
            if (at < read.size())
                read[at] = changed;
            else
                read.append(changed);
        }
        *holds = std::move(read);
    }
    return true;
}

BackgroundReader::BackgroundReader(QObject *parent) : QObject(parent) {}

BackgroundReader::~BackgroundReader() {
    m_stop = true;
    {
        const QMutexLocker lock(&m_mutex);
        m_room.wakeAll();
    }
    if (m_thread)
        m_thread->wait();
}

void BackgroundReader::start(const QString &path) {
    if (m_thread)
        return;
    m_reading = true;
    m_thread.reset(QThread::create([this, path] {
        QList<Line> batch;
        qsizetype batchBytes = 0;
        // Hands the batch over; the owner's thread is woken unless a wake is on its way.
        const auto handOver = [&](bool done, bool complete, const QString &error) {
            bool wake = false;
            {
                QMutexLocker lock(&m_mutex);
                while (m_pending.size() >= kWaitingLines && !m_stop)
                    m_room.wait(&m_mutex);
                m_pending.append(batch);
                if (done) {
                    m_done = true;
                    m_complete = complete;
                    m_error = error;
                }
                wake = !m_handOnPosted;
                m_handOnPosted = true;
            }
            batch.clear();
            batchBytes = 0;
            if (wake)
                QMetaObject::invokeMethod(this, &BackgroundReader::handOn, Qt::QueuedConnection);
        };
        QString error;
        const bool complete = readFileLines(
            path,
            [&](const Line &line) {
                batch << line;
                batchBytes += line.bytes.size();
                if (batch.size() >= kBatchLines || batchBytes >= kBatchBytes)
                    handOver(false, false, QString());
            },
            &error, &m_stop);
        handOver(true, complete, error);
    }));
    m_thread->start();
}

void BackgroundReader::handOn() {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (m_next >= m_taken.size()) {
            m_taken.clear();
            m_next = 0;
            bool done = false;
            {
                const QMutexLocker lock(&m_mutex);
                m_taken.swap(m_pending);
                m_room.wakeAll();
                done = m_done;
                if (m_taken.isEmpty() && !done) {
                    m_handOnPosted = false; // the reading thread wakes us with its next batch
                    return;
                }
            }
            if (m_taken.isEmpty()) {
                m_thread->wait();
                m_reading = false;
                emit finished(m_complete, m_error);
                return;
            }
        }
        const qsizetype count = qMin(kSliceLines, m_taken.size() - m_next);
        const QList<Line> slice = m_taken.mid(m_next, count);
        m_next += count;
        emit linesRead(slice);
        if (clock.elapsed() >= kHandOnMs) {
            QMetaObject::invokeMethod(this, &BackgroundReader::handOn, Qt::QueuedConnection);
            return;
        }
    }
}

} // namespace phonebook
