#include "phonebookfile.h"

#include "programfiles.h"

#include <QFile>
#include <QIODevice>

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

RowParts splitRow(const QString &row) {
    const QStringList pieces = row.split(separator());
    if (pieces.size() < 2)
        return {row, QString()};
    return {pieces.at(0), pieces.at(1)};
}

namespace {

// Hands on the pieces of one chunk that ended in LF (or at the end of the data); a lone CR
// inside it ends a line as well.
void addPieces(QByteArray chunk, const LineSink &addLine, const std::function<void()> &yield) {
    if (chunk.endsWith('\n'))
        chunk.chop(1);
    if (chunk.endsWith('\r'))
        chunk.chop(1);
    const QList<QByteArray> pieces = chunk.split('\r');
    for (const QByteArray &bytes : pieces) {
        addLine({bytes, QString::fromLocal8Bit(bytes)});
        if (yield)
            yield();
    }
}

} // namespace

bool readLines(QIODevice &device, const LineSink &addLine, const std::function<void()> &yield) {
    while (!device.atEnd()) {
        const QByteArray chunk = device.readLine();
        // A chunk is whole when it ends a line or the data; anything else was cut by an error.
        if (chunk.isEmpty() || (!chunk.endsWith('\n') && !device.atEnd()))
            return false;
        if (auto *file = qobject_cast<QFileDevice *>(&device);
            file && file->error() != QFileDevice::NoError)
            return false;
        addPieces(chunk, addLine, yield);
    }
    return true;
}

bool readFileLines(const QString &path, const LineSink &addLine,
                   const std::function<void()> &yield) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // Missing: create it empty, then read it (it may have been written meanwhile).
        QFile create(path);
        if (!create.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        create.close();
        if (!file.open(QIODevice::ReadOnly))
            return false;
    }
    return readLines(file, addLine, yield);
}

bool writeFileLines(const QString &path, const QList<QByteArray> &lines, QString *error) {
    return platform::writeLinesWhole(path, lines, error);
}

} // namespace phonebook
