#include "instancechannel.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// The channel by which a start of the program hands over to the one already running.
class TestInstanceChannel : public QObject {
    Q_OBJECT

private slots:
    // From its making to its listening a start holds the lock that a start at the same moment
    // waits for, so that the two do not both take the socket; it lets go once it listens, or as
    // it goes without listening. One that ends gives the socket up to the next start.
    void startLockIsHeldUntilListening() {
        QTemporaryDir runtime;
        const QString path = runtime.filePath(QStringLiteral("kirrow-test"));
        const auto lockIsFree = [&path] {
            const int fd = ::open(QFile::encodeName(path + ".lock").constData(),
                                  O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            ::close(fd);
            return free;
        };
        {
            platform::InstanceChannel first(path);
            QVERIFY(!lockIsFree());
            QVERIFY(first.listen());
            QVERIFY(lockIsFree());
        }
        {
            platform::InstanceChannel unused(path);
            QVERIFY(!lockIsFree());
        }
        QVERIFY(lockIsFree());
        // The settings folder names the socket however it is written, made or not yet.
        QVERIFY(QFile::link(runtime.path(), runtime.filePath("link")));
        const QString settings = runtime.filePath("link/config/Kirrow");
        const QString name = platform::InstanceChannel::socketNameFor(settings);
        QVERIFY(QDir().mkpath(settings));
        QCOMPARE(platform::InstanceChannel::socketNameFor(settings), name);
        QCOMPARE(platform::InstanceChannel::socketNameFor(runtime.filePath("config/Kirrow/")),
                 name);
        QVERIFY(platform::InstanceChannel::socketNameFor(runtime.filePath("config")) != name);
        // One that is ending lets go of the socket at once, and leaves the next start's alone.
        auto ending = std::make_unique<platform::InstanceChannel>(path);
        QVERIFY(ending->listen());
        ending->stopListening();
        platform::InstanceChannel next(path);
        QVERIFY(next.listen());
        ending.reset();
        QVERIFY(QFileInfo::exists(path));
        QVERIFY(!platform::InstanceChannel(path).listen());
    }
};

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instancechannel.moc"
