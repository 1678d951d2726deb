#pragma once

// What the fuzz targets share: a property check that stops the run (libFuzzer keeps the input
// that broke it), strings of every kind made from the fuzzer's bytes, and a folder of the
// target's own for the files it writes.

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A property that does not hold is a fault like a crash: told, then aborted, so that libFuzzer
// saves the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace fuzz {

// Any sequence of UTF-16 code units, lone surrogates and U+FFFF included, as a QString can hold.
inline QString anyText(const std::string &bytes) {
    return QString(reinterpret_cast<const QChar *>(bytes.data()), qsizetype(bytes.size() / 2));
}

// The files a target writes go to a folder of its own, in memory where there is such a folder
// (every write the program makes ends in an fsync), removed at the end of the run.
inline const QTemporaryDir &scratch() {
    static const QTemporaryDir dir((QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                        ? QStringLiteral("/dev/shm")
                                        : QDir::tempPath()) +
                                   QStringLiteral("/kirrow-fuzz-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "no scratch folder: %s\n", qPrintable(dir.errorString()));
        std::abort();
    }
    return dir;
}

// Cuts texts from the input in turn: each a length byte, then that many UTF-16 units' worth of
// bytes (fewer at the end of the input), read by anyText. bytes and left move past what was taken.
template <std::size_t N>
void takeTexts(const char *&bytes, std::size_t &left, QString (&texts)[N]) {
    for (QString &text : texts) {
        const std::size_t units = left == 0 ? 0 : uint8_t(*bytes);
        if (left > 0) {
            ++bytes;
            --left;
        }
        const std::size_t taken = std::min(units * 2, left);
        text = anyText(std::string(bytes, taken));
        bytes += taken;
        left -= taken;
    }
}

} // namespace fuzz
