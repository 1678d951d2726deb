#include "clstooltip.h"
#include "mdltooltip.h"
#include "tooltiplayout.h"
#include "tooltipwindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

// The tooltip manager: what a tip says and when it asks for it, how it looks and where it goes,
// the one tip window all instances share, and what closes a tip. The pointer is moved over
// real widgets of an active window; tips show at once (a zero delay) so nothing waits on time.
class TestTooltip : public QObject {
    Q_OBJECT

    // A window with three tools in a row and a spot away from them; each tip hangs below its
    // tool, clear of the other tools and of the spot.
    struct Stage {
        QWidget window;
        QLineEdit *edit = new QLineEdit(&window);
        QLabel *a = tool("a", 20);
        QLabel *b = tool("b", 170);
        QLabel *c = tool("c", 320);
        QLabel *off = tool("off", 170, 10);

        QLabel *tool(const char *name, int x, int y = 100) {
            auto *label = new QLabel(QString::fromLatin1(name), &window);
            label->setGeometry(x, y, 60, 30);
            return label;
        }
        Stage() {
            window.setGeometry(100, 100, 420, 200);
            edit->setGeometry(10, 160, 100, 24);
            window.show();
            window.activateWindow();
            edit->setFocus();
        }
    };

    static TooltipWindow *tip() { return mdlTooltip::hTooltipWnd; }
    static bool tipShows() { return tip() && tip()->isVisible(); }
    static void rest(QWidget *on, QPoint at = QPoint(30, 15)) { QTest::mouseMove(on, at); }
    // Lets a tip due at once come up if it is going to.
    static void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    static QRgb tipPixel(QPoint at) { return tip()->grab().toImage().pixel(at); }

private slots:
    void init() {
        QCOMPARE(mdlTooltip::lngTooltipInstances, 0); // each test cleans up after itself
        QVERIFY(!tip());
    }

    void textGivenMissingOrEmpty() {
        Stage s;
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        clsTooltip tips;
        tips.SetDelayTimes(0, -1, 0);
        QVERIFY(tips.AddTool(s.a));
        QVERIFY(tips.AddTool(s.b, QString()));
        QVERIFY(tips.AddTool(s.c, QStringLiteral("Given")));
        QVERIFY(!tips.AddTool(s.c, QStringLiteral("Twice")));
        QVERIFY(!tips.AddTool(nullptr, QStringLiteral("Nothing")));
        QList<QWidget *> asked;
        QString answer = QStringLiteral("First answer");
        connect(&tips, &clsTooltip::NeedText, this, [&](QWidget *tool, QString &text) {
            QVERIFY(text.isEmpty());
            asked << tool;
            text = answer;
        });
        QSignalSpy shown(&tips, &clsTooltip::Show);
        QSignalSpy popped(&tips, &clsTooltip::Pop);

        // Asked each time the tip shows.
        rest(s.a);
        QTRY_VERIFY(tipShows());
        QCOMPARE(tip()->look().text, QStringLiteral("First answer"));
        QCOMPARE(asked, QList<QWidget *>{s.a});
        QCOMPARE(shown.count(), 1);
        rest(s.off);
        QTRY_VERIFY(!tipShows());
        QCOMPARE(popped.count(), 1);
        answer = QStringLiteral("Second answer");
        rest(s.a);
        QTRY_VERIFY(tipShows());
        QCOMPARE(tip()->look().text, QStringLiteral("Second answer"));
        QCOMPARE(asked.size(), 2);
        // An owner that says nothing: no tip.
        answer.clear();
        rest(s.off);
        QTRY_VERIFY(!tipShows());
        rest(s.a);
        QTRY_COMPARE(asked.size(), 3);
        settle();
        QVERIFY(!tipShows());
        QCOMPARE(shown.count(), 2);

        // An empty text neither asks nor shows; given the empty text again, the tool asks.
        answer = QStringLiteral("Now asked");
        rest(s.b);
        settle();
        QVERIFY(!tipShows());
        QCOMPARE(asked.size(), 3);
        tips.UpdateTool(s.b, QString());
        rest(s.off);
        rest(s.b);
        QTRY_VERIFY(tipShows());
        QCOMPARE(asked.last(), s.b);
        QCOMPARE(tip()->look().text, QStringLiteral("Now asked"));

        // A text given stays until it is changed; a change shows on the tip that is up.
        rest(s.c);
        QTRY_COMPARE(tip()->look().text, QStringLiteral("Given"));
        tips.UpdateTool(s.c, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                        QStringLiteral("A title"));
        QCOMPARE(tip()->look().text, QStringLiteral("Given"));
        QCOMPARE(tip()->look().title, QStringLiteral("A title"));
        tips.UpdateTool(s.c, QStringLiteral("Changed"));
        QCOMPARE(tip()->look().text, QStringLiteral("Changed"));
        QCOMPARE(asked.size(), 4);
    }

    void eachToolKeepsItsOwnLook() {
        Stage s;
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        clsTooltip tips;
        tips.SetDelayTimes(0, -1, 0);
        const QString longTitle = QString(79, QLatin1Char('T')) + QStringLiteral("XYZ");
        tips.AddTool(s.a, QStringLiteral("Red on yellow"), Qt::red, Qt::yellow, false, longTitle, 1,
                     0, 4);
        tips.AddTool(s.b, QStringLiteral("The desktop's colours"));
        const QString words = QStringLiteral("a long text of many short words that cannot fit");
        tips.AddTool(s.c, words, std::nullopt, QColor(0, 200, 200), false, QStringLiteral("    "),
                     0, 0, 0, false, false, 0, 100);

        for (int round = 0; round < 2; ++round) {
            rest(s.a);
            QTRY_COMPARE(tip()->look().text, QStringLiteral("Red on yellow"));
            QCOMPARE(tipPixel(QPoint(2, 2)), QColor(Qt::yellow).rgb());
            QCOMPARE(tip()->look().foreground, QColor(Qt::red));
            // Cut to 80 characters, with its icon.
            QCOMPARE(tip()->look().title, longTitle.left(80));
            QVERIFY(!tip()->look().icon.isNull());
            rest(s.b);
            QTRY_COMPARE(tip()->look().text, QStringLiteral("The desktop's colours"));
            QCOMPARE(tipPixel(QPoint(2, 2)),
                     QGuiApplication::palette().color(QPalette::ToolTipBase).rgb());
            QCOMPARE(tip()->look().foreground,
                     QGuiApplication::palette().color(QPalette::ToolTipText));
            QVERIFY(tip()->look().title.isEmpty());
        }

        // A fixed width wraps the text; without one it stays on one line. A title of spaces
        // is no title.
        const QFontMetrics metrics(QApplication::font("QTipLabel"));
        rest(s.c);
        QTRY_COMPARE(tip()->look().text, words);
        QCOMPARE(tipPixel(QPoint(2, 2)), QColor(0, 200, 200).rgb());
        QVERIFY(tip()->look().title.isEmpty());
        QVERIFY(tip()->textRect().width() <= 100);
        QVERIFY(tip()->textRect().height() >= 3 * metrics.height());
        tips.UpdateTool(s.c, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                        std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0);
        QCOMPARE(tip()->textRect().height(), metrics.height());
        QCOMPARE(tip()->textRect().width(), metrics.horizontalAdvance(words));
    }

    void shapeOpeningAndPlace() {
        Stage s;
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        clsTooltip tips;
        tips.SetDelayTimes(0, -1, 0);
        tips.AddTool(s.a, QStringLiteral("Unrolls"), std::nullopt, std::nullopt, false, QString(),
                     0, tooltip::OpenLeftToRight, 5, true);
        tips.AddTool(s.b, QStringLiteral("Balloon"), std::nullopt, std::nullopt, true, QString(), 0,
                     tooltip::OpenLeftToRight, 5, true);
        tips.AddTool(s.c, QStringLiteral("By the pointer"));
        // What the tip is like the moment it opens.
        bool opening = false;
        QRegion firstMask;
        connect(&tips, &clsTooltip::Show, this, [&] {
            opening = tip()->isOpening();
            firstMask = tip()->mask();
        });

        // Unrolls from the left, then stands whole, centred right below its tool.
        rest(s.a);
        QTRY_VERIFY(tipShows());
        QVERIFY(opening);
        QCOMPARE(firstMask.boundingRect(), QRect(0, 0, 1, tip()->height()));
        QTRY_VERIFY(!tip()->isOpening());
        QVERIFY(tip()->mask().isEmpty()); // no mask: all of it
        const QRect tool(s.a->mapToGlobal(QPoint(0, 0)), s.a->size());
        QCOMPARE(tip()->y(), tool.bottom() + 1);
        QVERIFY(qAbs(tip()->geometry().center().x() - tool.center().x()) <= 1);

        // A balloon opens at once, rounded, its stem at the middle of its top.
        rest(s.b);
        QTRY_COMPARE(tip()->look().text, QStringLiteral("Balloon"));
        QVERIFY(!opening);
        const QRegion balloon = tip()->mask();
        QVERIFY(!balloon.contains(QPoint(0, 0)));
        QVERIFY(!balloon.contains(QPoint(tip()->width() - 1, tip()->height() - 1)));
        QVERIFY(balloon.contains(QPoint(tip()->width() / 2, 2)));
        QVERIFY(!balloon.contains(QPoint(12, 2)));
        QVERIFY(balloon.contains(tip()->rect().center()));

        // Not centred: a pointer's height below the pointer.
        rest(s.c, QPoint(10, 5));
        QTRY_COMPARE(tip()->look().text, QStringLiteral("By the pointer"));
        QCOMPARE(tip()->pos(), s.c->mapToGlobal(QPoint(10, 5 + tooltip::kPointerHeight)));

        // Without room below, above; never off the side of the screen.
        const QRect screen(0, 0, 800, 600);
        const auto place = [&](QRect at, bool centred) {
            return tooltip::placeTip(at, QSize(100, 40), screen, centred, at.center());
        };
        QCOMPARE(place(QRect(350, 100, 60, 30), true).geometry, QRect(330, 130, 100, 40));
        const tooltip::TipPlace low = place(QRect(350, 550, 60, 30), true);
        QCOMPARE(low.geometry, QRect(330, 510, 100, 40));
        QVERIFY(!low.below);
        QCOMPARE(place(QRect(770, 100, 30, 30), true).geometry.right(), 799);
        QCOMPARE(place(QRect(-20, 100, 30, 30), false).geometry.left(), 0);
    }

    void oneWindowForAllInstances() {
        Stage s;
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        auto first = std::make_unique<clsTooltip>();
        TooltipWindow *window = tip();
        QVERIFY(window);
        QVERIFY(mdlTooltip::hTooltipHook);
        auto second = std::make_unique<clsTooltip>();
        QCOMPARE(tip(), window);
        QCOMPARE(mdlTooltip::lngTooltipInstances, 2);
        second->SetDelayTimes(0, -1, 0);
        QVERIFY(first->AddTool(s.a, QStringLiteral("First's")));
        QVERIFY(!second->AddTool(s.a, QStringLiteral("Taken")));
        QVERIFY(second->AddTool(s.b));
        connect(second.get(), &clsTooltip::NeedText, this,
                [](QWidget *, QString &text) { text = QStringLiteral("Second's"); });
        rest(s.a);
        QTRY_COMPARE(tip()->look().text, QStringLiteral("First's"));

        // The first going takes its tip and its tools; the second's still show, through the
        // same window.
        first.reset();
        QVERIFY(!tipShows());
        QCOMPARE(tip(), window);
        QCOMPARE(mdlTooltip::lngTooltipInstances, 1);
        QVERIFY(second->AddTool(s.a, QStringLiteral("Second's now")));
        rest(s.b);
        QTRY_COMPARE(tip()->look().text, QStringLiteral("Second's"));
        QVERIFY(tipShows());

        // The last one takes the window and the filter.
        second.reset();
        QCOMPARE(mdlTooltip::lngTooltipInstances, 0);
        QVERIFY(!tip());
        QVERIFY(!mdlTooltip::hTooltipHook);
        for (QWidget *topLevel : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<TooltipWindow *>(topLevel));
    }

    void tipsCloseAndStayClosed() {
        Stage s;
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        clsTooltip tips;
        tips.SetDelayTimes(0, -1, 0);
        tips.AddTool(s.a, QStringLiteral("A"));
        tips.AddTool(s.b, QStringLiteral("B"));
        tips.AddTool(s.c, QStringLiteral("C"));
        QSignalSpy shown(&tips, &clsTooltip::Show);
        QSignalSpy popped(&tips, &clsTooltip::Pop);

        // A tip takes neither the keyboard nor the pointer.
        rest(s.a);
        QTRY_VERIFY(tipShows());
        QCOMPARE(QApplication::activeWindow(), &s.window);
        QCOMPARE(QApplication::focusWidget(), s.edit);
        QVERIFY(tip()->windowFlags().testFlags(Qt::ToolTip | Qt::WindowTransparentForInput |
                                               Qt::WindowDoesNotAcceptFocus));
        QVERIFY(tip()->testAttribute(Qt::WA_ShowWithoutActivating));

        // A press closes it until the pointer leaves the tool.
        QTest::mousePress(s.a, Qt::LeftButton, {}, QPoint(30, 15));
        QVERIFY(!tipShows());
        QCOMPARE(popped.count(), 1);
        QTest::mouseRelease(s.a, Qt::LeftButton, {}, QPoint(30, 15));
        rest(s.a, QPoint(31, 16));
        settle();
        QVERIFY(!tipShows());
        rest(s.off);
        rest(s.a);
        QTRY_VERIFY(tipShows());
        QCOMPARE(shown.count(), 2);

        // Time closes it the same way.
        tips.SetDelayTimes(0, 1, 0);
        rest(s.b);
        QTRY_COMPARE(shown.count(), 3);
        QTRY_COMPARE(popped.count(), 3); // a's, left; b's, timed out
        QVERIFY(!tipShows());
        rest(s.b, QPoint(31, 16));
        settle();
        QCOMPARE(shown.count(), 3);
        tips.SetDelayTimes();

        // A disabled control still tells what it is for.
        tips.SetDelayTimes(0, -1, 0);
        s.c->setEnabled(false);
        rest(s.c);
        QTRY_COMPARE(tip()->look().text, QStringLiteral("C"));

        // A tool removed, or its control destroyed, takes its tip with it.
        tips.RemoveTool(s.c);
        QVERIFY(!tipShows());
        QCOMPARE(popped.count(), 4);
        rest(s.a);
        QTRY_COMPARE(tip()->look().text, QStringLiteral("A"));
        QVERIFY(tipShows());
        delete s.a;
        QVERIFY(!tipShows());
        QCOMPARE(tips.Tools(), QList<QWidget *>{s.b});
    }
};

QTEST_MAIN(TestTooltip)
#include "tst_tooltip.moc"
