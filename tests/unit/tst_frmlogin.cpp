#include "frmlogin.h"
#include "logindriver.h"
#include "settingsstore.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace account;

// The login dialog: what it offers, what it accepts, what it saves.
class TestFrmLogin : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

    static void store(const QString &server, const QString &acct, const QString &password) {
        writeEntry(kSipApp, server);
        writeEntry(kAccountApp, acct);
        writeEntry(kPasswordApp, password);
    }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8()); }
    void init() { QFile::remove(settingsFilePath()); }

    void firstStartOffersEmptyFieldsWithSaveChecked() {
        frmLogin dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Please Enter Your Pin"));
        QVERIFY(dialog.txtSip->text().isEmpty());
        QVERIFY(dialog.txtAcctNo->text().isEmpty());
        QVERIFY(dialog.txtPassword->text().isEmpty());
        QVERIFY(dialog.chkbxSaveSettings->isChecked());
        QCOMPARE(dialog.chkbxSaveSettings->text(), QStringLiteral("Save "));
        QCOMPARE(dialog.txtPassword->echoMode(), QLineEdit::Password);
        dialog.passwordToggle->trigger();
        QCOMPARE(dialog.txtPassword->echoMode(), QLineEdit::Normal);
        dialog.passwordToggle->trigger();
        QCOMPARE(dialog.txtPassword->echoMode(), QLineEdit::Password);
    }

    void dialogIsShapedFromItsSkin() {
        frmLogin dialog;
        const QImage skin = QPixmap(":/skin/login.png").toImage();
        QCOMPARE(skin.size(), QSize(216, 228));
        const QRgb transparent = skin.pixel(0, 227);
        QVERIFY(!dialog.mask().isEmpty());
        for (const QPoint p :
             {QPoint(0, 227), QPoint(0, 0), QPoint(215, 100), QPoint(108, 114), QPoint(60, 150)})
            QCOMPARE(dialog.mask().contains(p), skin.pixel(p) != transparent && p.x() != 215);
        QVERIFY(dialog.mask().contains(QPoint(108, 114)));
    }

    void storedValuesArePrefilledEvenWhenNotToBeKept() {
        store("sip.example.net", "1001", "secret");
        writeEntry(kSaveApp, "no");
        frmLogin dialog;
        QCOMPARE(dialog.txtSip->text(), QStringLiteral("sip.example.net"));
        QCOMPARE(dialog.txtAcctNo->text(), QStringLiteral("1001"));
        QCOMPARE(dialog.txtPassword->text(), QStringLiteral("secret"));
        QVERIFY(dialog.chkbxSaveSettings->isChecked());
    }

    void blankAccountOrPasswordIsRefusedAndNothingSaved_data() {
        QTest::addColumn<QString>("acct");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("message");
        const QString userBlank = QStringLiteral("User Name and Password must not be blank");
        QTest::newRow("no account") << ""
                                    << "pw"
                                    << "sip.example.net" << userBlank;
        QTest::newRow("no password") << "1001"
                                     << ""
                                     << "sip.example.net" << userBlank;
        QTest::newRow("no server") << "1001"
                                   << "pw"
                                   << " "
                                   << "Sip IP/Domain must not be blank";
        QTest::newRow("control character")
            << "1001" << QStringLiteral("p\x01w") << "sip.example.net"
            << "User Name and Password must not hold control "
               "characters other than tab and line breaks";
        QTest::newRow("half a surrogate pair")
            << "1001" << QString(QChar(0xD83D)) << "sip.example.net"
            << "User Name and Password must not hold control characters other than tab and "
               "line breaks";
        QTest::newRow("malformed server")
            << "1001"
            << "pw"
            << "sip.example.net:70000"
            << "Sip IP/Domain: the port \"70000\" is not a number from 1 to 65535.";
    }
    void blankAccountOrPasswordIsRefusedAndNothingSaved() {
        QFETCH(QString, acct);
        QFETCH(QString, password);
        QFETCH(QString, server);
        QFETCH(QString, message);
        MessageCatcher messages;
        frmLogin dialog;
        dialog.txtSip->setText(server);
        dialog.txtAcctNo->setText(acct);
        dialog.txtPassword->setText(password);
        dialog.cmdLogin->click();
        QCOMPARE(messages.texts(), QStringList{message});
        QCOMPARE(dialog.result(), 0);
        QVERIFY(!QFile::exists(settingsFilePath()));
    }

    void loginSavesValuesAsTypedAndTheChoice_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("saveEntry");
        QTest::newRow("kept") << true << "yes";
        QTest::newRow("not kept") << false << "no";
    }
    void loginSavesValuesAsTypedAndTheChoice() {
        QFETCH(bool, save);
        QFETCH(QString, saveEntry);
        account::saveLogin("old", "2002", "old.example.net", "yes");
        frmLogin dialog;
        dialog.txtSip->setText(" sip.example.net ");
        dialog.txtAcctNo->setText("1001");
        dialog.txtPassword->setText("p\"a&s<s");
        dialog.chkbxSaveSettings->setChecked(save);
        dialog.cmdLogin->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        // An account not to be kept is never written, nor one kept before it.
        QCOMPARE(readEntry(kSipApp), save ? QStringLiteral(" sip.example.net ") : QString());
        QCOMPARE(readEntry(kAccountApp), save ? QStringLiteral("1001") : QString());
        QCOMPARE(readEntry(kPasswordApp), save ? QStringLiteral("p\"a&s<s") : QString());
        QCOMPARE(readEntry(kSaveApp), saveEntry);
        QVERIFY(!dialog.exitChosen());
    }

    void exitIsReportedAndSavesNothing() {
        frmLogin dialog;
        dialog.txtAcctNo->setText("1001");
        dialog.txtPassword->setText("pw");
        dialog.cmdExit->click();
        QVERIFY(dialog.exitChosen());
        QVERIFY(!QFile::exists(settingsFilePath()));
    }

    void accountNumberStopsAtFifteenCharacters() {
        frmLogin dialog;
        dialog.show();
        QTest::keyClicks(dialog.txtAcctNo, "12345678901234567890");
        QCOMPARE(dialog.txtAcctNo->text(), QStringLiteral("123456789012345"));
    }

    void tabGoesServerAccountPasswordSaveLoginExit() {
        frmLogin dialog;
        QList<QWidget *> order;
        QWidget *w = dialog.txtSip;
        for (int i = 0; i < 6; ++i, w = w->nextInFocusChain()) {
            while (!(w->focusPolicy() & Qt::TabFocus))
                w = w->nextInFocusChain();
            order << w;
        }
        const QList<QWidget *> expected{dialog.txtSip,      dialog.txtAcctNo,
                                        dialog.txtPassword, dialog.chkbxSaveSettings,
                                        dialog.cmdLogin,    dialog.cmdExit};
        QCOMPARE(order, expected);
    }

    // A store that cannot be written never stops a login; it is told once, and only when the
    // user asked to keep the account.
    void unwritableStoreStillLogsIn_data() {
        QTest::addColumn<bool>("save");
        QTest::newRow("save checked") << true;
        QTest::newRow("save cleared") << false;
    }
    void unwritableStoreStillLogsIn() {
        QFETCH(bool, save);
        QDir().mkpath(settingsFilePath()); // a folder where the file goes
        MessageCatcher messages;
        frmLogin dialog;
        dialog.txtSip->setText("sip.example.net");
        dialog.txtAcctNo->setText("1001");
        dialog.txtPassword->setText("pw");
        dialog.chkbxSaveSettings->setChecked(save);
        dialog.cmdLogin->click();
        QDir(settingsFilePath()).removeRecursively();
        QCOMPARE(messages.texts().size(), save ? 1 : 0);
        if (save)
            QVERIFY2(messages.texts().first().contains(settingsFilePath()),
                     qPrintable(messages.texts().first()));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.loggedIn());
        QCOMPARE(dialog.loggedIn()->password, QStringLiteral("pw"));
    }
};

QTEST_MAIN(TestFrmLogin)
#include "tst_frmlogin.moc"
