#include "instancechannel.h"

#include <QtTest>

#include <algorithm>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
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

    // Connections that never say anything (a stuck or hostile local program) neither pile up as
    // open files nor keep a real start from being heard.
    void silentCallersAreLetGo() {
        QTemporaryDir runtime;
        const QString path = runtime.filePath(QStringLiteral("kirrow-test"));
        platform::InstanceChannel running(path);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &platform::InstanceChannel::received);
        std::vector<int> silent;
        const auto hungUp = [](int fd) {
            char byte;
            return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
        };
        for (int i = 0; i < 40; ++i) {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, QFile::encodeName(path).constData(),
                     sizeof address.sun_path);
            silent.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
            QCOMPARE(
                ::connect(silent.back(), reinterpret_cast<sockaddr *>(&address), sizeof address),
                0);
            QCoreApplication::processEvents();
        }
        QTRY_VERIFY(hungUp(silent.front())); // the oldest, to make room
        std::thread later([&path] { platform::InstanceChannel(path).handOver("600"); });
        QTRY_COMPARE(received.size(), 1);
        later.join();
        QCOMPARE(received.first().first().toByteArray(), QByteArray("600"));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(silent.begin(), silent.end(), hungUp), 10000);
        for (int fd : silent)
            ::close(fd);
    }
};

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instancechannel.moc"
