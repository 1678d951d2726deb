// One call between two copies of the program itself, each started and worked as a user does
// (logged in through its dialog, the dial pad, Call and End clicked with xdotool where a screen
// reader says they stand), through the exchange given: the caller dials the callee, who answers
// with Call. While the call is up, bench/m2e.py measures its mouth-to-ear delay on the test
// desktop's sound server, and its result line is printed on standard output.
//
//     bench_m2e   (environment: M2E_SERVER host:port, M2E_SCRIPT path of m2e.py,
//                  M2E_CALLER / M2E_CALLEE "account:password", M2E_CHIRPS, M2E_KEEP folder,
//                  M2E_DEVICES "speaker|microphone": the engine's devices chosen in the settings
//                  of both, as the tuning wizard keeps them; none: the desktop's default;
//                  M2E_HEADSET 1: both with the wizard's "I use a headset", no echo cancelling;
//                  M2E_DIAL the number the caller dials, the callee's account when unset;
//                  M2E_ENCRYPTION the Connection dialog's choice in both, as it keeps it: "Off"
//                  or, when unset, its default "WhenPossible", and then both must show the
//                  encrypted call's mark before anything is measured)
//
// It is a Qt Test program only for the drivers of the end-to-end tests it reuses, which report
// through Qt Test; bench/run starts it on scripts/test-env's desktop.

#include "kirrowprogram.h"
#include "testdesktop.h"
#include "xdo.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QtTest>

namespace {

constexpr int kTimeoutMs = 20000;
const QString kButton = QStringLiteral("push button");
const QString kEncryptedMark = QStringLiteral("Encrypted call");

QString setting(const char *name, const QString &fallback = QString()) {
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

// The devices of the calls, a headset and the calls' encryption, chosen in the program's settings
// before it starts, as the tuning wizard and the Connection dialog leave them.
void chooseSettings(KirrowProgram &kirrow, const QString &devices, bool headset,
                    const QString &encryption) {
    if (devices.isEmpty() && !headset && encryption.isEmpty())
        return;
    const QFileInfo file(kirrow.settingsFile());
    QDir().mkpath(file.path());
    QFile::setPermissions(file.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSettings settings(file.filePath(), QSettings::IniFormat);
    if (!devices.isEmpty()) {
        settings.setValue("Audio/Speaker", devices.section('|', 0, 0));
        settings.setValue("Audio/Microphone", devices.section('|', 1, 1));
    }
    if (headset)
        settings.setValue("Audio/EchoCancelling", "false");
    if (!encryption.isEmpty())
        settings.setValue("Connection/Encryption", encryption);
    settings.sync();
    QFile::setPermissions(file.filePath(), QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace

class BenchMouthToEar : public QObject {
    Q_OBJECT

private slots:
    void call() {
        REQUIRE_TEST_DESKTOP();
        const QString server = setting("M2E_SERVER");
        const QString script = setting("M2E_SCRIPT");
        QVERIFY2(!server.isEmpty() && !script.isEmpty(), "M2E_SERVER and M2E_SCRIPT are needed");
        const QStringList caller = setting("M2E_CALLER", "1001:kirrow1001").split(':');
        const QStringList callee = setting("M2E_CALLEE", "1004:kirrow1004").split(':');

        const QString devices = setting("M2E_DEVICES");
        const bool headset = setting("M2E_HEADSET") == QLatin1String("1");
        const QString encryption = setting("M2E_ENCRYPTION");
        const QString dial = setting("M2E_DIAL", callee.value(0));
        KirrowProgram answering(QStringLiteral(KIRROW_BINARY));
        chooseSettings(answering, devices, headset, encryption);
        answering.startRegistered(server, callee.value(0), callee.value(1));
        if (QTest::currentTestFailed())
            return;
        // The two main windows side by side, so that a click meant for one never lands on the
        // other.
        const QString answeringWindow = answering.mainWindow();
        xdo::run({"windowmove", "--sync", answeringWindow, "560", "40"});

        KirrowProgram calling(QStringLiteral(KIRROW_BINARY));
        chooseSettings(calling, devices, headset, encryption);
        calling.startRegistered(server, caller.value(0), caller.value(1));
        if (QTest::currentTestFailed())
            return;
        xdo::run({"windowmove", "--sync", calling.mainWindow(), "0", "40"});

        for (QChar key : dial)
            calling.click(key, kButton);
        calling.click(QStringLiteral("Call"), kButton);
        QTRY_COMPARE_WITH_TIMEOUT(answering.statusLine(), QStringLiteral("INCOMING"), kTimeoutMs);
        answering.click(QStringLiteral("Call"), kButton);
        QTRY_VERIFY_WITH_TIMEOUT(answering.statusLine().startsWith(QLatin1String("CONNECTED")),
                                 kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(calling.statusLine().startsWith(QLatin1String("CONNECTED")),
                                 kTimeoutMs);
        // Encrypted unless turned off: the mark shows once both ends agreed on the keys, which
        // over UDP takes a second offer and answer after the call connected.
        if (encryption.compare(QLatin1String("Off"), Qt::CaseInsensitive) != 0) {
            for (KirrowProgram *end : {&calling, &answering})
                QTRY_VERIFY_WITH_TIMEOUT(!end->control(kEncryptedMark).isNull(), kTimeoutMs);
        }

        QProcess measure;
        measure.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments{script,     "measure",
                              "--caller", QString::number(calling.pid()),
                              "--callee", QString::number(answering.pid()),
                              "--chirps", setting("M2E_CHIRPS", "20")};
        if (const QString keep = setting("M2E_KEEP"); !keep.isEmpty())
            arguments << "--keep" << keep;
        measure.start(QStringLiteral("/usr/bin/python3"), arguments);
        QVERIFY(measure.waitForFinished(180000));
        const QByteArray result = measure.readAllStandardOutput();
        QVERIFY2(measure.exitCode() == 0 && result.startsWith("m2e "), result.constData());
        fputs(result.constData(), stdout);
        fflush(stdout);

        calling.click(QStringLiteral("End Call"), kButton);
        QTRY_COMPARE_WITH_TIMEOUT(answering.statusLine(), QStringLiteral("DISCONNECTED"),
                                  kTimeoutMs);
        calling.close();
        answering.close();
    }
};

QTEST_MAIN(BenchMouthToEar)
#include "bench_m2e.moc"
