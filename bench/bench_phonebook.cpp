// Opening a large phone book: from creating the window to the window shown on the X server and
// its event loop free again (the file is read on a thread of its own meanwhile), and to the list
// filled with the whole file; and what one change then costs, since every change rewrites the
// file.
//
//     bench_phonebook [--entries N] [--runs N] [--warmup N] [--samples FILE]
//
// And the memory the window leaves behind once closed: VmRSS after each run (the window gone and
// the events after it handled) above VmRSS before the first.
//
// Needs an X display (bench/run gives it a private Xvfb). Prints one line per run and the medians.

#include "benchcommon.h"
#include "digitbox.h"
#include "freedmemory.h"
#include "frmphonebook.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>

using bench::Clock;
using bench::err;
using bench::msBetween;
using bench::out;

namespace {

// A phone book as people keep one: names of varied length, numbers of 3 to 15 digits.
QByteArray phoneBookOf(int entries) {
    static const char *const first[] = {"Anna",  "Bob",  "Carla", "Dmitri", "Eva", "Farid",
                                        "Grete", "Hugo", "Ines",  "Jonas",  "Kai", "Lena"};
    static const char *const last[] = {"Berg",   "Schmidt", "Okafor", "Novak",    "Lindqvist",
                                       "Moreau", "Tanaka",  "Silva",  "Kowalski", "Brennan"};
    QByteArray file;
    file.reserve(entries * 32);
    for (int i = 0; i < entries; ++i) {
        const QByteArray number = QByteArray::number(1000003LL * (i + 7)).left(3 + i % 13);
        file += QByteArray(first[i % 12]) + ' ' + last[(i / 12) % 10] + ' ' +
                QByteArray::number(i) + "--" + number + "\r\n";
    }
    return file;
}

// Turns the event loop until done() or ms have passed; false on time-out.
template <class F> bool waitFor(F done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// This process's VmRSS in KiB.
qint64 rssKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

struct Run {
    double left = 0;   // MiB of RSS above the start once the window is gone
    double loaded = 0; // the whole file read and in the list
    double usable = 0; // shown, exposed, and a posted event handled
    double save = 0;   // ADD of one entry: list changed, whole file rewritten
    qint64 rows = 0;
};

bool openOnce(const QString &path, const QByteArray &file, Run &run) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(file) != file.size())
        return false;
    out.close();
    QComboBox numberBox;
    numberBox.setEditable(true);

    const auto start = Clock::now();
    frmPhoneBook book(&numberBox, path);
    book.show();
    if (!waitFor([&] { return book.windowHandle() && book.windowHandle()->isExposed(); }, 60000))
        return false;
    bool handled = false;
    QTimer::singleShot(0, &book, [&handled] { handled = true; });
    if (!waitFor([&] { return handled; }, 60000))
        return false;
    run.usable = msBetween(start, Clock::now());
    if (!waitFor([&] { return !book.isReading(); }, 120000))
        return false;
    run.loaded = msBetween(start, Clock::now());
    run.rows = book.lstPhoneBook->count();

    book.txtName->setText(QStringLiteral("New Entry"));
    book.txtPhoneNo->setText(QStringLiteral("0301555"));
    const auto add = Clock::now();
    book.cmdAdd->click();
    run.save = msBetween(add, Clock::now());
    book.close();
    return book.lstPhoneBook->count() == run.rows + 1;
}

// The window opened and closed once; RSS read once it and what follows its end are gone.
bool openAndClose(const QString &path, const QByteArray &file, qint64 rssBefore, Run &run) {
    if (!openOnce(path, file, run))
        return false;
    bool settled = false;
    QTimer::singleShot(0, [&settled] { settled = true; });
    waitFor([&] { return settled; }, 10000);
    run.left = (rssKiB() - rssBefore) / 1024.0;
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    platform::keepLittleFreedMemory(); // as the program's own start does
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const bench::CommonOptions common;
    common.addTo(parser, false);
    const QCommandLineOption entriesOption(QStringLiteral("entries"),
                                           QStringLiteral("Entries in the phone book."),
                                           QStringLiteral("n"), QStringLiteral("32000"));
    parser.addOptions({entriesOption});
    parser.process(app);
    const int entries = std::max(0, parser.value(entriesOption).toInt());
    const int runs = common.runCount(parser);
    const int warmup = common.warmupCount(parser);

    QTemporaryDir dir;
    if (!dir.isValid()) {
        err() << "bench_phonebook: no temporary folder\n";
        return 1;
    }
    const QString path = dir.filePath(QStringLiteral("PhoneBook.txt"));
    const QByteArray file = phoneBookOf(entries);
    out() << entries << " entries, " << file.size() / 1024 << " KiB; " << warmup << " warm-up and "
          << runs << " measured runs (ms)\n";
    out() << "run       loaded    usable    ADD+save   RSS left (MiB)\n";

    QList<double> loaded, usable, save, left;
    // What the first window of all costs once (styles, fonts, the skin) is not the phone book's.
    Run first;
    if (!openAndClose(path, QByteArray(), 0, first)) {
        err() << "bench_phonebook: an empty phone book did not open\n";
        return 1;
    }
    const qint64 rssBefore = rssKiB();
    for (int i = 0; i < warmup + runs; ++i) {
        Run run;
        if (!openAndClose(path, file, rssBefore, run) || run.rows != entries + 1) {
            err() << "bench_phonebook: run " << i + 1 << " failed (" << run.rows << " rows)\n";
            return 1;
        }
        const bool counted = i >= warmup;
        out() << QStringLiteral("%1 %2 %3 %4 %5\n")
                     .arg(counted ? QString::number(i - warmup + 1) : QStringLiteral("warm-up"), -8)
                     .arg(run.loaded, 8, 'f', 1)
                     .arg(run.usable, 9, 'f', 1)
                     .arg(run.save, 11, 'f', 1)
                     .arg(run.left, 16, 'f', 1);
        out().flush();
        if (counted) {
            loaded << run.loaded;
            usable << run.usable;
            save << run.save;
            left << run.left;
        }
    }
    out() << QStringLiteral("median   %1 %2 %3 %4\n")
                 .arg(bench::median(loaded), 8, 'f', 1)
                 .arg(bench::median(usable), 9, 'f', 1)
                 .arg(bench::median(save), 11, 'f', 1)
                 .arg(bench::median(left), 16, 'f', 1);

    if (parser.isSet(common.samples)) {
        const QString section = QStringLiteral("phone book");
        const QString opening = QStringLiteral("open %1 -> ").arg(entries);
        QList<bench::TableSample> samples;
        for (int i = 0; i < runs; ++i) {
            const QString kirrow = QStringLiteral("Kirrow");
            samples << bench::TableSample{section, opening + "usable (ms)", kirrow, usable[i]}
                    << bench::TableSample{section, opening + "list filled (ms)", kirrow, loaded[i]}
                    << bench::TableSample{section, QStringLiteral("one change saved (ms)"), kirrow,
                                          save[i]}
                    << bench::TableSample{
                           section, QStringLiteral("RSS left after closing %1 (MiB)").arg(entries),
                           kirrow, left[i]};
        }
        if (!bench::appendSamples(parser.value(common.samples), samples,
                                  QStringLiteral("bench_phonebook")))
            return 1;
    }
    return 0;
}
