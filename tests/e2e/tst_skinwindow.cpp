#include "filebytes.h"
#include "kirrowprogram.h"
#include "testdesktop.h"
#include "xdo.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QUdpSocket>
#include <QtTest>

namespace {

// Another program's window, all one colour, that counts the presses it gets.
class OtherWindow : public QRasterWindow {
public:
    static constexpr QRgb kColour = qRgb(255, 0, 255);
    QList<QPoint> presses; // where, on the screen

    explicit OtherWindow(const QRect &place) {
        setFlag(Qt::FramelessWindowHint);
        setTitle(QStringLiteral("other"));
        setGeometry(place);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), QColor(kColour));
    }
    void mousePressEvent(QMouseEvent *event) override {
        presses << event->globalPosition().toPoint();
    }
};

QImage shot(const QRect &r) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QRgb screenPixel(QPoint global) {
    return shot(QRect(global, QSize(1, 1))).pixel(0, 0);
}

} // namespace

// The program's shaped main window on a real X server, used with xdotool's mouse and keyboard as
// a user's would be, and read from the screen, from the X server and as a screen reader reads it:
// the outline, lit buttons under the pointer, dragging, tooltips, the tray, the keyboard on the
// dial pad. It logs in to a server that never answers: nothing here needs a registration.
class TestSkinWindow : public QObject {
    Q_OBJECT
    QUdpSocket m_silentServer;
    QTemporaryDir m_tools; // the program's PATH: nothing, until the browser's stand-in is put there
    std::unique_ptr<KirrowProgram> m_kirrow;
    QString m_window;                              // the main window's X id
    static constexpr QPoint kOffButtons{150, 215}; // on the skin, away from every button
    static constexpr QPoint kGrip{150, 365};       // the skin's base, below the keypad

    QRect place() const { return xdo::windowGeometry(m_window); }
    // Where a window of the program stands, as the X server has it (under a window manager, the
    // program itself may not know yet).
    QRect placeOf(const QString &title) { return xdo::windowGeometry(m_kirrow->windowId(title)); }
    QPoint onWindow(QPoint at) const { return place().topLeft() + at; }
    atspi::Node button(const QString &name) { return m_kirrow->control(name, "push button"); }
    atspi::Node number() { return m_kirrow->control("Kirrow", "Number", "text"); }
    QRect extentsOf(const QString &name) {
        QRect found;
        [&] { QTRY_VERIFY((found = button(name).extents()).isValid()); }();
        return found;
    }
    // Whether the screen shows the button as the picture (resources/buttons) draws it.
    bool shows(const QString &name, const QString &picture) {
        const QImage drawn(QStringLiteral(KIRROW_RESOURCES_DIR "/buttons/%1.png").arg(picture));
        return shot(button(name).extents()) == drawn.convertToFormat(QImage::Format_RGB32);
    }
    // Types digits into the number box, which has the keyboard, and waits until it holds them:
    // the program has then handled whatever the pointer did before, and no menu has the keyboard.
    void typeDigits(const QString &digits) {
        const atspi::Node box = number();
        const qsizetype before = box.text().size();
        xdo::type(digits);
        QTRY_COMPARE(box.text().size(), before + digits.size());
    }
    void clickIntoNumber() {
        // The keyboard to the window, as a window manager gives it to a window clicked.
        xdo::run({"windowfocus", "--sync", m_window});
        const atspi::Node box = number();
        m_kirrow->click(box);
        QTRY_VERIFY(box.focused());
    }
    // The outline a drag of the skin draws: the program's thin windows on the screen, together.
    QRect outline() {
        const QStringList ids = m_kirrow->windowIds();
        // The screen's windows at one moment: a strip may go at any time.
        QProcess xwininfo;
        xwininfo.start("xwininfo", {"-root", "-children"});
        xwininfo.waitForFinished();
        // "     0x400005 (has no name): ()  1x436+334+166  +334+166"
        static const QRegularExpression line(
            R"(^\s+(0x[0-9a-f]+) .*\s(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+?(-?\d+)\+?(-?\d+)\s*$)",
            QRegularExpression::MultilineOption);
        QRect drawn;
        for (const QRegularExpressionMatch &m :
             line.globalMatch(QString::fromLocal8Bit(xwininfo.readAllStandardOutput()))) {
            const QRect strip(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(2).toInt(),
                              m.captured(3).toInt());
            if (ids.contains(QString::number(m.captured(1).toULongLong(nullptr, 16))) &&
                (strip.width() == 1 || strip.height() == 1))
                drawn |= strip;
        }
        return drawn;
    }
    // The screen's top-level windows that show now; a menu is one more.
    static QStringList shownWindows() { return xdo::visibleWindows(QString()); }
    // Where the one window more than before shows, once it does.
    static QRect newWindow(const QStringList &before) {
        QStringList now;
        [&] { QTRY_COMPARE((now = shownWindows(), now.size()), before.size() + 1); }();
        for (const QString &window : before)
            now.removeOne(window);
        return now.isEmpty() ? QRect() : xdo::windowGeometry(now.first());
    }
    // Whether the hide button took the window to the tray.
    bool hideToTheTray() {
        m_kirrow->click("Hide to Tray", "push button");
        return QTest::qWaitFor([this] { return !xdo::isViewable(m_window); }) &&
               QTest::qWaitFor([] { return xdo::trayIcons().size() == 1; });
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test starts one)");
        QVERIFY(m_silentServer.bind(QHostAddress::LocalHost));
        m_kirrow = std::make_unique<KirrowProgram>(QStringLiteral(KIRROW_BINARY));
        QProcessEnvironment &environment = m_kirrow->environment();
        environment.insert("PATH", m_tools.path());
        environment.remove("BROWSER");
        environment.remove("DEFAULT_BROWSER");
        m_kirrow->startAndLogIn(QStringLiteral("127.0.0.1:%1").arg(m_silentServer.localPort()),
                                "1001", "kirrow1001");
        if (QTest::currentTestFailed())
            return;
        m_window = m_kirrow->windowId("Kirrow");
    }

    void cleanupTestCase() {
        if (m_kirrow && m_kirrow->process().state() == QProcess::Running)
            m_kirrow->close();
    }

    void outlineShowsWhatIsBehindTheSkin() {
        // Another window behind this one, where it stands.
        OtherWindow behind(place());
        behind.show();
        QVERIFY(QTest::qWaitForWindowExposed(&behind));
        behind.lower();
        QTRY_VERIFY(xdo::stackingOrder().indexOf(behind.winId()) <
                    xdo::stackingOrder().indexOf(m_window.toULongLong()));
        // The top-left corner of the skin is transparent; the body is not.
        const QPoint outside = onWindow({1, 1});
        QTRY_COMPARE(screenPixel(outside), OtherWindow::kColour);
        const QImage skin(KIRROW_RESOURCES_DIR "/skin/main.bmp");
        QTRY_COMPARE(screenPixel(onWindow(kOffButtons)), skin.pixel(kOffButtons));
        // A click there goes to the window underneath; one on the skin does not.
        xdo::clickAt(onWindow(kOffButtons));
        xdo::clickAt(outside);
        QTRY_COMPARE(behind.presses, QList<QPoint>{outside});
    }

    void keyLightsUnderThePointerAndGoesBack() {
        clickIntoNumber();
        xdo::pointerTo(onWindow(kOffButtons));
        QTRY_VERIFY(shows("5", "off5"));
        const QRect five = extentsOf("5");
        const QRect six = extentsOf("6");
        xdo::pointerTo(five.topLeft() + QPoint(10, 10));
        QTRY_VERIFY(shows("5", "on5"));
        // The right and bottom edges still count as over the key.
        xdo::pointerTo(five.topLeft() + QPoint(five.width(), five.height()));
        typeDigits("1");
        QVERIFY(shows("5", "on5"));
        // Straight onto the next key: the first goes back, the next lights.
        xdo::pointerTo(six.topLeft() + QPoint(10, 10));
        QTRY_VERIFY(shows("5", "off5"));
        xdo::pointerTo(six.topLeft() + QPoint(12, 10));
        QTRY_VERIFY(shows("6", "on6"));
        xdo::pointerTo(onWindow(kOffButtons));
        QTRY_VERIFY(shows("6", "off6"));
        // A click keeps the key lit; moving away afterwards puts it back.
        xdo::pointerTo(six.topLeft() + QPoint(10, 10));
        QTRY_VERIFY(shows("6", "on6"));
        const QString before = number().text();
        xdo::run({"click", "1"});
        QTRY_COMPARE(number().text(), before + "6");
        typeDigits("2");
        QVERIFY(shows("6", "on6"));
        xdo::pointerTo(onWindow(kOffButtons));
        QTRY_VERIFY(shows("6", "off6"));
    }

    void clearButtonsChangeWidthWhenLit() {
        const QRect clear = extentsOf("Clear Number");
        QCOMPARE(clear.width(), 38);
        xdo::pointerTo(clear.topLeft() + QPoint(5, 5));
        QTRY_COMPARE(button("Clear Number").extents().width(), 39);
        QTRY_VERIFY(shows("Clear Number", "onDel"));
        xdo::pointerTo(onWindow(kOffButtons));
        QTRY_COMPARE(button("Clear Number").extents().width(), 38);
        QCOMPARE(extentsOf("Delete Last Digit").width(), 39);
    }

    void draggingTheSkinMovesTheWindowOnRelease() {
        const QRect start = place();
        const QPoint grip = onWindow(kGrip);
        xdo::pointerTo(grip);
        xdo::run({"mousedown", "1"});
        xdo::pointerTo(grip + QPoint(15, 10));
        xdo::pointerTo(grip + QPoint(30, 20));
        // While moving, only the outline moves.
        QTRY_COMPARE(outline(), start.translated(30, 20));
        QCOMPARE(place(), start);
        xdo::run({"mouseup", "1"});
        QTRY_COMPARE(place(), start.translated(30, 20));
        QTRY_COMPARE(outline(), QRect());
        // A press and release without movement leaves it there.
        xdo::clickAt(onWindow(kGrip));
        QTRY_COMPARE(outline(), QRect());
        QCOMPARE(place(), start.translated(30, 20));
    }

    // The settings menu and a message box draw their text, with and without a window manager,
    // and the box opens over the window it belongs to. No outline is left behind.
    void popupsDrawOverTheWindow_data() {
        QTest::addColumn<bool>("windowManager");
        QTest::newRow("no window manager") << false;
        QTest::newRow("openbox") << true;
    }
    void popupsDrawOverTheWindow() {
        QFETCH(bool, windowManager);
        QProcess manager;
        if (windowManager) {
            xdo::startWindowManager(manager);
            // It announces itself before it has taken over the windows already there; a click
            // while it does so may never reach the window.
            QTRY_COMPARE_WITH_TIMEOUT(xdo::managedState(m_window), QStringLiteral("Normal"), 20000);
        }
        const auto stopManager = qScopeGuard([&manager] {
            manager.terminate();
            manager.waitForFinished();
        });
        if (QTest::currentTestFailed())
            return;
        const QStringList windows = shownWindows();
        m_kirrow->click(m_kirrow->control(QString(), "status bar"), 3);
        const QRect menu = newWindow(windows);
        QTRY_VERIFY(xdo::showsContent(menu));
        xdo::key({"Escape"});
        QTRY_COMPARE(shownWindows().size(), windows.size());

        // A letter in the number box is refused with a message over the window.
        clickIntoNumber();
        xdo::type("a");
        atspi::Node box;
        QTRY_VERIFY(!(box = m_kirrow->window("Input Error")).isNull());
        const QRect boxPlace = placeOf("Input Error");
        QTRY_VERIFY(xdo::showsContent(boxPlace));
        QVERIFY2(place().contains(boxPlace.center()),
                 qPrintable(QStringLiteral("box at %1,%2").arg(boxPlace.x()).arg(boxPlace.y())));
        // Under a window manager the box learns where it stands a little later.
        const atspi::Node ok = atspi::find(box, "OK", "push button");
        QTRY_VERIFY(boxPlace.contains(ok.extents()));
        m_kirrow->click(ok);
        QTRY_VERIFY(!box.showing());
        QCOMPARE(outline(), QRect());

        // A button on the skin opens its window; the press was the button's, not a drag's.
        m_kirrow->click("Recent Calls", "push button");
        atspi::Node recent;
        QTRY_VERIFY(!(recent = m_kirrow->window("Recent Calls")).isNull());
        QTRY_VERIFY(xdo::showsContent(placeOf("Recent Calls")));
        xdo::key({"Escape"});
        QTRY_VERIFY(!recent.showing());
        QCOMPARE(outline(), QRect());
    }

    void rightButtonDragMovesWithoutOutline() {
        const QRect start = place();
        const QPoint grip = onWindow(kGrip);
        xdo::pointerTo(grip);
        xdo::run({"mousedown", "3"});
        xdo::pointerTo(grip + QPoint(-20, -10));
        QCOMPARE(place(), start);
        xdo::run({"mouseup", "3"});
        QTRY_COMPARE(place(), start.translated(-20, -10));
        QTRY_COMPARE(outline(), QRect());
    }

    // The hide button takes the window off the screen and puts one icon in the tray, tipped
    // "Kirrow"; pointing at it, a click and a right click leave it there, and a double-click
    // brings the window back and takes the icon away.
    void hideButtonHidesToTheTrayAndBack() {
        QVERIFY2(desktopHasTray(), "needs a tray host (scripts/test-env starts trayer)");
        QVERIFY(xdo::trayIcons().isEmpty());
        const QRect before = place();
        QVERIFY(hideToTheTray());
        const xdo::TrayIcon icon = xdo::trayIcons().first();
        QVERIFY2(icon.geometry.intersects(QGuiApplication::primaryScreen()->geometry()),
                 qPrintable(icon.id));
        QTRY_VERIFY(xdo::showsContent(icon.geometry));

        // The tip shows once the pointer has come to rest over the icon; a move starts the wait
        // again. The window is hidden: what shows by its title is the tip.
        const QStringList windows = shownWindows();
        const auto tipShown = [this] { return !m_kirrow->window("Kirrow").isNull(); };
        bool tipSeen = false;
        for (int move = 0; move < 5 && !tipSeen; ++move) {
            xdo::pointerTo(icon.geometry.center() + QPoint(move % 2, 0));
            tipSeen = QTest::qWaitFor(tipShown, 2000);
        }
        QVERIFY(tipSeen);
        xdo::clickAt(icon.geometry.center());
        xdo::clickAt(icon.geometry.center(), 3);
        // The icon has no menu: what shows is the screen as it was, and the tip perhaps again.
        QCOMPARE(shownWindows().size() - (tipShown() ? 1 : 0), windows.size());
        QVERIFY(!xdo::isViewable(m_window));
        QCOMPARE(xdo::trayIcons().size(), 1);

        xdo::clickAt(icon.geometry.center(), 1, 2);
        QTRY_VERIFY(xdo::isViewable(m_window));
        QTRY_VERIFY(xdo::trayIcons().isEmpty());
        QCOMPARE(place(), before);
        const QImage skin(KIRROW_RESOURCES_DIR "/skin/main.bmp");
        QTRY_COMPARE(screenPixel(onWindow(kOffButtons)), skin.pixel(kOffButtons));
    }

    // Without a tray the window is only minimised, so the desktop can always give it back, and
    // the user is told why once. A tray that comes later takes the window as usual: whatever
    // happened to the window before, a double-click on the icon, and a tel: link opened while
    // the window is in the tray, bring it back normal and in front. ctest runs this on a desktop
    // of its own without a tray host (tst_skinwindow_notray).
    void hideWithoutTrayOnlyMinimises() {
        if (desktopHasTray())
            QSKIP("needs a desktop without a tray (ctest runs it as tst_skinwindow_notray)");
        QProcess manager;
        xdo::startWindowManager(manager);
        const auto stopManager = qScopeGuard([&manager] {
            manager.terminate();
            manager.waitForFinished();
        });
        QTRY_COMPARE_WITH_TIMEOUT(xdo::managedState(m_window), QStringLiteral("Normal"), 20000);
        const auto activate = [this] { xdo::run({"windowactivate", "--sync", m_window}); };
        for (int time = 1; time <= 2; ++time) {
            m_kirrow->click("Hide to Tray", "push button");
            // Told before the window goes, and only the first time.
            if (time == 1)
                m_kirrow->answerMessage(
                    "This desktop has no system tray: Kirrow is minimised instead.");
            QTRY_COMPARE(xdo::managedState(m_window), QStringLiteral("Iconic"));
            QCOMPARE(m_kirrow->windows().size(), 1); // itself, minimised; no second message
            QVERIFY(xdo::trayIcons().isEmpty());
            // Brought back as the desktop brings back a minimised window.
            activate();
            QTRY_COMPARE(xdo::managedState(m_window), QStringLiteral("Normal"));
            QTRY_VERIFY(xdo::isViewable(m_window));
        }

        QProcess trayHost;
        trayHost.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "right",
                                                  "--widthtype", "request", "--height", "24"});
        QVERIFY2(trayHost.waitForStarted(), "trayer is needed (scripts/deps installs it)");
        const auto stopTrayHost = qScopeGuard([&trayHost] {
            trayHost.terminate();
            trayHost.waitForFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(desktopHasTray(), 20000);
        // Another program's window where the window stands, under it for now.
        OtherWindow cover(place());
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        activate();
        const auto inFront = [this, &cover] {
            const QList<WId> order = xdo::stackingOrder();
            return order.indexOf(m_window.toULongLong()) > order.indexOf(cover.winId());
        };
        QTRY_VERIFY(inFront());
        const auto backInFront = [this, &inFront] {
            QTRY_VERIFY(xdo::isViewable(m_window));
            QTRY_COMPARE(xdo::managedState(m_window), QStringLiteral("Normal"));
            QTRY_VERIFY(inFront());
            QTRY_VERIFY(xdo::trayIcons().isEmpty());
        };
        QVERIFY(hideToTheTray());
        QTRY_VERIFY(xdo::showsContent(xdo::trayIcons().first().geometry));
        xdo::clickAt(xdo::trayIcons().first().geometry.center(), 1, 2);
        backInFront();
        if (QTest::currentTestFailed())
            return;

        // A later start of the program, given a link as the desktop gives it one, hands it to
        // the running program and ends.
        QVERIFY(hideToTheTray());
        QProcess link;
        const auto stopLink = qScopeGuard([&link] {
            link.kill();
            link.waitForFinished();
        });
        link.setProcessEnvironment(m_kirrow->process().processEnvironment());
        link.start(QStringLiteral(KIRROW_BINARY), {QStringLiteral("tel:555-0100")});
        QTRY_COMPARE_WITH_TIMEOUT(link.state(), QProcess::NotRunning, 20000);
        QCOMPARE(link.exitCode(), 0);
        backInFront();
        QCOMPARE(number().text(), QStringLiteral("5550100"));
        QCOMPARE(m_kirrow->windows(), QStringList{"Kirrow"}); // told nothing
    }

    // On a desktop where nothing opens web pages (the program's PATH has none of xdg-open and
    // the browsers, BROWSER unset) the logo says so in a message box, which the user answers, and
    // the program's log keeps the line.
    void logoWithoutABrowserSaysSo() {
        m_kirrow->click("Kirrow Web Site", "push button");
        const QString told = "No web browser could open " + aboutPage().toDisplayString();
        m_kirrow->answerMessage(told);
        QVERIFY(readBytes(m_kirrow->logFile()).contains("web link: " + told.toUtf8()));
        QVERIFY(xdo::isViewable(m_window));
    }

    // The menu key beside the status line opens the settings menu with the left button, drawn
    // with both its items; other buttons open nothing. The logo opens the about page.
    void menuKeyOpensTheSettingsMenuAndTheLogoTheAboutPage() {
        const atspi::Node key = button("Menu");
        QCOMPARE(key.description(), QStringLiteral("Menu: Login As..., Tuning Wizard"));
        clickIntoNumber();
        const QStringList windows = shownWindows();
        m_kirrow->click(key);
        const QRect drawn = newWindow(windows);
        QVERIFY(drawn.contains(key.extents().center()));
        // One item in each half.
        QRect half = drawn;
        half.setHeight(drawn.height() / 2);
        QTRY_VERIFY(xdo::showsContent(half));
        QTRY_VERIFY(xdo::showsContent(half.translated(0, half.height())));
        xdo::key({"Escape"});
        QTRY_COMPARE(shownWindows().size(), windows.size());
        for (int other : {3, 2}) {
            m_kirrow->click(key, other);
            typeDigits("3"); // a menu would have taken the keyboard
            QCOMPARE(shownWindows().size(), windows.size());
        }

        // A stand-in for the browser, which notes the page it is given.
        const QString opened = m_tools.filePath("opened");
        const QString xdgOpen = m_tools.filePath("xdg-open");
        QVERIFY(writeBytes(xdgOpen, "#!/bin/sh\necho \"$1\" >" + QFile::encodeName(opened) + "\n"));
        QVERIFY(QFile::setPermissions(xdgOpen, QFile::ReadOwner | QFile::ExeOwner));
        m_kirrow->click("Kirrow Web Site", "push button");
        QTRY_COMPARE(readBytes(opened), aboutPage().toEncoded() + "\n");
        QVERIFY(xdo::isViewable(m_window));
        // The page is built beside the program.
        if (aboutPage().isLocalFile()) {
            const QByteArray html = readBytes(aboutPage().toLocalFile());
            QVERIFY(html.contains("<title>About Kirrow</title>"));
            QVERIFY(html.contains("<h2>The demo account</h2>"));
            QVERIFY(html.contains("<img alt=\"Kirrow\" src=\"data:image/png;base64,"));
        }
    }

    // Resting on each control of the window shows its tip, drawn on the screen right below the
    // control and centred on it; moving off takes it away.
    void tooltipsHangCentredBelowTheirControls() {
        clickIntoNumber();
        const std::pair<const char *, QString> tips[] = {
            {"Call", "Click to Make Call"},
            {"Phone Book", "Kirrow Book"},
            {"Audio Wizard", "Audio Wizard"},
            {"Recent Calls", "Recent Call"},
            {"Clear Number", "Clear Current Number"},
            {"Delete Last Digit", "Clear Current Number one by one"},
            {"End Call", "Click to End Call"}, // unusable while idle, and still explained
            {"Login Server", "Login Server"},
            {"Hide to Tray", "Hide Application to System Tray"},
            {"Close", "Close and Exit Application"},
            {"Number", "Include International Country Code"},
        };
        for (const auto &[name, text] : tips) {
            // A screen reader reads a combo box by what it holds.
            const QRect control = name == QLatin1String("Number")
                                      ? m_kirrow->control(QString(), "combo box").extents()
                                      : extentsOf(name);
            xdo::pointerTo(control.center());
            atspi::Node tip;
            QTRY_VERIFY2(!(tip = m_kirrow->window(text)).isNull(), qPrintable(text));
            const QRect below = tip.extents();
            QCOMPARE(below.top(), control.bottom() + 1);
            QVERIFY2(qAbs(below.center().x() - control.center().x()) <= 1, qPrintable(text));
            QTRY_VERIFY2(xdo::showsContent(below), qPrintable(text));
            xdo::pointerTo(onWindow(kOffButtons));
            QTRY_VERIFY(!tip.showing());
        }
        // The window went on as before: the keyboard where it was.
        QVERIFY(number().focused());
    }

    // Tab goes from the number box through the dial pad to Call; Space and Enter press the key
    // the keyboard is on; typing in the number box works as before.
    void dialPadAndCallFromTheKeyboard() {
        clickIntoNumber();
        const atspi::Node box = number();
        const QString before = box.text();
        const auto focused = [this](const QString &name) { return button(name).focused(); };
        xdo::type("12");
        QTRY_COMPARE(box.text(), before + "12");
        xdo::key({"Tab"});
        QTRY_VERIFY(focused("1"));
        xdo::key({"space"});
        QTRY_COMPARE(box.text(), before + "121");
        xdo::key({"Tab", "Tab", "Tab", "Tab"});
        QTRY_VERIFY(focused("5"));
        xdo::key({"Return"});
        QTRY_COMPARE(box.text(), before + "1215");
        xdo::key({"shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab"});
        QTRY_VERIFY(box.focused());
        xdo::key({"End"}); // reached with Tab, a text box has its text selected
        xdo::type("9");
        QTRY_COMPARE(box.text(), before + "12159");
        // Past the twelve keys, Call; End is skipped while it cannot be used.
        for (int i = 0; i < 13; ++i)
            xdo::key({"Tab"});
        QTRY_VERIFY(focused("Call"));
        xdo::key({"Return"});
        m_kirrow->answerMessage("Sorry, you are not registered, please select Menu - LoginAs");
        // The keyboard back to the window, as a window manager gives it back when a box closes:
        // on the key it was on.
        xdo::run({"windowfocus", "--sync", m_window});
        QTRY_VERIFY(focused("Call"));
        xdo::key({"Tab"});
        QTRY_VERIFY(box.focused());
    }

private:
    static QUrl aboutPage() {
        const QString configured = QStringLiteral(KIRROW_ABOUT_URL);
        return configured.isEmpty()
                   ? QUrl::fromLocalFile(QFileInfo(QStringLiteral(KIRROW_BINARY))
                                             .dir()
                                             .filePath(QStringLiteral("about.html")))
                   : QUrl(configured);
    }
};

QTEST_MAIN(TestSkinWindow)
#include "tst_skinwindow.moc"
