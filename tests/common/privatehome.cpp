// Every test program works in folders of its own: the user's settings, phone book, call log and
// program log are never read, written or removed by a test. Linked into each test executable, so
// the folders are in place before main() and before any file path is worked out.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

struct PrivateHome {
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/kirrow-test-home-XXXXXX")};
    PrivateHome() {
        for (const char *variable :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
            const QString folder = dir.filePath(QString::fromLatin1(variable).toLower());
            QDir().mkpath(folder);
            qputenv(variable, QFile::encodeName(folder));
        }
    }
};

const PrivateHome home;

} // namespace
