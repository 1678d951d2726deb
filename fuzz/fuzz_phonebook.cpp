// The phone book's file: any bytes read, written back and read again give the same lines; no byte
// but the line endings is lost; a name and number the window accepts come back from their row.

#include "fuzzsupport.h"
#include "phonebookfile.h"

#include <QBuffer>

#include <cstdint>

namespace {

QList<phonebook::Line> readAll(QIODevice &device) {
    QList<phonebook::Line> lines;
    FUZZ_CHECK(
        phonebook::readLines(device, [&lines](const phonebook::Line &line) { lines << line; }));
    return lines;
}

QList<phonebook::Line> readBytes(QByteArray bytes) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return readAll(buffer);
}

void checkLines(const QByteArray &input) {
    const QList<phonebook::Line> lines = readBytes(input);
    QByteArray kept;
    QList<QByteArray> rows;
    for (const phonebook::Line &line : lines) {
        FUZZ_CHECK(!line.bytes.contains('\r') && !line.bytes.contains('\n'));
        FUZZ_CHECK(line.text == QString::fromLocal8Bit(line.bytes));
        kept += line.bytes;
        rows << line.bytes;
    }
    QByteArray withoutEndings = input;
    withoutEndings.replace('\r', QByteArray()).replace('\n', QByteArray());
    FUZZ_CHECK(kept == withoutEndings);

    // Written as the program writes the file, and read back from it.
    const QString path = fuzz::scratch().filePath(QStringLiteral("PhoneBook.txt"));
    QString error;
    FUZZ_CHECK(phonebook::writeFileLines(path, rows, &error));
    QList<QByteArray> again;
    FUZZ_CHECK(phonebook::readFileLines(
        path, [&again](const phonebook::Line &line) { again << line.bytes; }, &error));
    FUZZ_CHECK(again == rows);

    // A change made to the file: the row replaced where it first stands, every other line as it
    // was, and what the window is told it holds is what the file holds.
    if (rows.isEmpty())
        return;
    const phonebook::Change change{phonebook::Change::Kind::Replace, rows.constLast(),
                                   QByteArrayLiteral("Changed--0301234")};
    QList<QByteArray> expected = rows;
    expected[expected.indexOf(change.row)] = change.newRow;
    QList<phonebook::Line> holds;
    FUZZ_CHECK(phonebook::changeFile(path, change, &holds, &error));
    QList<QByteArray> held;
    for (const phonebook::Line &line : holds)
        held << line.bytes;
    FUZZ_CHECK(held == expected);
    again.clear();
    FUZZ_CHECK(phonebook::readFileLines(
        path, [&again](const phonebook::Line &line) { again << line.bytes; }, &error));
    FUZZ_CHECK(again == expected);
}

// The input split at its first NUL: the name before it, the number after.
void checkRow(const QByteArray &input) {
    const qsizetype nul = input.indexOf('\0');
    const QString name = QString::fromUtf8(input.left(nul < 0 ? input.size() : nul));
    const QString number = nul < 0 ? QString() : QString::fromUtf8(input.mid(nul + 1));
    if (!phonebook::entryProblem(name, number).isEmpty())
        return;
    const QString row = phonebook::composeRow(name, number);
    const phonebook::RowParts parts = phonebook::splitRow(row);
    FUZZ_CHECK(parts.name == name.trimmed());
    FUZZ_CHECK(parts.number == number.trimmed());
    // One row is one line of the file.
    const QList<phonebook::Line> lines = readBytes(row.toLocal8Bit() + "\r\n");
    FUZZ_CHECK(lines.size() == 1 && lines.constFirst().text == row);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    checkLines(input);
    checkRow(input);
    return 0;
}
