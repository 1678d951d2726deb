#include "filebytes.h"
#include "settingsstore.h"

#include <QtTest>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

// The saved account: addressing, defaults, whole-application deletion, who may read it, the
// INI text QSettings reads and writes, files edited by hand, and writes killed half way.
class TestSettingsStore : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase() {
        // The store follows XDG_CONFIG_HOME: a folder of this test's own.
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
    }

    void init() {
        QFile::remove(account::settingsFilePath());
        QDir(QFileInfo(account::settingsFilePath()).absolutePath()).removeRecursively();
    }

    void absentEntriesReadAsDefault() {
        QCOMPARE(account::GetSetting("Sip", "Parameters", "Validation"), QString());
        QCOMPARE(account::GetSetting("Sip", "Parameters", "Validation", "dflt"),
                 QStringLiteral("dflt"));
    }

    void entriesAreAddressedByApplicationSectionAndKey() {
        account::SaveSetting("Sip", "Parameters", "Validation", "sip.example.net");
        account::SaveSetting("Sip", "Other", "Validation", "x");
        account::SaveSetting("Account", "Parameters", "Validation", "1001");
        QCOMPARE(account::GetSetting("Sip", "Parameters", "Validation"),
                 QStringLiteral("sip.example.net"));
        QCOMPARE(account::GetSetting("Sip", "Other", "Validation"), QStringLiteral("x"));
        QCOMPARE(account::readEntry("Account"), QStringLiteral("1001"));
        QCOMPARE(account::GetSetting("Account", "Parameters", "Other"), QString());
    }

    // Characters the INI text gives meaning to, at either end of a value too; a password ending
    // in a backslash and a lone CR was once saved and then read back as missing.
    void valuesComeBackExactly_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("punctuation") << QStringLiteral(" p\"a&s<s;,=\\ @x ünï ");
        QTest::newRow("backslash, CR") << QStringLiteral("ab\\\r");
        QTest::newRow("backslashes, CR LF") << QStringLiteral("ab\\\\\r\n");
        QTest::newRow("tab, CR, LF") << QStringLiteral("a\tb\rc\nd\r\n");
        QTest::newRow("leading space") << QStringLiteral("  lead");
        QTest::newRow("comment marks") << QStringLiteral(";semi#hash");
        QTest::newRow("equals, quotes") << QStringLiteral("=a=\"b\"=");
        QTest::newRow("only a quote") << QStringLiteral("\"");
        QTest::newRow("ends in a backslash") << QStringLiteral("pw\\");
    }
    void valuesComeBackExactly() {
        QFETCH(QString, value);
        account::writeEntry("Password", value);
        account::writeEntry("Save", "yes"); // an entry after it reads as it was, too
        QCOMPARE(account::readEntry("Password"), value);
        QCOMPARE(account::readEntry("Save"), QStringLiteral("yes"));
    }

    void deletionTakesTheWholeApplicationOnly() {
        account::SaveSetting("Password", "Parameters", "Validation", "pw");
        account::SaveSetting("Password", "Other", "Key", "pw2");
        account::writeEntry("Save", "no");
        account::DeleteSetting("Password");
        QCOMPARE(account::GetSetting("Password", "Parameters", "Validation"), QString());
        QCOMPARE(account::GetSetting("Password", "Other", "Key"), QString());
        QCOMPARE(account::readEntry("Save"), QStringLiteral("no"));
        account::DeleteSetting("NeverWritten"); // nothing there: no error
    }

    void fileIsReadableByTheUserAlone() {
        account::writeEntry("Password", "secret");
        QCOMPARE(modeOf(account::settingsFilePath()), 0600);
        QCOMPARE(modeOf(QFileInfo(account::settingsFilePath()).absolutePath()), 0700);
        // Rewrites keep the mode, and take it back from a file something else opened to others.
        account::writeEntry("Account", "1001");
        account::DeleteSetting("Account");
        QCOMPARE(modeOf(account::settingsFilePath()), 0600);
        QVERIFY(QFile::setPermissions(account::settingsFilePath(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        account::writeEntry("Account", "2002");
        QCOMPARE(modeOf(account::settingsFilePath()), 0600);
    }

    void unwritableStoreIsAnError() {
        account::writeEntry("Account", "1001");
        const QString path = account::settingsFilePath();
        // A folder where the file should be: the store cannot be written.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkpath(path));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, account::writeEntry("Account", "2002"));
        // The message names the file and the reason; reads find nothing, and nothing hangs.
        try {
            account::saveLogin("pw", "1001", "sip", "yes");
            QFAIL("a folder in place of the file was written");
        } catch (const std::runtime_error &error) {
            const QString message = QString::fromLocal8Bit(error.what());
            QVERIFY2(message.contains(path) &&
                         message.contains(QString::fromLocal8Bit(std::strerror(EISDIR))),
                     error.what());
        }
        QCOMPARE(account::readEntry("Account"), QString());
        QVERIFY(QDir(path).removeRecursively());
        // A pipe is neither waited on nor written.
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QCOMPARE(account::readEntry("Account"), QString());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, account::writeEntry("Account", "2002"));
        QVERIFY(QFile::remove(path));
    }

    // A file the user may not read reads as nothing and is never written over. A write that
    // fails (a folder the user may not write) is not taken for saved: not read back, nor
    // written with the next write.
    void failedWritesChangeNothing() {
        if (const QString folder = unprivileged::folder(); !folder.isEmpty()) {
            // The run as nobody, in a settings folder that is nobody's and not writable.
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(QFileInfo(folder).absolutePath()));
            const QString path = account::settingsFilePath();
            QCOMPARE(account::readEntry("Account"), QStringLiteral("1001"));
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, account::writeEntry("Account", "2002"));
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, account::eraseAccount());
            QCOMPARE(account::readEntry("Account"), QStringLiteral("1001"));
            QVERIFY(QFile::setPermissions(folder,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            account::writeEntry("Sip", "sip.example.net");
            QCOMPARE(QSettings(path, QSettings::IniFormat).value("Account/Parameters/Validation"),
                     QVariant("1001"));
            QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
            QCOMPARE(account::readEntry("Sip"), QString());
            try {
                account::saveLogin("pw", "2002", "sip", "yes");
                QFAIL("a file that could not be read was written over");
            } catch (const std::runtime_error &error) {
                QVERIFY2(QString::fromLocal8Bit(error.what()).contains(path), error.what());
            }
            return;
        }
        if (!unprivileged::needed())
            QSKIP("checked as nobody: run as root");
        QTemporaryDir config(QDir::tempPath() + "/kirrow-settings-XXXXXX");
        QVERIFY(QFile::setPermissions(config.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ExeOwner | QFile::ExeOther));
        const QString folder = config.filePath("Kirrow");
        QVERIFY(QDir().mkdir(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner));
        const QString path = folder + "/Kirrow.ini";
        QVERIFY(writeBytes(path, "[Account]\nParameters\\Validation=1001\n"));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(unprivileged::runAsNobody(QTest::currentTestFunction(), folder), QString());
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(readBytes(path), QByteArray("[Account]\nParameters\\Validation=1001\n\n"
                                             "[Sip]\nParameters\\Validation=sip.example.net\n"));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"Kirrow.ini"});
    }

    // Entries the program does not know stay (as QSettings writes them; comments do not). A file
    // QSettings cannot read all of would lose what it cannot read, so it is not written at all:
    // the write fails, naming the file, and the file stays as it was, its readable entries read.
    void unknownEntriesStayAndGarbledFilesAreNotWritten() {
        const QString path = account::settingsFilePath();
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QVERIFY(writeBytes(path, "; written by hand\n"
                                 "[Other]\n"
                                 "  spaced key = kept , as is ;note\n"
                                 "[Password]\n"
                                 "Parameters\\Validation=old\r\nExtra=1\n"));
        account::writeEntry("Password", "new");
        account::writeEntry("Account", "1001");
        QCOMPARE(readBytes(path), QByteArray("[Account]\nParameters\\Validation=1001\n\n"
                                             "[Other]\nspaced%20key=kept, as is\n\n"
                                             "[Password]\nExtra=1\nParameters\\Validation=new\n"));
        account::DeleteSetting("Password");
        QCOMPARE(QSettings(path, QSettings::IniFormat).allKeys(),
                 (QStringList{"Account/Parameters/Validation", "Other/spaced key"}));

        for (const QByteArray &garbled :
             {QByteArray("a line without an equals sign\n"), QByteArray("[Unclosed\nk=v\n")}) {
            const QByteArray before = "[Account]\nParameters\\Validation=1001\n" + garbled;
            QVERIFY(writeBytes(path, before));
            QCOMPARE(account::readEntry("Account"), QStringLiteral("1001"));
            try {
                account::saveLogin("pw", "2002", "sip", "yes");
                QFAIL("a file with lines that are not settings was written over");
            } catch (const std::runtime_error &error) {
                QVERIFY2(QString::fromLocal8Bit(error.what()).contains(path), error.what());
            }
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, account::eraseAccount());
            QCOMPARE(readBytes(path), before);
            QCOMPARE(account::readEntry("Account"), QStringLiteral("1001"));
        }
    }

    // Whatever QSettings wrote reads the same here, and what is written here is what QSettings
    // would write, byte for byte, so files of earlier versions and of this one are one format.
    void theFileIsQSettingsIni() {
        const QString path = account::settingsFilePath();
        QCOMPARE(
            QSettings(QSettings::IniFormat, QSettings::UserScope, "Kirrow", "Kirrow").fileName(),
            path);
        QTemporaryDir other;
        const QStringList values = {" lead",
                                    "trail ",
                                    "\"quoted\"",
                                    "back\\slash\\",
                                    "a,b",
                                    "semi;colon",
                                    "x=y",
                                    "@at",
                                    "@@two",
                                    "@String(x)",
                                    "@Invalid()",
                                    "tab\there\nnewline",
                                    "ünïcödé 😀",
                                    QString::fromUtf8("\x01"
                                                      "1f\x7f"),
                                    QString::fromLatin1("nul\0"
                                                        "7",
                                                        5),
                                    "",
                                    "\t"};
        for (int i = 0; i < values.size(); ++i) {
            QFile::remove(path);
            account::writeEntry("Password", values[i]);
            const QString theirs = other.filePath(QString::number(i) + ".ini");
            {
                QSettings settings(theirs, QSettings::IniFormat);
                settings.setValue("Password/Parameters/Validation", values[i]);
            }
            QCOMPARE(readBytes(path), readBytes(theirs));
            QCOMPARE(account::readEntry("Password"), values[i]);
        }
        // Of entries for one key, the last in its own section counts, and a write leaves one.
        QVERIFY(writeBytes(path,
                           "[General]\nPassword\\Parameters\\Validation=g\n[Password]\n"
                           "Parameters\\Validation=p1\n[Password]\nParameters\\Validation=p2\n"));
        QCOMPARE(account::readEntry("Password"), QStringLiteral("p2"));
        account::writeEntry("Password", "p3");
        QCOMPARE(readBytes(path), QByteArray("[Password]\nParameters\\Validation=p3\n"));
    }

    // A file as the program wrote it before it kept its settings through QSettings, byte for
    // byte, reads whole, and a write keeps every entry in it.
    void aFileOfTheEarlierVersionReads() {
        const QByteArray earlier = "[Password]\n"
                                   "Parameters\\Validation=\"  p=w;\\\"q\\\"\\\\ \xc3\xbc"
                                   "n\xc3\xaf \xf0\x9f\x98\x80 \"\n"
                                   "\n"
                                   "[Account]\n"
                                   "Parameters\\Validation=1001\n"
                                   "Other\\Key=\"@@at, tab\\there\"\n"
                                   "\n"
                                   "[Sip]\n"
                                   "Parameters\\Validation=\"sip.example.net;transport=tcp\"\n"
                                   "Parameters\\Empty=\n"
                                   "\n"
                                   "[Save]\n"
                                   "Parameters\\Validation=yes\n"
                                   "Parameters\\Trailing=end\\\\\n"
                                   "\n"
                                   "[Audio]\n"
                                   "Speaker=PulseAudio Unknown: Speakers\n"
                                   "Ringer=\n"
                                   "Microphone=\"ALSA Unknown: hw:1,0 =;\"\n";
        const QString path = account::settingsFilePath();
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QVERIFY(writeBytes(path, earlier));
        const auto checkEveryValue = [] {
            QCOMPARE(account::readEntry("Password"), QStringLiteral("  p=w;\"q\"\\ ünï 😀 "));
            QCOMPARE(account::readEntry("Account"), QStringLiteral("1001"));
            QCOMPARE(account::GetSetting("Account", "Other", "Key"),
                     QStringLiteral("@at, tab\there"));
            QCOMPARE(account::readEntry("Sip"), QStringLiteral("sip.example.net;transport=tcp"));
            QCOMPARE(account::GetSetting("Sip", "Parameters", "Empty", "absent"), QString());
            QCOMPARE(account::readEntry("Save"), QStringLiteral("yes"));
            QCOMPARE(account::GetSetting("Save", "Parameters", "Trailing"),
                     QStringLiteral("end\\"));
            QCOMPARE(account::readAudioDevices(),
                     (account::AudioDeviceChoice{"PulseAudio Unknown: Speakers", "",
                                                 "ALSA Unknown: hw:1,0 =;"}));
        };
        checkEveryValue();
        // Unchanged entries are not written; a changed one rewrites the file, every entry kept.
        account::saveLogin(QStringLiteral("  p=w;\"q\"\\ ünï 😀 "), "1001",
                           "sip.example.net;transport=tcp", "yes");
        QCOMPARE(readBytes(path), earlier);
        account::writeEntry("Save", "no");
        account::writeEntry("Save", "yes");
        checkEveryValue();
    }

    void loginIsWrittenAndErasedWhole() {
        account::writeEntry("Save", "no");
        account::saveLogin("pw", "1001", "sip.example.net", "yes");
        QCOMPARE(readBytes(account::settingsFilePath()),
                 QByteArray("[Account]\nParameters\\Validation=1001\n\n"
                            "[Password]\nParameters\\Validation=pw\n\n"
                            "[Save]\nParameters\\Validation=yes\n\n"
                            "[Sip]\nParameters\\Validation=sip.example.net\n"));
        QCOMPARE(modeOf(account::settingsFilePath()), 0600);
        // An empty entry is not the account's: only the filled ones go.
        account::writeEntry("Password", "");
        account::SaveSetting("Account", "Other", "Key", "kept with its application");
        account::eraseAccount();
        QCOMPARE(readBytes(account::settingsFilePath()),
                 QByteArray("[Password]\nParameters\\Validation=\n\n"
                            "[Save]\nParameters\\Validation=yes\n"));
        account::removeApplications({"Password", "Save"});
        QCOMPARE(readBytes(account::settingsFilePath()), QByteArray());
    }

    // The sound devices have a section of their own, written in one write, which the login's
    // erasing leaves alone.
    void audioDevicesHaveASectionOfTheirOwn() {
        account::saveLogin("pw", "1001", "sip.example.net", "yes");
        QCOMPARE(account::readAudioDevices(), account::AudioDeviceChoice{});
        const account::AudioDeviceChoice choice{"PulseAudio Unknown: Speakers", "",
                                                "ALSA Unknown: hw:1,0 =;"};
        account::saveAudioDevices(choice);
        QVERIFY(readBytes(account::settingsFilePath())
                    .contains("\n[Audio]\nMicrophone=\"ALSA Unknown: hw:1,0 =;\"\nRinger=\n"
                              "Speaker=PulseAudio Unknown: Speakers\n"));
        QCOMPARE(account::readAudioDevices(), choice);
        account::eraseAccount();
        QCOMPARE(account::readEntry("Account"), QString());
        QCOMPARE(account::readAudioDevices(), choice);
    }

    // A writer killed at any moment leaves the login it had or the new one, whole. Beside the
    // file there may stand the lock the writer held, which the next write takes over, and, when
    // the kill fell between naming the new copy and renaming it over the file, that copy: whole,
    // and the user's alone as the file is.
    void killedWritesLeaveOneWholeLogin() {
        const QString config = m_home.filePath("killed");
        const QByteArray ownConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", ownConfig); });
        const QStringList a = {"pw \"A\"", "1001", "sip.a.example", "yes"};
        const QStringList b = {"pw, B ünï longer", "2002", "sip.b.example.net", "no"};
        const QString path = account::settingsFilePath();
        const QDir folder(QFileInfo(path).absolutePath());
        account::saveLogin(a[0], a[1], a[2], a[3]);
        const QByteArray bytesA = readBytes(path);
        QElapsedTimer clock;
        clock.start();
        account::saveLogin(b[0], b[1], b[2], b[3]);
        const qint64 writeTime = clock.nsecsElapsed();
        const QByteArray bytesB = readBytes(path);
        clock.restart();
        for (int look = 0; look < 1000; ++look)
            QFileInfo::exists(path);
        // How many looks at the file a write takes (a disk that syncs slowly makes it many).
        const int looksPerWrite = int(writeTime * 1000 / std::max<qint64>(clock.nsecsElapsed(), 1));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config);
        const QString writer = QCoreApplication::applicationDirPath() + "/settingswriter";
        for (int round = 0; round < 200; ++round) {
            QProcess child;
            child.setProcessEnvironment(environment);
            child.start(writer, a + b);
            QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
            // Killed before its first write is done, or after a few.
            const int writes = round % 4;
            int done = 0;
            while (done < writes && child.waitForReadyRead(20000))
                done += child.readAllStandardOutput().count('\n');
            QVERIFY2(done >= writes, child.readAllStandardError().constData());
            // And a varied while more, up to a write's length, so the kill falls anywhere in a
            // write, not only at its start.
            for (int look = round * 97 % (looksPerWrite + 1); look > 0; --look)
                QFileInfo::exists(path);
            child.kill();
            QVERIFY(child.waitForFinished());
            // Killed between making its lock (or the lock guarding a dead writer's lock while it
            // goes) and writing its name in it, the writer leaves a lock QLockFile takes for
            // another's until it is 30 s old. Removed here, so the next round need not wait.
            for (const QString &lock : {path + ".lock", path + ".lock.rmlock"}) {
                if (readBytes(lock).isEmpty())
                    QFile::remove(lock);
            }
            const QByteArray bytes = readBytes(path);
            QVERIFY2(bytes == bytesA || bytes == bytesB, bytes.constData());
            QCOMPARE(account::readEntry("Save").isEmpty(), false);
            for (const QString &name : folder.entryList(QDir::AllEntries | QDir::Hidden |
                                                        QDir::System | QDir::NoDotAndDotDot)) {
                const QString copy = folder.filePath(name);
                QVERIFY2(name == "Kirrow.ini" || name.startsWith("Kirrow.ini.lock") ||
                             (name.startsWith("Kirrow.ini.") && modeOf(copy) == 0600 &&
                              (readBytes(copy) == bytesA || readBytes(copy) == bytesB)),
                         qPrintable(name));
            }
        }
        // The lock a killed writer left is taken over and gone after the next write.
        account::saveLogin(a[0], a[1], a[2], a[3]);
        account::saveLogin(b[0], b[1], b[2], b[3]);
        QCOMPARE(readBytes(path), bytesB);
        QVERIFY(!QFile::exists(path + ".lock"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
