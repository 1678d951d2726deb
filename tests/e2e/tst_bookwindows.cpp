#include "dialogdriver.h"
#include "digitbox.h"
#include "fakertcclient.h"
#include "filebytes.h"
#include "frmkirrow.h"
#include "frmphonebook.h"
#include "frmrecent.h"
#include "logindriver.h"
#include "mainwindowui.h"
#include "phonebookfile.h"
#include "picturebox.h"
#include "recentlog.h"
#include "testdesktop.h"
#include "xdo.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

// The phone book and recent calls windows on a real X server, opened from the main window's
// buttons and used with xdotool as a user's mouse and keyboard would: their outlines, typing into
// the number box, pasting the selection with the middle button, handing numbers back.
class TestBookWindows : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::unique_ptr<frmKirrow> m_window;

    static QRgb screenPixel(QPoint global) {
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, global.x(), global.y(), 1, 1)
            .toImage()
            .pixel(0, 0);
    }
    // Opens a window from the main window's button and runs act on it once it is up.
    template <class T> void openWith(PictureBox *button, std::function<void(T *)> act) {
        bool acted = false;
        whenModalShows<T>([&acted, act](T *dialog) {
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            act(dialog);
            acted = true;
            if (dialog->isVisible())
                dialog->reject();
        });
        xdo::click(button, QPoint(8, 8));
        QTRY_VERIFY(acted);
    }
    static void saveShot(QWidget *window, const QString &name) {
        // KIRROW_SCREENSHOTS=folder keeps a picture of the window as it is on screen.
        const QString folder = qEnvironmentVariable("KIRROW_SCREENSHOTS");
        if (folder.isEmpty())
            return;
        const QRect r = window->mask().boundingRect().translated(window->mapToGlobal(QPoint()));
        QGuiApplication::primaryScreen()
            ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
            .save(folder + "/" + name);
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test starts one)");
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        m_window = startOverFakeEngine();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanupTestCase() {
        m_window.reset();
        QFile::remove(phonebook::phoneBookPath());
        QFile::remove(calls::recentLogPath());
    }

    void phoneBookIsShapedAndTakesDigitsOnlyFromTheKeyboard() {
        QVERIFY(writeBytes(phonebook::phoneBookPath(), "Anna Berg--0301555\r\nOffice--600\r\n"));
        MessageCatcher messages;
        const QImage before = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        openWith<frmPhoneBook>(ui(m_window).Picture11, [&](frmPhoneBook *dialog) {
            saveShot(dialog, "kirrow-phonebook.png");
            // Beyond the skin's outline the window is not there: what is under it shows.
            const QPoint beside = dialog->mapToGlobal(QPoint(320, 100));
            QVERIFY(!dialog->mask().contains(QPoint(320, 100)));
            QTRY_COMPARE(screenPixel(beside), before.pixel(beside));
            const QImage skin(":/skin/phonebook.png");
            QTRY_COMPARE(screenPixel(dialog->mapToGlobal(QPoint(230, 170))), skin.pixel(230, 170));
            QVERIFY(QFontInfo(dialog->lstPhoneBook->font()).fixedPitch());

            // No window manager here gives a new window the keyboard: xdotool gives it.
            xdo::focusWindow(dialog);
            xdo::click(dialog->txtPhoneNo, QPoint(10, 8));
            QTRY_COMPARE(QApplication::focusWidget(), dialog->txtPhoneNo);
            xdo::type("12a3");
            QTRY_COMPARE(dialog->txtPhoneNo->text(), QStringLiteral("123"));
            QCOMPARE(messages.texts(), QStringList{"Numbers 0 to 9 only, please!"});
            xdo::key({"ctrl+v", "Return"});
            QTRY_COMPARE(messages.texts().size(), 3);
            QCOMPARE(dialog->txtPhoneNo->text(), QStringLiteral("123"));

            // The middle button pastes the X selection, through the same filter.
            messages.clear();
            QGuiApplication::clipboard()->setText("45x", QClipboard::Selection);
            xdo::click(dialog->txtPhoneNo, QPoint(60, 8), 2);
            QTRY_COMPARE(messages.texts().size(), 1);
            QCOMPARE(dialog->txtPhoneNo->text(), QStringLiteral("123"));
            QGuiApplication::clipboard()->setText("45", QClipboard::Selection);
            xdo::click(dialog->txtPhoneNo, QPoint(60, 8), 2);
            QTRY_COMPARE(dialog->txtPhoneNo->text(), QStringLiteral("12345"));
            QCOMPARE(messages.texts().size(), 1);

            // The field's own menu draws its items.
            xdo::click(dialog->txtPhoneNo, QPoint(10, 8), 3);
            QTRY_VERIFY(QApplication::activePopupWidget());
            QVERIFY(QTest::qWaitForWindowExposed(QApplication::activePopupWidget()));
            QTRY_VERIFY(xdo::showsContent(QApplication::activePopupWidget()));
            xdo::key({"Escape"});
            QTRY_VERIFY(!QApplication::activePopupWidget());

            // A name holding the separator is refused, and the file stays as it was.
            QTRY_VERIFY(!dialog->isReading());
            const QByteArray before = readBytes(phonebook::phoneBookPath());
            messages.clear();
            xdo::click(dialog->txtName, QPoint(10, 8));
            QTRY_COMPARE(QApplication::focusWidget(), dialog->txtName);
            xdo::type("X--Y");
            QTRY_COMPARE(dialog->txtName->text(), QStringLiteral("X--Y"));
            xdo::click(dialog->cmdAdd, QPoint(20, 10));
            QTRY_COMPARE(messages.texts(), QStringList{"A name or number may not contain \"--\"."});
            QCOMPARE(dialog->lstPhoneBook->count(), 3);
            QCOMPARE(readBytes(phonebook::phoneBookPath()), before);
        });
    }

    void phoneBookCallFillsTheNumberBox() {
        ui(m_window).cmbPhoneNo->setEditText(QString());
        openWith<frmPhoneBook>(ui(m_window).Picture11, [&](frmPhoneBook *dialog) {
            QTRY_VERIFY(!dialog->isReading());
            QListWidget *list = dialog->lstPhoneBook;
            xdo::click(list->viewport(), list->visualItemRect(list->item(2)).center());
            QTRY_COMPARE(dialog->txtName->text(), QStringLiteral("Office"));
            xdo::click(dialog->cmdCall, QPoint(20, 10));
            QTRY_VERIFY(!dialog->isVisible());
        });
        QCOMPARE(ui(m_window).cmbPhoneNo->currentText(), QStringLiteral("600"));
    }

    void recentCallsDoubleClickFillsTheNumberBox() {
        QFile::remove(calls::recentLogPath());
        QVERIFY(calls::addRecentCall(calls::recentLogPath(), "600--Duration: 0:0:4"));
        QVERIFY(calls::addRecentCall(calls::recentLogPath(), "5551234567--Duration: 0:3:27"));
        ui(m_window).cmbPhoneNo->setEditText(QString());
        openWith<frmRecent>(ui(m_window).Picture3, [&](frmRecent *dialog) {
            saveShot(dialog, "kirrow-recent.png");
            QVERIFY(!dialog->mask().contains(QPoint(300, 100)));
            QListWidget *list = dialog->Recentlist;
            QCOMPARE(list->count(), 2);
            xdo::click(list->viewport(), list->visualItemRect(list->item(0)).center(), 1, 2);
            QTRY_VERIFY(!dialog->isVisible());
        });
        QCOMPARE(ui(m_window).cmbPhoneNo->currentText(), QStringLiteral("5551234567"));
    }
};

QTEST_MAIN(TestBookWindows)
#include "tst_bookwindows.moc"
