#include "filebytes.h"
#include "kamailioserver.h"
#include "kirrowprogram.h"
#include "testdesktop.h"
#include "xdo.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QtTest>

// The program's phone book and recent calls windows on a real X server, opened from the main
// window's buttons and used with xdotool as a user's mouse and keyboard would, and read from the
// screen and as a screen reader reads them: their outlines, typing into the number box, pasting
// the selection with the middle button, handing numbers back to the main window.
class TestBookWindows : public QObject {
    Q_OBJECT
    std::unique_ptr<KamailioServer> m_server;
    std::unique_ptr<KirrowProgram> m_kirrow;

    static QImage screen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }
    static QRgb screenPixel(QPoint global) {
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, global.x(), global.y(), 1, 1)
            .toImage()
            .pixel(0, 0);
    }
    static void saveShot(const QRect &place, const QString &name) {
        // KIRROW_SCREENSHOTS=folder keeps a picture of the window as it is on screen.
        const QString folder = qEnvironmentVariable("KIRROW_SCREENSHOTS");
        if (!folder.isEmpty())
            QGuiApplication::primaryScreen()
                ->grabWindow(0, place.x(), place.y(), place.width(), place.height())
                .save(folder + "/" + name);
    }
    // The point of a window at (x, y) from its corner is the screen's as it was before the window
    // opened: the window is not there, beyond its skin's outline.
    static void showsThrough(const QRect &window, const QImage &before, QPoint at) {
        const QPoint point = window.topLeft() + at;
        QVERIFY2(window.contains(point), "the point is outside the window's rectangle");
        QTRY_COMPARE(screenPixel(point), before.pixel(point));
    }

    // The main window's button pressed, and the window it opens.
    atspi::Node open(const QString &button, const QString &title) {
        m_kirrow->click(button, QStringLiteral("push button"));
        atspi::Node window;
        [&] { QTRY_VERIFY(!(window = m_kirrow->window(title)).isNull()); }();
        return window;
    }
    // The rows a list shows.
    static QList<atspi::Node> rows(const atspi::Node &list) {
        return atspi::findAll(list, [](const atspi::Node &node) {
            return node.role() == QLatin1String("list item");
        });
    }
    // The main window's number box, emptied with its clear button.
    atspi::Node clearedNumber() {
        const atspi::Node number = m_kirrow->control("Kirrow", "Number", "text");
        m_kirrow->click("Clear Number", "push button");
        [&] { QTRY_COMPARE(number.text(), QString()); }();
        return number;
    }
    // Clicks into a field and waits until it has the keyboard.
    void clickInto(const atspi::Node &field) {
        m_kirrow->click(field);
        QTRY_VERIFY(field.focused());
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test starts one)");
        m_server = std::make_unique<KamailioServer>(
            QList<KamailioServer::Account>{{"1001", "kirrow1001"}});
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_kirrow = std::make_unique<KirrowProgram>(QStringLiteral(KIRROW_BINARY));
        m_kirrow->startRegistered(m_server->address(), "1001", "kirrow1001");
    }

    void cleanupTestCase() {
        if (m_kirrow)
            m_kirrow->close();
    }

    void phoneBookIsShapedAndTakesDigitsOnlyFromTheKeyboard() {
        const QString file = m_kirrow->dataFile("PhoneBook.txt");
        QVERIFY(writeBytes(file, "Anna Berg--0301555\r\nOffice--600\r\n"));
        const QImage before = screen();
        const atspi::Node book = open("Phone Book", "Phone Book");
        const QRect place = book.extents();
        saveShot(place, "kirrow-phonebook.png");
        showsThrough(place, before, QPoint(320, 100));
        const QImage skin(KIRROW_SKIN_DIR "/phonebook.png");
        QTRY_COMPARE(screenPixel(place.topLeft() + QPoint(230, 170)), skin.pixel(230, 170));

        // Each key that is not a digit is refused with a message, and typing goes on after it.
        const atspi::Node number = atspi::find(book, "Phone No.", "text");
        clickInto(number);
        xdo::type("12a");
        m_kirrow->answerMessage("Numbers 0 to 9 only, please!");
        clickInto(number);
        xdo::type("3");
        QTRY_COMPARE(number.text(), QStringLiteral("123"));
        for (const char *key : {"ctrl+v", "Return"}) {
            xdo::key({key});
            m_kirrow->answerMessage("Numbers 0 to 9 only, please!");
            clickInto(number);
        }
        QCOMPARE(number.text(), QStringLiteral("123"));

        // The middle button pastes the X selection, through the same filter.
        QGuiApplication::clipboard()->setText("45x", QClipboard::Selection);
        m_kirrow->click(number, 2);
        m_kirrow->answerMessage("Numbers 0 to 9 only, please!");
        QCOMPARE(number.text(), QStringLiteral("123"));
        QGuiApplication::clipboard()->setText("45", QClipboard::Selection);
        m_kirrow->click(number, 2);
        QTRY_COMPARE(number.text(), QStringLiteral("12345"));
        QCOMPARE(m_kirrow->windows().size(), 2); // no message

        // The field's own menu draws its items.
        const QStringList windows = xdo::visibleWindows(QString());
        m_kirrow->click(number, 3);
        QStringList menu;
        QTRY_COMPARE((menu = xdo::visibleWindows(QString()), menu.size()), windows.size() + 1);
        for (const QString &window : windows)
            menu.removeOne(window);
        QTRY_VERIFY(xdo::showsContent(xdo::windowGeometry(menu.first())));
        xdo::key({"Escape"});
        QTRY_COMPARE(xdo::visibleWindows(QString()).size(), windows.size());

        // A name holding the separator is refused, and the file stays as it was.
        const atspi::Node list = atspi::find(book, QString(), "list");
        QTRY_COMPARE(rows(list).size(), 3); // the file read, below the heading row
        const QByteArray kept = readBytes(file);
        const atspi::Node name = atspi::find(book, "Name", "text");
        clickInto(name);
        xdo::type("X--Y");
        QTRY_COMPARE(name.text(), QStringLiteral("X--Y"));
        m_kirrow->click(atspi::find(book, "ADD", "push button"));
        m_kirrow->answerMessage("A name or number may not contain \"--\".");
        QCOMPARE(rows(list).size(), 3);
        QCOMPARE(readBytes(file), kept);

        clickInto(name);
        xdo::key({"Escape"});
        QTRY_VERIFY(!book.showing());
    }

    void phoneBookCallFillsTheNumberBox() {
        const atspi::Node number = clearedNumber();
        const atspi::Node book = open("Phone Book", "Phone Book");
        const atspi::Node list = atspi::find(book, QString(), "list");
        QTRY_COMPARE(rows(list).size(), 3);
        m_kirrow->click(rows(list).at(2));
        QTRY_COMPARE(atspi::find(book, "Name", "text").text(), QStringLiteral("Office"));
        m_kirrow->click(atspi::find(book, "CALL", "push button"));
        QTRY_VERIFY(!book.showing());
        QTRY_COMPARE(number.text(), QStringLiteral("600"));
    }

    void recentCallsDoubleClickFillsTheNumberBox() {
        // Newest first, as the program keeps it.
        QVERIFY(writeBytes(m_kirrow->dataFile("recentcall.txt"),
                           "5551234567--Duration: 0:3:27\r\n600--Duration: 0:0:4\r\n"));
        const atspi::Node number = clearedNumber();
        const QImage before = screen();
        const atspi::Node recent = open("Recent Calls", "Recent Calls");
        const QRect place = recent.extents();
        saveShot(place, "kirrow-recent.png");
        showsThrough(place, before, QPoint(300, 100));
        const atspi::Node list = atspi::find(recent, QString(), "list");
        QTRY_COMPARE(rows(list).size(), 2);
        m_kirrow->click(rows(list).at(0), 1, 2);
        QTRY_VERIFY(!recent.showing());
        QTRY_COMPARE(number.text(), QStringLiteral("5551234567"));
    }
};

QTEST_MAIN(TestBookWindows)
#include "tst_bookwindows.moc"
