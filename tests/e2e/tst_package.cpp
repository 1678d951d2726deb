#include "kamailioserver.h"
#include "kirrowprogram.h"
#include "testdesktop.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {

constexpr int kToolTimeoutMs = 240000;

// Runs a tool to its end; its standard output, or a test failure with what it said.
QString runTool(const QString &tool, const QStringList &arguments, int *exitCode = nullptr) {
    QProcess process;
    process.setWorkingDirectory(QStringLiteral(KIRROW_BUILD_DIR));
    process.start(tool, arguments);
    const bool finished = process.waitForFinished(kToolTimeoutMs);
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    if (exitCode)
        *exitCode = finished ? process.exitCode() : -1;
    else
        [&] {
            QVERIFY2(finished && process.exitCode() == 0,
                     qPrintable(tool + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) +
                                QStringLiteral(" failed: ") + output + errors));
        }();
    return output + errors;
}

} // namespace

// The Debian package of this build, made by cpack as a packager makes it: what it installs, its
// desktop entry, and the program unpacked from it, started through its bin/kirrow link, finding
// its engine beside itself and logging in with it.
class TestPackage : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_package;
    QString m_root;

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        for (const char *tool : {"cpack", "dpkg-deb", "dpkg-shlibdeps", "desktop-file-validate"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is missing").arg(QLatin1String(tool))));
        runTool(QStringLiteral("cpack"), {"-G", "DEB", "-B", m_dir.filePath("out")});
        const QStringList made =
            QDir(m_dir.filePath("out")).entryList({QStringLiteral("kirrow_*.deb")}, QDir::Files);
        QCOMPARE(made.size(), 1);
        m_package = m_dir.filePath("out/" + made.first());
        m_root = m_dir.filePath("root");
        runTool(QStringLiteral("dpkg-deb"), {"-x", m_package, m_root});
    }

    void packageHoldsTheDesktopProgram() {
        const QString listing = runTool(QStringLiteral("dpkg-deb"), {"-c", m_package});
        QStringList expected = {
            "./usr/bin/kirrow -> ../libexec/kirrow/kirrow", "./usr/libexec/kirrow/kirrow",
            "./usr/libexec/kirrow/libkirrow-engine.so",     "./usr/libexec/kirrow/ding.wav",
            "./usr/share/applications/kirrow.desktop",
        };
        for (int size : {16, 24, 32, 48, 64, 128, 256})
            expected << QStringLiteral("./usr/share/icons/hicolor/%1x%1/apps/kirrow.png").arg(size);
        for (const QString &path : expected)
            QVERIFY2(listing.contains(QLatin1Char(' ') + path + QLatin1Char('\n')) ||
                         listing.contains(QLatin1Char(' ') + path + QStringLiteral(" ->")),
                     qPrintable(path + QStringLiteral(" is not in the package:\n") + listing));
        // The libraries the program and its engine link to come with the package's dependencies;
        // Qt's network library is not one of them (it cost every start its loading).
        const QString depends = runTool(QStringLiteral("dpkg-deb"), {"-f", m_package, "Depends"});
        for (const char *library :
             {"liblinphone", "libqt6widgets6", "libfontconfig1", "libasound2"})
            QVERIFY2(depends.contains(QLatin1String(library)), qPrintable(depends));
        QVERIFY2(!depends.contains(QLatin1String("libqt6network6")), qPrintable(depends));
        QVERIFY(!runTool(QStringLiteral("dpkg-deb"), {"-f", m_package, "Maintainer"})
                     .trimmed()
                     .isEmpty());

        int validity = -1;
        const QString said =
            runTool(QStringLiteral("desktop-file-validate"),
                    {m_root + "/usr/share/applications/kirrow.desktop"}, &validity);
        QVERIFY2(validity == 0 && said.trimmed().isEmpty(), qPrintable(said));
        // The desktop opens sip: and tel: links with the program.
        QFile entry(m_root + "/usr/share/applications/kirrow.desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
        const QList<QByteArray> lines = entry.readAll().split('\n');
        QVERIFY(lines.contains("Exec=kirrow %u"));
        QVERIFY(lines.contains("MimeType=x-scheme-handler/sip;x-scheme-handler/tel;"));
    }

    void unpackedProgramLogsInWithItsEngine() {
        KamailioServer server(QList<KamailioServer::Account>{{"1001", "kirrow1001"}});
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        QProcess kirrow;
        const auto stop = qScopeGuard([&kirrow] {
            kirrow.kill();
            kirrow.waitForFinished();
        });
        startProgramAndLogIn(kirrow, m_root + "/usr/bin/kirrow", server.address(), "1001",
                             "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(server.contacts("1001").size(), 1, 20000);
        kirrow.terminate();
        QVERIFY(kirrow.waitForFinished(20000));
        QCOMPARE(kirrow.exitCode(), 0);
    }
};

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
