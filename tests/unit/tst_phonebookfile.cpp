#include "digitbox.h"
#include "filebytes.h"
#include "phonebookfile.h"
#include "programfiles.h"
#include "scratchmount.h"

#include <QBuffer>
#include <QKeyEvent>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using phonebook::Line;

namespace {

// A file that gives its first bytes and then fails, as a disk with a bad sector does.
class FailingDevice : public QIODevice {
public:
    FailingDevice(QByteArray data, qint64 goodBytes) : m_data(std::move(data)), m_good(goodBytes) {
        open(QIODevice::ReadOnly);
    }
    qint64 size() const override { return m_data.size(); }
    int reads = 0;

protected:
    qint64 readData(char *to, qint64 max) override {
        ++reads;
        const qint64 at = pos();
        if (at >= m_good)
            return -1;
        const qint64 n = qMin(max, m_good - at);
        memcpy(to, m_data.constData() + at, n);
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_good;
};

QStringList textsOf(QIODevice &device, bool *complete = nullptr) {
    QStringList texts;
    const bool done = phonebook::readLines(device, [&](const Line &line) { texts << line.text; });
    if (complete)
        *complete = done;
    return texts;
}

QStringList textsOf(const QByteArray &bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return textsOf(buffer);
}

} // namespace

// The phone book's file format, its rows, and the digits-only number box's rules.
class TestPhoneBookFile : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void fileGoesToTheUsersDataFolderUnlessOneIsBesideTheProgram() {
        // The data folder lies in this test's private home (tests/common/privatehome.cpp).
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(data.startsWith(QDir::tempPath() + "/kirrow-test-home-"));
        QVERIFY(QDir(data).removeRecursively());
        const QString program = m_dir.filePath("program");
        QVERIFY(QDir().mkpath(program));
        // Even a program folder the user may write keeps no phone book of its own.
        QCOMPARE(phonebook::phoneBookPathFor(program), data + "/PhoneBook.txt");
        QCOMPARE(modeOf(data), 0700); // made for it, for the user alone
        // A phone book already beside the program stays in use there.
        QVERIFY(writeBytes(program + "/PhoneBook.txt", "Anna--1\r\n"));
        QCOMPARE(phonebook::phoneBookPathFor(program), program + "/PhoneBook.txt");
    }

    void rowsAreTrimmedNameSeparatorTrimmedNumber() {
        QCOMPARE(phonebook::composeRow("  Anna Berg ", " 0123 "),
                 QStringLiteral("Anna Berg--0123"));
        QCOMPARE(phonebook::composeRow("   ", "123"), QStringLiteral("--123"));
        // Only what reads back as the same name and number is kept as a row.
        QCOMPARE(phonebook::entryProblem("Anna-Maria - Work ", "0123"), QString());
        QCOMPARE(phonebook::entryProblem("   ", "0123"), QString());
        const QString separator = "A name or number may not contain \"--\".";
        QCOMPARE(phonebook::entryProblem("X--Y", "777"), separator);
        QCOMPARE(phonebook::entryProblem("X", "7--7"), separator);
        QCOMPARE(phonebook::entryProblem("Anna- ", "777"),
                 QStringLiteral("A name may not end in \"-\"."));
        QCOMPARE(phonebook::entryProblem("Anna\nBerg", "777"),
                 QStringLiteral("A name or number may not hold a line break."));
    }

    void splittingTakesTheFirstTwoPieces() {
        auto parts = phonebook::splitRow("A--B--C");
        QCOMPARE(parts.name, QStringLiteral("A"));
        QCOMPARE(parts.number, QStringLiteral("B"));
        parts = phonebook::splitRow("Anna--");
        QCOMPARE(parts.name, QStringLiteral("Anna"));
        QCOMPARE(parts.number, QString());
        // Hand-edited rows without a separator, and empty rows, are all name.
        parts = phonebook::splitRow("just a note");
        QCOMPARE(parts.name, QStringLiteral("just a note"));
        QCOMPARE(parts.number, QString());
        parts = phonebook::splitRow("");
        QCOMPARE(parts.name, QString());
        QCOMPARE(parts.number, QString());
        parts = phonebook::splitRow("Anna-Maria - Work--555");
        QCOMPARE(parts.name, QStringLiteral("Anna-Maria - Work"));
        QCOMPARE(parts.number, QStringLiteral("555"));
    }

    void linesAreReadAsTheyStand() {
        QCOMPARE(textsOf("Anna--1\r\nBob--2\r\n"), (QStringList{"Anna--1", "Bob--2"}));
        // The last line without CR LF is read whole.
        QCOMPARE(textsOf("Anna--1\r\nBob--2"), (QStringList{"Anna--1", "Bob--2"}));
        // Nothing is trimmed or parsed; empty lines are empty rows.
        QCOMPARE(textsOf(" Anna -- 1 \r\n\r\nno separator\r\n"),
                 (QStringList{" Anna -- 1 ", "", "no separator"}));
        // Files edited on this system end lines in LF alone; a lone CR ends a line as well.
        QCOMPARE(textsOf("Anna--1\nBob--2\n"), (QStringList{"Anna--1", "Bob--2"}));
        QCOMPARE(textsOf("Anna--1\rBob--2\r"), (QStringList{"Anna--1", "Bob--2"}));
        QCOMPARE(textsOf(""), QStringList());
    }

    void aBackgroundReadHandsEveryLineBackInOrderInSlices() {
        const QString path = m_dir.filePath("big.txt");
        QByteArray data;
        for (int i = 0; i < 20000; ++i)
            data += "Name " + QByteArray::number(i) + "--" + QByteArray::number(i) + "\r\n";
        QVERIFY(writeBytes(path, data));
        phonebook::BackgroundReader reader;
        QStringList texts;
        int slices = 0;
        connect(&reader, &phonebook::BackgroundReader::linesRead, [&](const QList<Line> &lines) {
            ++slices;
            for (const Line &line : lines)
                texts << line.text;
        });
        QSignalSpy finished(&reader, &phonebook::BackgroundReader::finished);
        reader.start(path);
        QVERIFY(reader.isReading());
        QVERIFY(texts.isEmpty()); // nothing is read on the caller's thread
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.first(), (QVariantList{true, QString()}));
        QVERIFY(!reader.isReading());
        QCOMPARE(texts.size(), 20000);
        QCOMPARE(texts.at(12345), QStringLiteral("Name 12345--12345"));
        QVERIFY(slices > 1);

        // What cannot be read says why; a reader dropped while it reads stops.
        phonebook::BackgroundReader unreadable;
        QSignalSpy failed(&unreadable, &phonebook::BackgroundReader::finished);
        unreadable.start(m_dir.path());
        QVERIFY(failed.wait(30000));
        QCOMPARE(failed.first().at(0), QVariant(false));
        QVERIFY(!failed.first().at(1).toString().isEmpty());
        auto dropped = std::make_unique<phonebook::BackgroundReader>();
        dropped->start(path);
        dropped.reset();
    }

    void aReadErrorStopsWithTheRowsBeforeIt() {
        const QByteArray data = "Anna--1\r\nBob--2\r\nCarl--3\r\n";
        // Fails in the middle of "Bob--2": that line was not read and is not handed on.
        FailingDevice device(data, data.indexOf("Bob") + 3);
        bool complete = true;
        QCOMPARE(textsOf(device, &complete), QStringList{"Anna--1"});
        QVERIFY(!complete);
        QVERIFY(device.reads < 10); // stopped, not retrying for ever
        // A device that fails at its first read gives nothing and is not whole either.
        FailingDevice dead(data, 0);
        QCOMPARE(textsOf(dead, &complete), QStringList());
        QVERIFY(!complete);
    }

    void aMissingFileIsCreatedEmpty() {
        const QString path = m_dir.filePath("PhoneBook.txt");
        QFile::remove(path);
        int rows = 0;
        QVERIFY(phonebook::readFileLines(path, [&](const Line &) { ++rows; }, {}));
        QCOMPARE(rows, 0);
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(QFileInfo(path).size(), 0);
        QCOMPARE(modeOf(path), 0600);
    }

    // A folder or a named pipe where the file should be is neither read (a pipe would hold the
    // reader until something wrote to it), nor created, nor replaced by a write: each fails at
    // once, saying why, and leaves it as it is.
    void somethingOtherThanAFileIsLeftAsItIs() {
        const QString folder = m_dir.filePath("folder-in-the-way");
        QVERIFY(QDir().mkpath(folder));
        const QString pipe = m_dir.filePath("pipe-in-the-way");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        for (const QString &path : {folder, pipe}) {
            int rows = 0;
            QString error;
            QVERIFY(!phonebook::readFileLines(
                path, [&](const Line &) { ++rows; }, &error));
            QCOMPARE(rows, 0);
            QCOMPARE(error, QStringLiteral("it is not a regular file"));
            error.clear();
            QVERIFY(!platform::createEmptyFile(path, &error));
            QCOMPARE(error, QStringLiteral("it is not a regular file"));
            error.clear();
            QVERIFY(!phonebook::writeFileLines(path, {"Anna--1"}, &error));
            QCOMPARE(error, QStringLiteral("it is not a regular file"));
        }
        QVERIFY(QFileInfo(folder).isDir());
        struct stat info {};
        QVERIFY(::stat(QFile::encodeName(pipe).constData(), &info) == 0 && S_ISFIFO(info.st_mode));
    }

    // Writes killed half way leave QSaveFile's copy beside the file: its name, a dot and six
    // random letters. At start those of the user's, for the user alone and untouched for a
    // minute, go; a copy another running copy of the program may be writing now stays, and so
    // does anything else.
    void staleCopiesOfKilledWritesAreRemoved() {
        QTemporaryDir folder;
        const QDir dir(folder.path());
        const QDateTime old = QDateTime::currentDateTime().addSecs(-120);
        const auto plant = [&](const QString &name, const QDateTime &time,
                               QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
            QVERIFY(file.setPermissions(mode));
        };
        plant("PhoneBook.txt", old);
        plant("PhoneBook.txt.aBcDeF", old); // the one to go
        plant("PhoneBook.txt.XyZabc", QDateTime::currentDateTime());
        plant("PhoneBook.txt.aBcDe", old);
        plant("PhoneBook.txt.aBcDeFg", old);
        plant("PhoneBook.txt.abc123", old);
        plant("PhoneBookXtxt.aBcDeF", old);
        plant("recentcall.txt.aBcDeF", old);
        plant("PhoneBook.txt.Backup", old, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        QVERIFY(dir.mkdir("PhoneBook.txt.FoLdEr"));
        QVERIFY(QFile::link(dir.filePath("PhoneBook.txt"), dir.filePath("PhoneBook.txt.LiNkEd")));
        QStringList kept = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        kept.removeOne("PhoneBook.txt.aBcDeF");
        if (::geteuid() == 0) {
            // Another user's file is theirs, whatever it is called.
            plant("PhoneBook.txt.NoBody", old);
            QCOMPARE(::chown(QFile::encodeName(dir.filePath("PhoneBook.txt.NoBody")).constData(),
                             65534, 65534),
                     0);
            kept << "PhoneBook.txt.NoBody";
        }
        platform::removeStaleCopies(dir.filePath("PhoneBook.txt"));
        QStringList left = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        left.sort();
        kept.sort();
        QCOMPARE(left, kept);
    }

    void bytesThatAreNotTextInTheUsersEncodingSurviveARewrite() {
        const QString path = m_dir.filePath("latin1.txt");
        const QByteArray original = "M\xfcller--0301\r\n\xc5sa--0302\r\n";
        QVERIFY(writeBytes(path, original));
        QList<QByteArray> lines;
        QVERIFY(phonebook::readFileLines(path, [&](const Line &line) { lines << line.bytes; }, {}));
        QCOMPARE(lines.size(), 2);
        QString error;
        QVERIFY(phonebook::writeFileLines(path, lines, &error));
        QCOMPARE(readBytes(path), original);
    }

    void everyLineIsWrittenWithCrLfAndNoneIsAnEmptyFile() {
        const QString path = m_dir.filePath("written.txt");
        QString error;
        QVERIFY(phonebook::writeFileLines(path, {"Anna--1", "Bob--2"}, &error));
        QCOMPARE(readBytes(path), QByteArray("Anna--1\r\nBob--2\r\n"));
        QCOMPARE(modeOf(path), 0600);
        QVERIFY(phonebook::writeFileLines(path, {}, &error));
        QCOMPARE(readBytes(path), QByteArray());
    }

    void aFailedWriteLeavesTheOldFile() {
        ScratchMount disk;
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        const QString path = disk.filePath("PhoneBook.txt");
        const QByteArray before = "Anna--1\r\nBob--2\r\n";
        QString error;
        QVERIFY(phonebook::writeFileLines(path, {"Anna--1", "Bob--2"}, &error));
        QVERIFY(disk.fill() > 0);
        QVERIFY(
            !phonebook::writeFileLines(path, {"Anna--1", "Bob--2", QByteArray(4096, '9')}, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(readBytes(path), before);
        // Nothing of the attempt is left beside the file.
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

        QVERIFY(disk.makeReadOnly());
        error.clear();
        QVERIFY(!phonebook::writeFileLines(path, {"Carl--3"}, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(readBytes(path), before);
    }

    void numberBoxKeys() {
        auto typed = [](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                        const QString &text = QString()) {
            const QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
            return typedCharacter(event);
        };
        QCOMPARE(typed(Qt::Key_V, Qt::ControlModifier, "\x16"), QChar(22));
        QCOMPARE(typed(Qt::Key_V, Qt::ControlModifier), QChar(22)); // however the text came
        QCOMPARE(typed(Qt::Key_Return), QChar('\r'));
        QCOMPARE(typed(Qt::Key_Backspace), QChar('\b'));
        QCOMPARE(typed(Qt::Key_5, Qt::NoModifier, "5"), QChar('5'));
        QCOMPARE(typed(Qt::Key_Space, Qt::NoModifier, " "), QChar(' '));
        QVERIFY(!typed(Qt::Key_Left));
        QVERIFY(!typed(Qt::Key_Delete));
        QVERIFY(!typed(Qt::Key_Tab, Qt::NoModifier, "\t"));
        // AltGr is Ctrl+Alt on some keyboards: it types what the layout gives.
        QCOMPARE(typed(Qt::Key_Q, Qt::ControlModifier | Qt::AltModifier, "@"), QChar('@'));

        QVERIFY(isNumberKey('0') && isNumberKey('9') && isNumberKey('\b'));
        QVERIFY(!isNumberKey('a') && !isNumberKey(' ') && !isNumberKey('\r') && !isNumberKey('+'));
        QVERIFY(isDigitsOnly("0123456789"));
        QVERIFY(!isDigitsOnly("12a") && !isDigitsOnly("") && !isDigitsOnly(" 12") &&
                !isDigitsOnly("\xd9\xa3")); // an Arabic-Indic three is not a dial digit
        // The telephone's number box also takes * and # and Enter; Enter is typed, never pasted.
        QVERIFY(isNumberKey('#', "*#\r") && isNumberKey('\r', "*#\r"));
        QVERIFY(isDigitsOnly("*12#", "*#\r") && !isDigitsOnly("12\r", "*#\r"));
    }
};

QTEST_MAIN(TestPhoneBookFile)
#include "tst_phonebookfile.moc"
