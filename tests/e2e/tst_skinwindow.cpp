#include "dialogdriver.h"
#include "digitbox.h"
#include "errortraps.h"
#include "fakertcclient.h"
#include "filebytes.h"
#include "frmkirrow.h"
#include "instancechannel.h"
#include "linknumber.h"
#include "logindriver.h"
#include "mainwindowui.h"
#include "mdltooltip.h"
#include "modmoveform.h"
#include "picturebox.h"
#include "settingsstore.h"
#include "testdesktop.h"
#include "tooltipwindow.h"
#include "traycontroller.h"
#include "weblink.h"
#include "xdo.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QSystemTrayIcon>
#include <QtTest>

// The shaped main window on a real X server: outline, lit buttons under the pointer, dragging,
// tooltips, the keyboard on the dial pad. The pointer and the keys are xdotool's, as a user's
// mouse and keyboard would be, not synthetic events.
class TestSkinWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::unique_ptr<frmKirrow> m_window;
    QSet<quint64> m_pressesOnWindow; // by time stamp: a press passed on to a parent is one press
    QRgb m_desktopBehindCorner = 0;
    int m_trayPresses = 0; // on the program's tray icon, any button
    QList<QUrl> m_openedUrls;
    static constexpr QPoint kOffButtons{150, 215}; // on the skin, away from every button

    QPoint onWindow(int x, int y) const { return m_window->mapToGlobal(QPoint(x, y)); }
    static QRgb screenPixel(QPoint global) {
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, global.x(), global.y(), 1, 1)
            .toImage()
            .pixel(0, 0);
    }
    static bool showsPicture(PictureBox *box, const QString &resource) {
        return box->pixmap().toImage() == QPixmap(resource).toImage();
    }
    static bool isTrayIcon(QObject *object) { return object->inherits("QSystemTrayIconSys"); }
    // The tip shown on the screen now, if any.
    static QString shownTip() {
        for (QWidget *window : QApplication::topLevelWidgets())
            if (window->windowType() == Qt::ToolTip && window->isVisible())
                if (auto *label = qobject_cast<QLabel *>(window))
                    return label->text();
        return {};
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->window() == m_window.get())
            m_pressesOnWindow.insert(static_cast<QMouseEvent *>(event)->timestamp());
        if (event->type() == QEvent::MouseButtonPress && isTrayIcon(watched))
            ++m_trayPresses;
        return false;
    }

public slots:
    // Stands in for the browser.
    void openUrl(const QUrl &url) { m_openedUrls << url; }

protected:
private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test starts one)");
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        m_window = startOverFakeEngine();
        // What the desktop shows where the window's transparent corner will be.
        m_desktopBehindCorner = screenPixel(m_window->geometry().topLeft() + QPoint(1, 1));
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        qApp->installEventFilter(this);
    }

    void cleanupTestCase() {
        qApp->removeEventFilter(this);
        m_window.reset();
    }

    void outlineShowsTheDesktopAroundTheSkin() {
        // The top-left corner of the skin is transparent; the body is not.
        const QPoint outside = onWindow(1, 1);
        QVERIFY(!m_window->mask().contains(QPoint(1, 1)));
        QVERIFY(m_window->mask().contains(kOffButtons));
        QTRY_COMPARE(screenPixel(outside), m_desktopBehindCorner);
        const QImage skin = QPixmap(":/skin/main.bmp").toImage();
        QTRY_COMPARE(screenPixel(onWindow(kOffButtons.x(), kOffButtons.y())),
                     skin.pixel(kOffButtons));
        // A click there goes to whatever is underneath, not to the window; one on the skin does.
        m_pressesOnWindow.clear();
        xdo::clickAt(outside);
        xdo::clickAt(onWindow(kOffButtons.x(), kOffButtons.y()));
        QTRY_COMPARE(m_pressesOnWindow.size(), 1);
    }

    void keyLightsUnderThePointerAndGoesBack() {
        PictureBox *five = ui(m_window).Picture26;
        PictureBox *six = ui(m_window).Picture27;
        xdo::pointerTo(onWindow(kOffButtons.x(), kOffButtons.y()));
        QVERIFY(showsPicture(five, ":/buttons/off5.png"));
        xdo::pointerTo(five->mapToGlobal(QPoint(10, 10)));
        QTRY_VERIFY(showsPicture(five, ":/buttons/on5.png"));
        QVERIFY(m_window->Hovering());
        // The right and bottom edges still count as over the key.
        xdo::pointerTo(five->mapToGlobal(QPoint(five->width(), five->height())));
        QTRY_VERIFY(m_window->Hovering());
        QVERIFY(showsPicture(five, ":/buttons/on5.png"));
        // Straight onto the next key: the first goes back, the next lights.
        xdo::pointerTo(six->mapToGlobal(QPoint(10, 10)));
        QTRY_VERIFY(showsPicture(five, ":/buttons/off5.png"));
        xdo::pointerTo(six->mapToGlobal(QPoint(12, 10)));
        QTRY_VERIFY(showsPicture(six, ":/buttons/on6.png"));
        xdo::pointerTo(onWindow(kOffButtons.x(), kOffButtons.y()));
        QTRY_VERIFY(showsPicture(six, ":/buttons/off6.png"));
        QVERIFY(!m_window->Hovering());
        // A click keeps the key lit; moving away afterwards puts it back.
        xdo::pointerTo(six->mapToGlobal(QPoint(10, 10)));
        QTRY_VERIFY(showsPicture(six, ":/buttons/on6.png"));
        xdo::run({"click", "1"});
        QTRY_VERIFY(m_window->Hovering());
        QVERIFY(showsPicture(six, ":/buttons/on6.png"));
        xdo::pointerTo(onWindow(kOffButtons.x(), kOffButtons.y()));
        QTRY_VERIFY(showsPicture(six, ":/buttons/off6.png"));
        QVERIFY(!m_window->Hovering());
    }

    void clearButtonsChangeWidthWhenLit() {
        PictureBox *clear = ui(m_window).Picture16;
        QCOMPARE(clear->width(), 38);
        xdo::pointerTo(clear->mapToGlobal(QPoint(5, 5)));
        QTRY_COMPARE(clear->width(), 39);
        xdo::pointerTo(onWindow(kOffButtons.x(), kOffButtons.y()));
        QTRY_COMPARE(clear->width(), 38);
        QCOMPARE(ui(m_window).Picture17->width(), 39);
    }

    void draggingTheSkinMovesTheWindowOnRelease() {
        const QPoint start = m_window->pos();
        const QPoint grip = onWindow(150, 395 - 30); // the skin's base, below the keypad
        QVERIFY(m_window->mask().contains(m_window->mapFromGlobal(grip)));
        xdo::pointerTo(grip);
        xdo::run({"mousedown", "1"});
        xdo::pointerTo(grip + QPoint(15, 10));
        xdo::pointerTo(grip + QPoint(30, 20));
        // While moving, only the outline moves.
        QTRY_COMPARE(modMoveForm::visibleOutlines().size(), 1);
        QTRY_COMPARE(modMoveForm::visibleOutlines().first().topLeft(),
                     m_window->frameGeometry().topLeft() + QPoint(30, 20));
        QCOMPARE(m_window->pos(), start);
        xdo::run({"mouseup", "1"});
        QTRY_COMPARE(m_window->pos(), start + QPoint(30, 20));
        QVERIFY(modMoveForm::visibleOutlines().isEmpty());
        // A press and release without movement leaves it there.
        xdo::clickAt(onWindow(150, 395 - 30));
        QTRY_VERIFY(modMoveForm::visibleOutlines().isEmpty());
        QCOMPARE(m_window->pos(), start + QPoint(30, 20));
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
            QTRY_COMPARE_WITH_TIMEOUT(xdo::managedState(m_window.get()), QStringLiteral("Normal"),
                                      20000);
            // The window manager has just taken the window over. Given the keyboard back now,
            // not by the right click below: Qt takes no window for the active one while its
            // menu is open, and would then see none active once the menu closed.
            xdo::focusWindow(m_window.get());
        }
        const auto stopManager = qScopeGuard([&manager] {
            manager.terminate();
            manager.waitForFinished();
        });
        if (QTest::currentTestFailed())
            return;
        xdo::click(ui(m_window).lblMsg, std::nullopt, 3);
        QTRY_VERIFY(ui(m_window).mnuSettings->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(ui(m_window).mnuSettings));
        QTRY_VERIFY(xdo::showsContent(ui(m_window).mnuSettings));
        xdo::key({"Escape"});
        QTRY_VERIFY(!ui(m_window).mnuSettings->isVisible());

        bool seen = false;
        whenModalShows<QMessageBox>([&](QMessageBox *box) {
            QVERIFY(QTest::qWaitForWindowExposed(box));
            QCOMPARE(box->windowTitle(), QStringLiteral("Input Error"));
            QTRY_VERIFY(xdo::showsContent(box));
            QVERIFY2(m_window->frameGeometry().contains(box->frameGeometry().center()),
                     qPrintable(QStringLiteral("box at %1,%2").arg(box->x()).arg(box->y())));
            seen = true;
            xdo::key({"Return"});
        });
        xdo::click(ui(m_window).cmbPhoneNo);
        xdo::focusWindow(m_window.get());
        xdo::type(QStringLiteral("a"));
        QTRY_VERIFY(seen);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(modMoveForm::visibleOutlines().isEmpty());

        // A button on the skin opens its window; the press was the button's, not a drag's.
        QString title;
        whenModalShows<QDialog>([&title](QDialog *dialog) {
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            title = dialog->windowTitle();
            xdo::key({"Escape"});
        });
        xdo::click(ui(m_window).Picture3, QPoint(8, 8));
        QTRY_COMPARE(title, QStringLiteral("Recent Calls"));
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(modMoveForm::visibleOutlines().isEmpty());
    }

    void rightButtonDragMovesWithoutOutline() {
        const QPoint start = m_window->pos();
        const QPoint grip = onWindow(150, 395 - 30);
        xdo::pointerTo(grip);
        xdo::run({"mousedown", "3"});
        xdo::pointerTo(grip + QPoint(-20, -10));
        QCOMPARE(m_window->pos(), start);
        xdo::run({"mouseup", "3"});
        QTRY_COMPARE(m_window->pos(), start + QPoint(-20, -10));
        QVERIFY(modMoveForm::visibleOutlines().isEmpty());
    }

    // The hide button takes the window off the screen and puts one icon in the tray, tipped
    // "Kirrow"; pointing at it, a click and a right click leave it there, and a double-click
    // brings the window back and takes the icon away.
    void hideButtonHidesToTheTrayAndBack() {
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(),
                 "needs a tray host (scripts/test-env starts trayer)");
        QVERIFY(xdo::trayIcons().isEmpty());
        const QPoint place = m_window->pos();
        xdo::click(ui(m_window).Picture41);
        QTRY_VERIFY(!xdo::isViewable(m_window.get()));
        QTRY_COMPARE(xdo::trayIcons().size(), 1);
        const xdo::TrayIcon icon = xdo::trayIcons().first();
        QVERIFY2(icon.geometry.intersects(QGuiApplication::primaryScreen()->geometry()),
                 qPrintable(icon.id));
        QTRY_VERIFY(xdo::showsContent(icon.geometry));

        // The tip shows once the pointer has come to rest over the icon; a move starts the wait
        // again.
        bool tipShown = false;
        for (int move = 0; move < 5 && !tipShown; ++move) {
            xdo::pointerTo(icon.geometry.center() + QPoint(move % 2, 0));
            tipShown = QTest::qWaitFor([] { return !shownTip().isEmpty(); }, 2000);
        }
        QCOMPARE(shownTip(), QStringLiteral("Kirrow"));
        xdo::clickAt(icon.geometry.center());
        QTRY_COMPARE(m_trayPresses, 1);
        xdo::clickAt(icon.geometry.center(), 3);
        QTRY_COMPARE(m_trayPresses, 2);
        QVERIFY(!xdo::isViewable(m_window.get()));
        QCOMPARE(xdo::trayIcons().size(), 1);
        QVERIFY(!QApplication::activePopupWidget()); // the icon has no menu

        xdo::clickAt(icon.geometry.center(), 1, 2);
        QTRY_VERIFY(xdo::isViewable(m_window.get()));
        QTRY_VERIFY(xdo::trayIcons().isEmpty());
        QCOMPARE(m_window->pos(), place);
        QTRY_COMPARE(screenPixel(onWindow(kOffButtons.x(), kOffButtons.y())),
                     QPixmap(":/skin/main.bmp").toImage().pixel(kOffButtons));
    }

    // Without a tray the window is only minimised, so the desktop can always give it back, and
    // the user is told why once. A tray that comes later takes the window as usual: whatever
    // happened to the window before, a double-click on the icon, and a tel: link opened while
    // the window is in the tray, bring it back normal and in front. ctest runs this on a desktop
    // of its own without a tray host (tst_skinwindow_notray).
    void hideWithoutTrayOnlyMinimises() {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("needs a desktop without a tray (ctest runs it as tst_skinwindow_notray)");
        QProcess manager;
        xdo::startWindowManager(manager);
        const auto stopManager = qScopeGuard([&manager] {
            manager.terminate();
            manager.waitForFinished();
        });
        QTRY_COMPARE(xdo::managedState(m_window.get()), QStringLiteral("Normal"));
        MessageCatcher messages;
        const QStringList told{
            QStringLiteral("This desktop has no system tray: Kirrow is minimised instead.")};
        const auto activate = [](const QWidget *window) {
            xdo::run({"windowactivate", "--sync", QString::number(window->winId())});
        };
        for (int time = 1; time <= 2; ++time) {
            xdo::click(ui(m_window).Picture41);
            QTRY_COMPARE(xdo::managedState(m_window.get()), QStringLiteral("Iconic"));
            QCOMPARE(messages.texts(), told);
            QVERIFY(!m_window->Tray().InTray());
            QVERIFY(!m_window->Tray().Icon().isVisible());
            // Brought back as the desktop brings back a minimised window.
            activate(m_window.get());
            QTRY_COMPARE(xdo::managedState(m_window.get()), QStringLiteral("Normal"));
            QTRY_VERIFY(xdo::isViewable(m_window.get()));
        }

        QProcess trayHost;
        trayHost.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "right",
                                                  "--widthtype", "request", "--height", "24"});
        QVERIFY2(trayHost.waitForStarted(), "trayer is needed (scripts/deps installs it)");
        const auto stopTrayHost = qScopeGuard([&trayHost] {
            trayHost.terminate();
            trayHost.waitForFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
        // Another program's window where the window stands, under it for now.
        QWidget cover;
        cover.setWindowTitle(QStringLiteral("cover"));
        cover.setGeometry(m_window->geometry());
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        activate(m_window.get());
        const auto inFront = [this, &cover] {
            const QList<WId> order = xdo::stackingOrder();
            return order.indexOf(m_window->winId()) > order.indexOf(cover.winId());
        };
        QTRY_VERIFY(inFront());
        const auto hideToTheTray = [this] {
            xdo::click(ui(m_window).Picture41);
            QTRY_VERIFY(!xdo::isViewable(m_window.get()));
            QTRY_COMPARE(xdo::trayIcons().size(), 1);
        };
        const auto backInFront = [this, &inFront] {
            QTRY_VERIFY(xdo::isViewable(m_window.get()));
            QTRY_COMPARE(xdo::managedState(m_window.get()), QStringLiteral("Normal"));
            QTRY_VERIFY(inFront());
            QTRY_VERIFY(xdo::trayIcons().isEmpty());
        };
        hideToTheTray();
        QTRY_VERIFY(xdo::showsContent(xdo::trayIcons().first().geometry));
        xdo::clickAt(xdo::trayIcons().first().geometry.center(), 1, 2);
        backInFront();
        if (QTest::currentTestFailed())
            return;

        // Links reach the running program as its start passes them on: a later start of the
        // program is given the link and hands it over.
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        platform::InstanceChannel channel(platform::InstanceChannel::socketPathFor(
            QFileInfo(account::settingsFilePath()).path()));
        QVERIFY(channel.listen());
        connect(&channel, &platform::InstanceChannel::received, m_window.get(),
                [this](const QByteArray &handed) {
                    if (const auto number = calls::numberFromLink(QString::fromUtf8(handed)))
                        m_window->ShowLinkedNumber(*number);
                });
        hideToTheTray();
        QProcess link;
        const auto stopLink = qScopeGuard([&link] {
            link.kill();
            link.waitForFinished();
        });
        link.start(QStringLiteral(KIRROW_BINARY), {QStringLiteral("tel:555-0100")});
        // The program takes the link while the start waits for it to say so.
        QTRY_COMPARE_WITH_TIMEOUT(link.state(), QProcess::NotRunning, 20000);
        QCOMPARE(link.exitCode(), 0);
        backInFront();
        QCOMPARE(ui(m_window).cmbPhoneNo->currentText(), QStringLiteral("5550100"));
        QCOMPARE(messages.texts(), told);
    }

    // The menu key beside the status line opens the settings menu with the left button, drawn
    // with both its items; other buttons open nothing. The logo opens the about page.
    void menuKeyOpensTheSettingsMenuAndTheLogoTheAboutPage() {
        PictureBox *key = ui(m_window).picMenu;
        QCOMPARE(key->toolTip(), QStringLiteral("Menu: Login As..., Tuning Wizard"));
        QMenu *menu = ui(m_window).mnuSettings;
        xdo::click(key);
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        QVERIFY(menu->geometry().contains(key->mapToGlobal(key->rect().center())));
        for (QAction *item : {ui(m_window).mnuLoginAs, ui(m_window).mnuVOICE}) {
            const QRect drawn = menu->actionGeometry(item).translated(menu->pos());
            QTRY_VERIFY2(xdo::showsContent(drawn), qPrintable(item->text()));
        }
        xdo::key({"Escape"});
        QTRY_VERIFY(!menu->isVisible());
        for (int button : {3, 2}) {
            const int presses = m_pressesOnWindow.size();
            xdo::click(key, std::nullopt, button);
            QTRY_COMPARE(m_pressesOnWindow.size(), presses + 1);
            QVERIFY(!menu->isVisible());
        }

        QDesktopServices::setUrlHandler(shell::aboutPageUrl().scheme(), this, "openUrl");
        const auto unset =
            qScopeGuard([] { QDesktopServices::unsetUrlHandler(shell::aboutPageUrl().scheme()); });
        xdo::click(ui(m_window).Picture4);
        QTRY_COMPARE(m_openedUrls, QList<QUrl>{shell::aboutPageUrl()});
        QVERIFY(m_window->isVisible());
        // The page is built beside the program (and put beside this test, as the program would
        // have it there).
        QStringList pages{QStringLiteral(KIRROW_ABOUT_PAGE)};
        if (m_openedUrls.first().isLocalFile())
            pages << m_openedUrls.first().toLocalFile();
        for (const QString &page : pages) {
            QFile file(page);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(page));
            const QByteArray html = file.readAll();
            QVERIFY(html.contains("<title>About Kirrow</title>"));
            QVERIFY(html.contains("<h2>The demo account</h2>"));
            QVERIFY(html.contains("<img alt=\"Kirrow\" src=\"data:image/png;base64,"));
        }
    }

    // On a desktop where nothing opens web pages (in this test's own environment: a PATH with
    // none of xdg-open and the browsers, BROWSER unset) the logo says so in a message box, which
    // the user answers, and the program's log keeps the line.
    void logoWithoutABrowserSaysSo() {
        QTemporaryDir tools; // only what the test's own hands need
        for (const char *tool : {"xdotool", "xwininfo"})
            QVERIFY(QFile::link(QStandardPaths::findExecutable(tool), tools.filePath(tool)));
        const QByteArray path = qgetenv("PATH");
        const QByteArray browser = qgetenv("BROWSER");
        const auto restore = qScopeGuard([&] {
            qputenv("PATH", path);
            if (!browser.isNull())
                qputenv("BROWSER", browser);
        });
        qputenv("PATH", QFile::encodeName(tools.path()));
        qunsetenv("BROWSER");
        qunsetenv("DEFAULT_BROWSER");
        QFile::remove(platform::programLogPath());

        QString shown;
        whenModalShows<QMessageBox>([&shown](QMessageBox *box) {
            shown = box->text();
            xdo::focusWindow(box); // no window manager gives the new box the keyboard
            xdo::key({"Return"});
        });
        xdo::click(ui(m_window).Picture4);
        const QString told =
            QStringLiteral("No web browser could open ") + shell::aboutPageUrl().toDisplayString();
        QTRY_COMPARE(shown, told);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(readBytes(platform::programLogPath()).contains("web link: " + told.toUtf8()));
        QVERIFY(m_window->isVisible());
    }

    // Resting on each control of the window shows its tip, drawn on the screen right below the
    // control and centred on it; moving off takes it away.
    void tooltipsHangCentredBelowTheirControls() {
        xdo::focusWindow(m_window.get());
        const MainWindowUi w = ui(m_window);
        const std::pair<QWidget *, QString> tips[] = {
            {w.Picture6, "Click to Make Call"},
            {w.Picture11, "Kirrow Book"},
            {w.Picture2, "Audio Wizard"},
            {w.Picture3, "Recent Call"},
            {w.Picture16, "Clear Current Number"},
            {w.Picture17, "Clear Current Number one by one"},
            {w.Picture8, "Click to End Call"}, // unusable while idle, and still explained
            {w.Picture13, "Login Server"},
            {w.Picture41, "Hide Application to System Tray"},
            {w.Picture40, "Close and Exit Application"},
            {w.cmbPhoneNo, "Include International Country Code"},
        };
        const auto tip = [] { return mdlTooltip::hTooltipWnd; };
        for (const auto &[control, text] : tips) {
            xdo::pointerTo(control->mapToGlobal(control->rect().center()));
            QTRY_VERIFY2(tip()->isVisible(), qPrintable(text));
            QCOMPARE(tip()->look().text, text);
            const QRect below(control->mapToGlobal(QPoint(0, 0)), control->size());
            QCOMPARE(tip()->geometry().top(), below.bottom() + 1);
            QVERIFY2(qAbs(tip()->geometry().center().x() - below.center().x()) <= 1,
                     qPrintable(text));
            QTRY_VERIFY(!tip()->isOpening());
            QTRY_VERIFY2(xdo::showsContent(tip()), qPrintable(text));
            xdo::pointerTo(onWindow(kOffButtons.x(), kOffButtons.y()));
            QTRY_VERIFY(!tip()->isVisible());
        }
        // The window went on as before: still active, the keyboard where it was.
        QCOMPARE(QApplication::activeWindow(), m_window.get());
    }

    // Tab goes from the number box through the dial pad to Call; Space and Enter press the key
    // the keyboard is on; typing in the number box works as before.
    void dialPadAndCallFromTheKeyboard() {
        MessageCatcher messages;
        xdo::focusWindow(m_window.get());
        xdo::click(ui(m_window).cmbPhoneNo);
        QTRY_VERIFY(ui(m_window).txtNumber->hasFocus());
        const QString before = ui(m_window).cmbPhoneNo->currentText();
        const auto number = [this] { return ui(m_window).cmbPhoneNo->currentText(); };
        xdo::type(QStringLiteral("12"));
        QTRY_COMPARE(number(), before + "12");
        xdo::key({"Tab"});
        QTRY_COMPARE(QApplication::focusWidget(), ui(m_window).Picture20);
        xdo::key({"space"});
        QTRY_COMPARE(number(), before + "121");
        xdo::key({"Tab", "Tab", "Tab", "Tab"});
        QTRY_COMPARE(QApplication::focusWidget(), ui(m_window).Picture26);
        xdo::key({"Return"});
        QTRY_COMPARE(number(), before + "1215");
        xdo::key({"shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab"});
        QTRY_VERIFY(ui(m_window).txtNumber->hasFocus());
        xdo::key({"End"}); // reached with Tab, a text box has its text selected
        xdo::type(QStringLiteral("9"));
        QTRY_COMPARE(number(), before + "12159");
        // Past the twelve keys, Call; End is skipped while it cannot be used.
        for (int i = 0; i < 13; ++i)
            xdo::key({"Tab"});
        QTRY_COMPARE(QApplication::focusWidget(), ui(m_window).Picture6);
        xdo::key({"Return"});
        QTRY_COMPARE(messages.texts(),
                     QStringList{"Sorry, you are not registered, please select Menu - LoginAs"});
        xdo::key({"Tab"});
        QTRY_VERIFY(ui(m_window).txtNumber->hasFocus());
    }
};

QTEST_MAIN(TestSkinWindow)
#include "tst_skinwindow.moc"
