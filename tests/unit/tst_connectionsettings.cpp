#include "connectionsettings.h"
#include "filebytes.h"
#include "settingsstore.h"

#include <QtTest>

// The connection settings in Kirrow.ini's [Connection]: what a missing file and a hand-edited one
// read as, what the dialog saves, and which STUN servers it refuses and why.
class TestConnectionSettings : public QObject {
    Q_OBJECT

    static void writeFile(const QByteArray &text) {
        QDir().mkpath(QFileInfo(account::settingsFilePath()).absolutePath());
        QFile file(account::settingsFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

private slots:
    void init() { QFile::remove(account::settingsFilePath()); }

    // Defaults that work at a typical provider: no STUN, no ICE, SRTP when the far end takes it,
    // IPv6 on.
    void noFileReadsAsTheDefaults() {
        const rtc::ConnectionOptions options = account::readConnectionOptions();
        QCOMPARE(options.stunServer, QString());
        QCOMPARE(options.ice, false);
        QCOMPARE(options.encryption, rtc::RTCEN_WHEN_POSSIBLE);
        QCOMPARE(options.ipv6, true);
    }

    // Saved in one section, in the words the settings use, beside the login, and read back.
    void savedOptionsReadBack() {
        account::writeEntry(account::kAccountApp, "1001");
        const rtc::ConnectionOptions options{"stun.example.net:3479", true, rtc::RTCEN_ALWAYS,
                                             false};
        account::saveConnectionOptions(options);
        QCOMPARE(account::readConnectionOptions(), options);
        const QString text = QString::fromUtf8(readBytes(account::settingsFilePath()));
        for (const char *line : {"[Connection]", "StunServer=stun.example.net:3479", "Ice=true",
                                 "Encryption=Always", "IPv6=false"})
            QVERIFY2(text.contains(QLatin1String(line)), qPrintable(text));
        QCOMPARE(account::readEntry(account::kAccountApp), QStringLiteral("1001"));
        for (const rtc::RTC_ENCRYPTION encryption : {rtc::RTCEN_OFF, rtc::RTCEN_WHEN_POSSIBLE}) {
            account::saveConnectionOptions({QString(), false, encryption, true});
            QCOMPARE(account::readConnectionOptions().encryption, encryption);
        }
    }

    // Values the dialog never writes are the defaults, each on its own.
    void handEditedUnknownValuesAreTheDefaults() {
        writeFile("[Connection]\nStunServer=stun://x y\nIce=maybe\nEncryption=Sometimes\n"
                  "IPv6=TRUE\n");
        QCOMPARE(account::readConnectionOptions(), rtc::ConnectionOptions{});
        writeFile("[Connection]\nEncryption=off\nIce=True\n");
        const rtc::ConnectionOptions read = account::readConnectionOptions();
        QCOMPARE(read.encryption, rtc::RTCEN_OFF);
        QCOMPARE(read.ice, true);
    }

    void stunServerEntries_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("problem"); // a part of the message; empty when taken
        QTest::newRow("none") << ""
                              << "";
        QTest::newRow("name") << "stun.example.net"
                              << "";
        QTest::newRow("name and port") << " stun.l.example.com:19302 "
                                       << "";
        QTest::newRow("IPv4") << "192.0.2.7:3478"
                              << "";
        QTest::newRow("IPv6") << "[2001:db8::1]:3478"
                              << "";
        QTest::newRow("scheme") << "stun:stun.example.net"
                                << "without \"stun:\"";
        QTest::newRow("space") << "stun example.net"
                               << "spaces";
        QTest::newRow("port 0") << "stun.example.net:0"
                                << "\"0\" is not a number from 1 to 65535";
        QTest::newRow("port word") << "stun.example.net:abc"
                                   << "\"abc\" is not a number";
        QTest::newRow("port too big") << "stun.example.net:70000"
                                      << "\"70000\"";
        QTest::newRow("no host") << ":3478"
                                 << "name or address is missing";
        QTest::newRow("bad name") << "stun_server!"
                                  << "\"stun_server!\" is not a host name";
        QTest::newRow("bad IPv4") << "192.0.2.300"
                                  << "\"192.0.2.300\" is not a host name";
        QTest::newRow("bare IPv6") << "2001:db8::1"
                                   << "in brackets";
        QTest::newRow("bad IPv6") << "[2001:db8::zz]:3478"
                                  << "\"2001:db8::zz\" is not an IPv6";
    }
    void stunServerEntries() {
        QFETCH(QString, entry);
        QFETCH(QString, problem);
        const QString said = account::stunServerProblem(entry);
        if (problem.isEmpty())
            QCOMPARE(said, QString());
        else
            QVERIFY2(said.contains(problem), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(TestConnectionSettings)
#include "tst_connectionsettings.moc"
