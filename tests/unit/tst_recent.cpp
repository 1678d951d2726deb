#include "clsvolume.h"
#include "dialogdriver.h"
#include "fakemixerdevice.h"
#include "fakertcclient.h"
#include "filebytes.h"
#include "frmkirrow.h"
#include "frmrecent.h"
#include "logindriver.h"
#include "mainwindowui.h"
#include "recentlog.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

// The recent calls window: the log's lines newest first, a double-click hands a number back.
class TestRecent : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QComboBox m_numberBox;

    QString path() const { return m_dir.filePath("recentcall.txt"); }
    void write(const QByteArray &bytes) { QVERIFY(writeBytes(path(), bytes)); }
    static QStringList rows(const frmRecent &recent) {
        QStringList texts;
        for (int i = 0; i < recent.Recentlist->count(); ++i)
            texts << recent.Recentlist->item(i)->text();
        return texts;
    }
    static void doubleClick(frmRecent &recent, QPoint at) {
        // The first click of a double-click presses the row, as the pointer does.
        QTest::mouseClick(recent.Recentlist->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(recent.Recentlist->viewport(), Qt::LeftButton, {}, at);
    }
    static QPoint rowCentre(const frmRecent &recent, int row) {
        return recent.Recentlist->visualItemRect(recent.Recentlist->item(row)).center();
    }

private slots:
    // The main window's sliders work a scripted mixer, never the machine's own levels.
    void initTestCase() {
        audio::setMixerDeviceFactory([] {
            return std::make_unique<FakeMixerDevice>(FakeMixerDevice::speakersAndMicrophone());
        });
    }
    void init() {
        QFile::remove(path());
        m_numberBox.setEditable(true);
        m_numberBox.setEditText("777");
    }

    void noLogOpensEmptyAndCreatesIt() {
        frmRecent recent(&m_numberBox, path());
        QCOMPARE(recent.Recentlist->count(), 0);
        QVERIFY(QFileInfo::exists(path()));
        QCOMPARE(QFileInfo(path()).size(), 0);
        QCOMPARE(recent.size(), QSize(345, 275));
        QCOMPARE(recent.Recentlist->geometry(), QRect(20, 32, 177, 108));
        QCOMPARE(recent.CLOSE->geometry(), QRect(64, 160, 81, 25));
        QVERIFY(!recent.mask().isEmpty()); // shaped from its picture
        // A double-click on the empty list does nothing and the window stays.
        recent.show();
        doubleClick(recent, QPoint(20, 20));
        QVERIFY(recent.isVisible());
        QCOMPARE(m_numberBox.currentText(), QStringLiteral("777"));
    }

    void linesShownAsTheLogHoldsThem() {
        write("5551234567--Duration: 0:3:27\r\n600--Duration: 0:0:4\r\n");
        frmRecent recent(&m_numberBox, path());
        QCOMPARE(rows(recent),
                 (QStringList{"5551234567--Duration: 0:3:27", "600--Duration: 0:0:4"}));
        // A line of megabytes (a log edited by hand) shows cut, so painting it stays quick.
        write("600--" + QByteArray(10 << 20, 'x') + "\r\n");
        frmRecent huge(&m_numberBox, path());
        QCOMPARE(huge.Recentlist->count(), 1);
        QVERIFY(huge.Recentlist->item(0)->text().startsWith("600--xxx"));
        QVERIFY(huge.Recentlist->item(0)->text().size() < 300);
    }

    void doubleClickSetsTheNumberAndCloses() {
        write("5551234567--Duration: 0:3:27\r\n600--Duration: 0:0:4\r\n");
        frmRecent recent(&m_numberBox, path());
        recent.show();
        doubleClick(recent, rowCentre(recent, 0));
        QCOMPARE(m_numberBox.currentText(), QStringLiteral("5551234567"));
        QVERIFY(!recent.isVisible());
    }

    void anEmptyNumberEmptiesTheBox() {
        write("--Duration: 0:0:0\r\n");
        frmRecent recent(&m_numberBox, path());
        recent.show();
        doubleClick(recent, rowCentre(recent, 0));
        QCOMPARE(m_numberBox.currentText(), QString());
        QVERIFY(!recent.isVisible());
    }

    void closeChangesNothing() {
        write("600--Duration: 0:0:4\r\n");
        frmRecent recent(&m_numberBox, path());
        recent.show();
        recent.Recentlist->setCurrentRow(0);
        recent.CLOSE->click();
        QVERIFY(!recent.isVisible());
        QCOMPARE(m_numberBox.currentText(), QStringLiteral("777"));
    }

    // The main window's button opens it with the log the calls were written to.
    void theMainWindowsButtonOpensTheLog() {
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
        const auto window = startOverFakeEngine();
        QFile::remove(calls::recentLogPath());
        QVERIFY(calls::addRecentCall(calls::recentLogPath(), "600--Duration: 0:0:4"));
        QVERIFY(calls::addRecentCall(calls::recentLogPath(), "0301--Duration: 0:1:0"));
        QStringList seen;
        whenModalShows<frmRecent>([&seen](frmRecent *dialog) {
            seen = rows(*dialog);
            dialog->Recentlist->setCurrentRow(1);
            emit dialog->Recentlist->itemDoubleClicked(dialog->Recentlist->item(1));
        });
        QTest::mouseClick(ui(window).Picture3, Qt::LeftButton);
        QCOMPARE(seen, (QStringList{"0301--Duration: 0:1:0", "600--Duration: 0:0:4"}));
        QCOMPARE(ui(window).cmbPhoneNo->currentText(), QStringLiteral("600"));
        QFile::remove(calls::recentLogPath());
    }
};

QTEST_MAIN(TestRecent)
#include "tst_recent.moc"
