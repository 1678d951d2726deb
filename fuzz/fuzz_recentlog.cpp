// The recent-call log: a call added goes on top of what the log held, the log keeps five lines at
// most, in order, and every line comes back as it was written. The input is the log as found on
// disk (any bytes, up to the first NUL), then the calls added, one a line.

#include "fuzzsupport.h"
#include "recentlog.h"

#include <QFile>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QString path = fuzz::scratch().filePath(QStringLiteral("recentcall.txt"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(input.left(nul < 0 ? input.size() : nul)) >= 0);
    }
    bool complete = false;
    QStringList expected = calls::readRecentCalls(path, &complete);
    FUZZ_CHECK(complete);
    FUZZ_CHECK(expected.size() <= calls::kRecentCalls);
    if (nul < 0)
        return 0;
    // The program's lines hold no line break; anything else goes.
    const QList<QByteArray> added = input.mid(nul + 1).split('\n');
    for (const QByteArray &bytes : added) {
        QString line = QString::fromUtf8(bytes);
        line.remove(QLatin1Char('\r'));
        QString error;
        FUZZ_CHECK(calls::addRecentCall(path, line, &error));
        expected.prepend(line);
        while (expected.size() > calls::kRecentCalls)
            expected.removeLast();
        FUZZ_CHECK(calls::readRecentCalls(path, &complete) == expected);
        FUZZ_CHECK(complete);
    }
    return 0;
}
