#include "settingsstore.h"

#include <QtTest>

#include <sys/stat.h>

// The saved account: addressing, defaults, whole-application deletion and who may read it.
class TestSettingsStore : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

    static int modeOf(const QString &path) {
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return -1;
        return info.st_mode & 0777;
    }

private slots:
    void initTestCase() {
        // Before the first use of the store, which remembers the folder.
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

    void valuesComeBackExactly() {
        const QString odd = QStringLiteral(" p\"a&s<s;,=\\ @x ünï ");
        account::writeEntry("Password", odd);
        QCOMPARE(account::readEntry("Password"), odd);
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
        // Rewrites keep the mode.
        account::writeEntry("Account", "1001");
        account::DeleteSetting("Account");
        QCOMPARE(modeOf(account::settingsFilePath()), 0600);
    }

    void unwritableStoreIsAnError() {
        account::writeEntry("Account", "1001");
        const QString path = account::settingsFilePath();
        // A folder where the file should be: the store cannot be written.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkpath(path));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, account::writeEntry("Account", "2002"));
        QVERIFY(QDir(path).removeRecursively());
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
