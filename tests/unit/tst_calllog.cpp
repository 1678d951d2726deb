#include "callclock.h"
#include "errortraps.h"
#include "filebytes.h"
#include "programfiles.h"
#include "recentlog.h"
#include "scratchmount.h"

#include <QtTest>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

// The connected-call clock and the recent-call log file.
class TestCallLog : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path() const { return m_dir.filePath("recentcall.txt"); }
    QByteArray contents() const { return readBytes(path()); }
    void write(const QByteArray &bytes) { QVERIFY(writeBytes(path(), bytes)); }

private slots:
    void init() { QFile::remove(path()); }

    void clockRollsOverSecondsMinutesAndHours() {
        calls::CallClock clock;
        for (int i = 0; i < 59; ++i)
            calls::tick(clock);
        QCOMPARE(calls::connectedText(clock), QStringLiteral("CONNECTED 0:0:59"));
        calls::tick(clock);
        QCOMPARE(calls::connectedText(clock), QStringLiteral("CONNECTED 0:1:0"));
        for (int i = 60; i < 3600; ++i)
            calls::tick(clock);
        QCOMPARE(calls::connectedText(clock), QStringLiteral("CONNECTED 1:0:0"));
        QCOMPARE(calls::durationText(clock), QStringLiteral("1:0:0"));
        calls::CallClock last{32767, 59, 59};
        calls::tick(last);
        QCOMPARE(last.hours, qint16(32767)); // never wraps to a negative time
    }

    void missingLogGetsOneLine() {
        QVERIFY(calls::addRecentCall(path(), "5551234567--Duration: 0:3:27"));
        QCOMPARE(contents(), QByteArray("5551234567--Duration: 0:3:27\r\n"));
        QCOMPARE(calls::readRecentCalls(path()), QStringList{"5551234567--Duration: 0:3:27"});
    }

    void newestFirstAndTheSixthDropped() {
        // The second line is not valid text here (written by hand on an older system): it goes
        // back with its own bytes.
        write("1--Duration: 0:0:1\r\n2\xfc--Duration: 0:0:2\r\n3--Duration: 0:0:3\r\n4--Duration: "
              "0:0:4\r\n"
              "5--Duration: 0:0:5\r\n");
        QVERIFY(calls::addRecentCall(path(), "*9#--Duration: 0:0:0"));
        QCOMPARE(contents(),
                 QByteArray("*9#--Duration: 0:0:0\r\n1--Duration: 0:0:1\r\n2\xfc--Duration: "
                            "0:0:2\r\n3--Duration: 0:0:3\r\n4--Duration: 0:0:4\r\n"));
    }

    void handEditedLongLogTakesTheNewestCallOnTop() {
        write("a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\n");
        QVERIFY(calls::addRecentCall(path(), "new--Duration: 0:0:1"));
        QCOMPARE(contents(), QByteArray("new--Duration: 0:0:1\r\na\r\nb\r\nc\r\nd\r\n"));
    }

    void readingCreatesAMissingLogAndStopsAtFive() {
        QCOMPARE(calls::readRecentCalls(path()), QStringList());
        QVERIFY(QFile::exists(path()));
        write("a\nb\r\nc\r\nd\r\ne\r\nf\r\n");
        QCOMPARE(calls::readRecentCalls(path()), (QStringList{"a", "b", "c", "d", "e"}));
    }

    void unusableLogGivesNothingAndKeepsTheOldFile() {
        if (const QString folder = unprivileged::folder(); !folder.isEmpty()) {
            // The run as nobody: the log cannot be read, so it takes no new line.
            const QString log = folder + "/recentcall.txt";
            bool complete = true;
            QCOMPARE(calls::readRecentCalls(log, &complete), QStringList());
            QVERIFY(!complete);
            QVERIFY(!calls::addRecentCall(log, "1--Duration: 0:0:1"));
            return;
        }
        // A folder that does not exist: nothing can be read or created, at once.
        const QString nowhere = m_dir.filePath("missing/folder/recentcall.txt");
        QCOMPARE(calls::readRecentCalls(nowhere), QStringList());
        QVERIFY(!calls::addRecentCall(nowhere, "1--Duration: 0:0:1"));

        // A log its user may write but not read, in a folder the user may write, is never
        // replaced by the nothing that was read of it.
        QTemporaryDir folder(QDir::tempPath() + "/kirrow-unreadable-XXXXXX");
        const QString log = folder.filePath("recentcall.txt");
        const QByteArray before = "600--Duration: 0:0:4\r\n";
        QVERIFY(writeBytes(log, before));
        QVERIFY(QFile::setPermissions(log, QFile::WriteOwner));
        if (unprivileged::needed()) {
            QCOMPARE(unprivileged::runAsNobody(QTest::currentTestFunction(), folder.path()),
                     QString());
        } else {
            QVERIFY(!calls::addRecentCall(log, "1--Duration: 0:0:1"));
        }
        QVERIFY(QFile::setPermissions(log, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(readBytes(log), before);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"recentcall.txt"});
    }

    void logGoesToTheUsersDataFolderUnlessOneIsBesideTheProgram() {
        // The data folder lies in this test's private home (tests/common/privatehome.cpp).
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(data.startsWith(QDir::tempPath() + "/kirrow-test-home-"));
        QVERIFY(QDir(data).removeRecursively());
        const QString log = calls::recentLogPathFor(m_dir.path());
        QCOMPARE(log, data + "/recentcall.txt");
        // Made for it, and like the log for the user alone, also when rewritten.
        QCOMPARE(modeOf(data), 0700);
        QCOMPARE(calls::readRecentCalls(log), QStringList());
        QCOMPARE(modeOf(log), 0600);
        QVERIFY(
            QFile::setPermissions(log, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        QVERIFY(calls::addRecentCall(log, "600--Duration: 0:0:4"));
        QCOMPARE(modeOf(log), 0600);
        // A folder an older version left open to others is closed.
        QVERIFY(QFile::setPermissions(data, QFile::Permissions(0x7755)));
        QCOMPARE(calls::recentLogPathFor(m_dir.path()), log);
        QCOMPARE(modeOf(data), 0700);
        // A log already beside the program stays in use there.
        write("600--Duration: 0:0:4\r\n");
        QCOMPARE(calls::recentLogPathFor(m_dir.path()), path());
    }

    void logIsReplacedWholeNeverRewrittenInPlace() {
        // The new log is written to a temporary file and renamed over the old one, so a crash or
        // a full disk part-way leaves the old file: the file after an update is a new one.
        write("old--Duration: 0:0:9\r\n");
        const auto inodeOf = [this] {
            struct stat info {};
            return ::stat(QFile::encodeName(path()).constData(), &info) == 0 ? info.st_ino
                                                                             : ino_t(0);
        };
        const ino_t before = inodeOf();
        QVERIFY(calls::addRecentCall(path(), "new--Duration: 0:0:1"));
        QVERIFY(inodeOf() != before);
        QCOMPARE(contents(), QByteArray("new--Duration: 0:0:1\r\nold--Duration: 0:0:9\r\n"));
        QVERIFY(QDir(m_dir.path()).entryList(QDir::Files).size() == 1); // no temporary file left
    }

    // Each call goes on top of what the log holds when it is written, holding the log's lock:
    // a call another copy of the program logged meanwhile stays, and while the other copy holds
    // the lock the log is not written over.
    void aSecondWriterLosesNothing() {
        QVERIFY(calls::addRecentCall(path(), "1--Duration: 0:0:1"));
        write("2--Duration: 0:0:2\r\n" + contents()); // the other copy's call
        QVERIFY(calls::addRecentCall(path(), "3--Duration: 0:0:3"));
        const QByteArray three =
            "3--Duration: 0:0:3\r\n2--Duration: 0:0:2\r\n1--Duration: 0:0:1\r\n";
        QCOMPARE(contents(), three);
        {
            const platform::FileWriteLock other(path());
            QVERIFY(other.isLocked());
            QString error;
            QVERIFY(!calls::addRecentCall(path(), "4--Duration: 0:0:4", &error));
            QVERIFY2(error.contains("another copy of the program is writing it"),
                     qPrintable(error));
            QCOMPARE(contents(), three);
        }
        QVERIFY(calls::addRecentCall(path(), "4--Duration: 0:0:4"));
        QCOMPARE(contents(), "4--Duration: 0:0:4\r\n" + three);
    }

    // A named pipe in place of the recent-call log or the program's log holds nothing up (opened,
    // it would wait for a writer), is told once, and stays as it is.
    void pipesInPlaceOfTheLogsAreLeftAlone() {
        const auto isPipe = [](const QString &pipe) {
            struct stat info {};
            return ::stat(QFile::encodeName(pipe).constData(), &info) == 0 &&
                   S_ISFIFO(info.st_mode);
        };
        const QString programLog = platform::programLogPath();
        const auto told = [&programLog](const QByteArray &what) {
            return readBytes(programLog).count(what);
        };
        QCOMPARE(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
        const qsizetype toldBefore =
            told("recentcall.txt could not be read: it is not a regular file");
        bool complete = true;
        QCOMPARE(calls::readRecentCalls(path(), &complete), QStringList());
        QVERIFY(!complete);
        QCOMPARE(calls::readRecentCalls(path()), QStringList());
        QCOMPARE(told("recentcall.txt could not be read: it is not a regular file"),
                 toldBefore + 1);
        QString error;
        QVERIFY(!calls::addRecentCall(path(), "1--Duration: 0:0:1", &error));
        QCOMPARE(error, QStringLiteral("it could not be read: it is not a regular file"));
        QVERIFY(isPipe(path()));

        // The program's log: told once on the standard error.
        const QString kept = programLog + ".kept";
        QFile::remove(kept);
        QVERIFY(!QFile::exists(programLog) || QFile::rename(programLog, kept));
        QCOMPARE(::mkfifo(QFile::encodeName(programLog).constData(), 0600), 0);
        QTemporaryFile stderrCopy;
        QVERIFY(stderrCopy.open());
        std::fflush(stderr);
        const int ownStderr = ::dup(STDERR_FILENO);
        ::dup2(stderrCopy.handle(), STDERR_FILENO);
        platform::logError("test", "one");
        platform::logError("test", "two");
        std::fflush(stderr);
        ::dup2(ownStderr, STDERR_FILENO);
        ::close(ownStderr);
        QCOMPARE(
            readBytes(stderrCopy.fileName()).count("cannot be written: it is not a regular file"),
            1);
        QVERIFY(isPipe(programLog));
        QVERIFY(QFile::remove(programLog));
        QVERIFY(!QFile::exists(kept) || QFile::rename(kept, programLog));
    }

    void aFullDiskLeavesTheOldLog() {
        ScratchMount disk;
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        const QString log = disk.filePath("recentcall.txt");
        QVERIFY(calls::addRecentCall(log, "old--Duration: 0:0:9"));
        QVERIFY(disk.fill() > 0);
        QVERIFY(!calls::addRecentCall(log, "new--Duration: 0:0:1"));
        QCOMPARE(calls::readRecentCalls(log), QStringList{"old--Duration: 0:0:9"});
    }
};

QTEST_GUILESS_MAIN(TestCallLog)
#include "tst_calllog.moc"
