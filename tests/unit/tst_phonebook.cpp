#include "clsvolume.h"
#include "dialogdriver.h"
#include "digitbox.h"
#include "fakemixerdevice.h"
#include "fakertcclient.h"
#include "filebytes.h"
#include "freedmemory.h"
#include "frmkirrow.h"
#include "frmphonebook.h"
#include "logindriver.h"
#include "mainwindowui.h"
#include "phonebookfile.h"
#include "picturebox.h"
#include "programfiles.h"
#include "scratchmount.h"

#include <QClipboard>
#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include <sys/stat.h>

// The phone book window over its file: the initial state, selecting, adding, editing, deleting,
// handing a number to the main window, the number box's filter, and failures of the disk.
class TestPhoneBook : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QComboBox m_numberBox;

    QString path() const { return m_dir.filePath("PhoneBook.txt"); }
    QByteArray contents() const { return readBytes(path()); }
    void write(const QByteArray &bytes) { QVERIFY(writeBytes(path(), bytes)); }
    static qint64 rssKiB() {
        QFile status(QStringLiteral("/proc/self/status"));
        status.open(QIODevice::ReadOnly);
        static const QRegularExpression rss(QStringLiteral("VmRSS:\\s*(\\d+)"));
        return rss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
    }
    static QStringList rows(const frmPhoneBook &book) {
        QStringList texts;
        for (int i = 0; i < book.lstPhoneBook->count(); ++i)
            texts << book.lstPhoneBook->item(i)->text();
        return texts;
    }
    static void select(frmPhoneBook &book, int row) {
        QListWidget *list = book.lstPhoneBook;
        const QRect at = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at.center());
    }
    static bool initialState(const frmPhoneBook &book) {
        return book.lstPhoneBook->currentRow() == 0 && book.txtName->text().isEmpty() &&
               book.txtPhoneNo->text().isEmpty() && book.cmdAdd->isEnabled() &&
               !book.cmdEdit->isEnabled() && !book.cmdDelete->isEnabled() &&
               !book.cmdCall->isEnabled();
    }
    static void add(frmPhoneBook &book, const QString &name, const QString &number) {
        book.txtName->setText(name);
        book.txtPhoneNo->setText(number);
        book.cmdAdd->click();
    }
    // Waits until the window has read its file in the background.
    static bool read(const frmPhoneBook &book) {
        return QTest::qWaitFor([&book] { return !book.isReading(); }, 120000);
    }
    // A window over a file that could not be read: it says so, naming the file and why, and
    // takes no change.
    void toldAndRefusesEveryChange(const QString &file, QString reason = {}) {
        if (reason.isEmpty()) {
            QFile probe(file);
            QVERIFY(!probe.open(QIODevice::ReadOnly));
            reason = probe.errorString();
        }
        MessageCatcher messages;
        frmPhoneBook book(&m_numberBox, file);
        QVERIFY(read(book));
        QCOMPARE(messages.texts().size(), 1);
        QVERIFY(messages.texts().first().contains("could not be read"));
        QVERIFY(messages.texts().first().contains(file));
        QVERIFY(messages.texts().first().contains(reason));
        messages.clear();
        add(book, "Carl", "0303");
        book.cmdEdit->setEnabled(true); // as if a row could be selected
        book.cmdEdit->click();
        book.cmdDelete->setEnabled(true);
        book.cmdDelete->click();
        QCOMPARE(messages.texts().size(), 3);
        for (const QString &text : messages.texts())
            QVERIFY(text.contains("cannot be changed because it could not be read"));
        QCOMPARE(rows(book), QStringList{"NEW ITEM"});
    }

private slots:
    // The main window's sliders work a scripted mixer, never the machine's own levels.
    void initTestCase() {
        platform::keepLittleFreedMemory(); // as the program's start does
        audio::setMixerDeviceFactory([] {
            return std::make_unique<FakeMixerDevice>(FakeMixerDevice::speakersAndMicrophone());
        });
    }
    void init() {
        QFile::remove(path());
        m_numberBox.setEditable(true);
        m_numberBox.setEditText(QString());
    }

    void aMissingFileOpensEmptyAndIsCreated() {
        frmPhoneBook book(&m_numberBox, path());
        QVERIFY(read(book));
        QCOMPARE(rows(book), QStringList{"NEW ITEM"});
        QVERIFY(initialState(book));
        QVERIFY(book.lstPhoneBook->item(0)->isSelected());
        QCOMPARE(contents(), QByteArray());
        QVERIFY(book.lstPhoneBook->font().fixedPitch() ||
                QFontInfo(book.lstPhoneBook->font()).fixedPitch());
    }

    void layoutAndTabOrder() {
        frmPhoneBook book(&m_numberBox, path());
        QCOMPARE(book.size(), QSize(440, 389));
        QCOMPARE(book.lstPhoneBook->geometry(), QRect(32, 32, 217, 72));
        QCOMPARE(book.cmdEdit->geometry(), QRect(144, 232, 57, 25));
        QCOMPARE(book.cmdAdd->geometry(), QRect(72, 200, 65, 25));
        QCOMPARE(book.txtName->geometry(), QRect(72, 128, 129, 19));
        QCOMPARE(book.Picture2->geometry(), QRect(256, 8, 12, 12));
        QCOMPARE(book.txtName->maxLength(), 30);
        QCOMPARE(book.txtPhoneNo->maxLength(), 25);
        // The "Phone No." caption overlaps the top of its box; a click there reaches the box.
        QVERIFY(book.Label2->geometry().contains(QPoint(80, 170)));
        QCOMPARE(book.childAt(QPoint(80, 170)), book.txtPhoneNo);
        const QList<QWidget *> order{book.lstPhoneBook, book.cmdEdit, book.cmdCall,
                                     book.cmdDelete,    book.cmdAdd,  book.txtPhoneNo,
                                     book.txtName};
        auto nextTabStop = [](QWidget *w) {
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus));
            return w;
        };
        for (int i = 0; i + 1 < order.size(); ++i)
            QCOMPARE(nextTabStop(order[i]), order[i + 1]);
        // Shaped from its picture: the corner of the skin outside the outline is cut away.
        QVERIFY(!book.mask().isEmpty());
        QVERIFY(!book.mask().contains(QPoint(279, 295)));
        QVERIFY(book.mask().contains(QPoint(140, 150)));
    }

    void rowsAsTheyStandAndAnAddUndoneByADeleteGivesTheSameBytes() {
        // The second line is not valid text here (written by an older system): kept byte for byte.
        const QByteArray original = "Anna--0301\r\nM\xfcller--0302\r\n";
        write(original);
        frmPhoneBook book(&m_numberBox, path());
        QVERIFY(read(book));
        QCOMPARE(rows(book).size(), 3);
        QCOMPARE(rows(book).at(1), QStringLiteral("Anna--0301"));
        add(book, "Carl", "0303");
        QCOMPARE(contents(), original + "Carl--0303\r\n");
        QVERIFY(initialState(book));
        select(book, 3);
        QCOMPARE(book.txtName->text(), QStringLiteral("Carl"));
        book.cmdDelete->click();
        QCOMPARE(contents(), original);
        QVERIFY(initialState(book));
    }

    void deletingTheOnlyEntryLeavesAnEmptyFile() {
        write("Anna--0301\r\n");
        frmPhoneBook book(&m_numberBox, path());
        QVERIFY(read(book));
        select(book, 1);
        book.cmdDelete->click();
        QCOMPARE(rows(book), QStringList{"NEW ITEM"});
        QVERIFY(QFileInfo::exists(path()));
        QCOMPARE(contents(), QByteArray());
    }

    void addTrimsTheNameAndTheNumber() {
        write("Anna--0301\r\n");
        frmPhoneBook book(&m_numberBox, path());
        QVERIFY(read(book));
        add(book, "  Bob ", "123");
        QCOMPARE(contents(), QByteArray("Anna--0301\r\nBob--123\r\n"));
        // A name of spaces only is a name: its row has an empty name part.
        add(book, "   ", "456");
        QCOMPARE(contents(), QByteArray("Anna--0301\r\nBob--123\r\n--456\r\n"));
    }

    void selectingSplitsAtTheFirstSeparator() {
        write("A--B--C\r\njust a note\r\n\r\n");
        frmPhoneBook book(&m_numberBox, path());
        QVERIFY(read(book));
        select(book, 1);
        QCOMPARE(book.txtName->text(), QStringLiteral("A"));
        QCOMPARE(book.txtPhoneNo->text(), QStringLiteral("B"));
        QVERIFY(!book.cmdAdd->isEnabled());
        QVERIFY(book.cmdEdit->isEnabled() && book.cmdDelete->isEnabled() &&
                book.cmdCall->isEnabled());
        // A row without a separator shows as a name; an empty row empties both boxes.
        select(book, 2);
        QCOMPARE(book.txtName->text(), QStringLiteral("just a note"));
        QCOMPARE(book.txtPhoneNo->text(), QString());
        book.lstPhoneBook->setCurrentRow(3); // as the arrow keys select it
        QCOMPARE(book.txtName->text(), QString());
        QVERIFY(book.cmdEdit->isEnabled());
        select(book, 0);
        QVERIFY(initialState(book));
    }

    void aLastLineWithoutCrLfIsReadAndRewrittenWithOne() {
        write("Anna--0301\r\nBob--0302");
        frmPhoneBook book(&m_numberBox, path());
        QVERIFY(read(book));
        QCOMPARE(rows(book), (QStringList{"NEW ITEM", "Anna--0301", "Bob--0302"}));
        select(book, 2);
        book.cmdEdit->click(); // unchanged
        QCOMPARE(contents(), QByteArray("Anna--0301\r\nBob--0302\r\n"));
        QVERIFY(initialState(book));
    }

    void editKeepsThePlace() {
        write("Anna--0301\r\nBob--0302\r\nCarl--0303\r\n");
        frmPhoneBook book(&m_numberBox, path());
        QVERIFY(read(book));
        select(book, 2);
        book.txtName->setText("Robert");
        book.txtPhoneNo->setText("0399");
        book.cmdEdit->click();
        QCOMPARE(rows(book), (QStringList{"NEW ITEM", "Anna--0301", "Robert--0399", "Carl--0303"}));
        QCOMPARE(contents(), QByteArray("Anna--0301\r\nRobert--0399\r\nCarl--0303\r\n"));
        QVERIFY(initialState(book));
    }

    void messagesForWhatCannotBeDone() {
        write("Anna--0301\r\n");
        frmPhoneBook book(&m_numberBox, path());
        QVERIFY(read(book));
        book.show();
        QVERIFY(QTest::qWaitForWindowActive(&book));
        MessageCatcher messages;
        book.cmdDelete->setEnabled(true); // even if it could be pressed on the placeholder row
        book.cmdDelete->click();
        QCOMPARE(messages.texts(), QStringList{"Can't Delete."});
        QCOMPARE(rows(book).size(), 2);

        messages.clear();
        book.cmdAdd->setFocus();
        book.cmdAdd->click(); // both boxes empty
        QCOMPARE(messages.texts(), QStringList{"Enter Name."});
        QCOMPARE(QApplication::focusWidget(), book.txtName);

        messages.clear();
        book.txtName->setText("Bob");
        book.cmdAdd->setFocus();
        book.cmdAdd->click();
        QCOMPARE(messages.texts(), QStringList{"Enter Phone Number."});
        QCOMPARE(QApplication::focusWidget(), book.txtPhoneNo);

        messages.clear();
        select(book, 1);
        book.txtName->clear();
        book.cmdEdit->click();
        QCOMPARE(messages.texts(), QStringList{"Enter Name."});
        QCOMPARE(contents(), QByteArray("Anna--0301\r\n"));
        QCOMPARE(rows(book).size(), 2);

        // A separator in the name would come back from the file as another name and number.
        messages.clear();
        book.txtName->setText("X--Y");
        book.txtPhoneNo->setText("777");
        book.cmdEdit->click();
        QCOMPARE(messages.texts(), QStringList{"A name or number may not contain \"--\"."});
        QCOMPARE(rows(book).at(1), QStringLiteral("Anna--0301"));
        QCOMPARE(contents(), QByteArray("Anna--0301\r\n"));
    }

    void theNumberBoxTakesDigitsOnly() {
        frmPhoneBook book(&m_numberBox, path());
        book.show();
        QVERIFY(QTest::qWaitForWindowActive(&book));
        DigitBox *box = book.txtPhoneNo;
        box->setFocus();
        MessageCatcher messages;
        QTest::keyClicks(box, "12");
        QCOMPARE(box->text(), QStringLiteral("12"));
        QVERIFY(messages.texts().isEmpty());

        QApplication::clipboard()->setText("999");
        QTest::keyClick(box, Qt::Key_A);
        QTest::keyClick(box, Qt::Key_Space);
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box->text(), QStringLiteral("12"));
        QCOMPARE(messages.texts(), QStringList(4, "Numbers 0 to 9 only, please!"));

        messages.clear();
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box->text(), QStringLiteral("1"));
        // The name box takes anything.
        QTest::keyClicks(book.txtName, "Anna 2");
        QCOMPARE(book.txtName->text(), QStringLiteral("Anna 2"));
        QVERIFY(messages.texts().isEmpty());
    }

    void pastingThroughTheContextMenuIsFilteredToo() {
        frmPhoneBook book(&m_numberBox, path());
        book.show();
        QVERIFY(QTest::qWaitForWindowActive(&book));
        DigitBox *box = book.txtPhoneNo;
        box->setText("5");
        MessageCatcher messages;
        auto pasteFromMenu = [box](const QString &clip) {
            QApplication::clipboard()->setText(clip);
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                    box->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(box, &event);
            QMenu *menu = nullptr;
            QTRY_VERIFY((menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())));
            QAction *paste = nullptr;
            for (QAction *action : menu->actions())
                if (action->text().contains("Paste"))
                    paste = action;
            QVERIFY(paste && paste->isEnabled());
            paste->trigger();
            menu->close();
        };
        pasteFromMenu("12a");
        QCOMPARE(box->text(), QStringLiteral("5"));
        QCOMPARE(messages.texts(), QStringList{"Numbers 0 to 9 only, please!"});
        messages.clear();
        box->end(false);
        pasteFromMenu("123");
        QCOMPARE(box->text(), QStringLiteral("5123"));
        QVERIFY(messages.texts().isEmpty());
        // Shift+Insert pastes the same way.
        QApplication::clipboard()->setText("4 5");
        QTest::keyClick(box, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(box->text(), QStringLiteral("5123"));
        QCOMPARE(messages.texts(), QStringList{"Numbers 0 to 9 only, please!"});
    }

    void callHandsTheEditedNumberOverAndCloses() {
        write("Anna--0301\r\n");
        m_numberBox.setEditText("777");
        frmPhoneBook book(&m_numberBox, path());
        QVERIFY(read(book));
        book.show();
        select(book, 1);
        book.txtPhoneNo->setText("03019"); // changed after selecting
        book.cmdCall->click();
        QCOMPARE(m_numberBox.currentText(), QStringLiteral("03019"));
        QVERIFY(!book.isVisible());
        QCOMPARE(book.result(), int(QDialog::Accepted));
        QCOMPARE(contents(), QByteArray("Anna--0301\r\n")); // the change was not saved
    }

    void theCloseImageClosesAndKeepsTheFileAsLastWritten() {
        write("Anna--0301\r\n");
        m_numberBox.setEditText("777");
        frmPhoneBook book(&m_numberBox, path());
        QVERIFY(read(book));
        book.show();
        add(book, "Bob", "0302");
        book.txtName->setText("typed but not added");
        QTest::mouseClick(book.Picture2, Qt::LeftButton);
        QVERIFY(!book.isVisible());
        QCOMPARE(m_numberBox.currentText(), QStringLiteral("777"));
        QCOMPARE(contents(), QByteArray("Anna--0301\r\nBob--0302\r\n"));
    }

    void aFailedSaveIsToldAndTheOldFileKept() {
        ScratchMount disk;
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        const QString file = disk.filePath("PhoneBook.txt");
        const QByteArray before = "Anna--0301\r\nBob--0302\r\n";
        QVERIFY(writeBytes(file, before));
        QVERIFY(disk.fill() > 0);
        frmPhoneBook book(&m_numberBox, file);
        QVERIFY(read(book));
        MessageCatcher messages;
        add(book, "Carl", "0303");
        QCOMPARE(messages.texts().size(), 1);
        QVERIFY(messages.texts().first().contains("could not be saved"));
        QVERIFY(messages.texts().first().contains(file));
        // The list shows the file as it stands; what was typed waits in the boxes.
        QCOMPARE(rows(book).last(), QStringLiteral("Bob--0302"));
        QCOMPARE(book.txtName->text(), QStringLiteral("Carl"));
        QCOMPARE(readBytes(file), before);

        // Read-only: the same.
        QFile::remove(disk.filePath("filler"));
        QVERIFY(disk.makeReadOnly());
        messages.clear();
        select(book, 1);
        book.cmdDelete->click();
        QCOMPARE(messages.texts().size(), 1);
        QCOMPARE(readBytes(file), before);
    }

    // Two windows over one file (two copies of the program on one folder): each change is made
    // to what the file holds then, so neither loses what the other saved, and each window then
    // shows the file as it stands. A row the other changed or deleted meanwhile is deleted no
    // more; one changed here comes back as the new row.
    void twoWritersLoseNothing() {
        write("Anna--0301\r\nBob--0302\r\nDora--0304\r\n");
        frmPhoneBook a(&m_numberBox, path());
        frmPhoneBook b(&m_numberBox, path());
        QVERIFY(read(a));
        QVERIFY(read(b));
        add(b, "Carl", "0303");
        add(a, "Eve", "0305"); // a has not seen Carl
        const QStringList all = {"NEW ITEM",   "Anna--0301", "Bob--0302",
                                 "Dora--0304", "Carl--0303", "Eve--0305"};
        QCOMPARE(rows(a), all);
        QVERIFY(initialState(a));
        select(a, 2);
        a.cmdDelete->click();
        select(b, 2); // Bob, whom a has just deleted
        b.txtPhoneNo->setText("0399");
        b.cmdEdit->click();
        select(a, 1);
        a.txtPhoneNo->setText("0311");
        a.cmdEdit->click();
        select(b, 1); // Anna as b saw her, whom a has just changed
        b.cmdDelete->click();
        const QByteArray now =
            "Anna--0311\r\nDora--0304\r\nCarl--0303\r\nEve--0305\r\nBob--0399\r\n";
        QCOMPARE(contents(), now);
        QCOMPARE(rows(b).mid(1).join("\r\n") + "\r\n", QString::fromLatin1(now));
        QVERIFY(initialState(b));

        // While another writer holds the file's lock nothing is written; what was typed waits.
        MessageCatcher messages;
        {
            const platform::FileWriteLock other(path());
            add(a, "Finn", "0306");
        }
        QCOMPARE(messages.texts().size(), 1);
        QVERIFY(messages.texts().first().contains("another copy of the program is writing it"));
        QCOMPARE(contents(), now);
        QCOMPARE(a.txtName->text(), QStringLiteral("Finn"));
        a.cmdAdd->click();
        QCOMPARE(contents(), now + "Finn--0306\r\n");
    }

    void aFileThatCannotBeReadIsToldAndNeverRewritten() {
        if (const QString folder = unprivileged::folder(); !folder.isEmpty())
            return toldAndRefusesEveryChange(folder + "/PhoneBook.txt"); // the run as nobody
        // A folder or a named pipe where the file should be fails at once, and stays.
        QVERIFY(QDir().mkpath(m_dir.filePath("folder")));
        toldAndRefusesEveryChange(m_dir.filePath("folder"), "it is not a regular file");
        const QString pipe = m_dir.filePath("pipe");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        toldAndRefusesEveryChange(pipe, "it is not a regular file");
        struct stat info {};
        QVERIFY(::stat(QFile::encodeName(pipe).constData(), &info) == 0 && S_ISFIFO(info.st_mode));

        // A file its user may not read, in a folder the user may write: with no permission at
        // all, and with leave to write it but not to read it.
        QTemporaryDir folder(QDir::tempPath() + "/kirrow-unreadable-XXXXXX");
        const QString file = folder.filePath("PhoneBook.txt");
        const QByteArray before = "Anna--0301\r\nBob--0302\r\n";
        QVERIFY(writeBytes(file, before));
        for (const QFile::Permissions mode :
             {QFile::Permissions(), QFile::Permissions(QFile::WriteOwner)}) {
            QVERIFY(QFile::setPermissions(file, mode));
            if (unprivileged::needed())
                QCOMPARE(unprivileged::runAsNobody(QTest::currentTestFunction(), folder.path()),
                         QString());
            else
                toldAndRefusesEveryChange(file);
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
            QCOMPARE(readBytes(file), before);
            QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{"PhoneBook.txt"});
        }
    }

    // A line of megabytes and a million lines are read while the window goes on: its timers keep
    // firing all along, and no change is taken until the whole file is in the list.
    void aHugeFileIsReadWhileTheWindowGoesOn() {
        QByteArray original = "Huge " + QByteArray(10 << 20, 'x') + "--0301\r\n";
        for (int i = 0; i < 1000000; ++i)
            original += "Name " + QByteArray::number(i) + "--" + QByteArray::number(i) + "\r\n";
        write(original);
        MessageCatcher messages;
        QElapsedTimer clock;
        clock.start();
        qint64 lastTick = 0;
        qint64 longestGap = 0;
        int ticks = 0;
        QTimer timer;
        timer.setInterval(50);
        connect(&timer, &QTimer::timeout, [&] {
            ++ticks;
            longestGap = qMax(longestGap, clock.elapsed() - lastTick);
            lastTick = clock.elapsed();
        });
        timer.start();
        frmPhoneBook book(&m_numberBox, path());
        book.show();
        add(book, "Carl", "0303");
        QCOMPARE(
            messages.texts(),
            QStringList{"The phone book is still being read. Try again once it has been read."});
        QVERIFY(read(book));
        longestGap = qMax(longestGap, clock.elapsed() - lastTick);
        QVERIFY2(ticks > 0 && longestGap < 1000,
                 qPrintable(QStringLiteral("%1 ticks in %2 ms, the longest gap %3 ms")
                                .arg(ticks)
                                .arg(clock.elapsed())
                                .arg(longestGap)));
        QCOMPARE(book.lstPhoneBook->count(), 1000002);
        QVERIFY(book.lstPhoneBook->item(1)->text().size() < 300); // shown cut, kept whole
        QCOMPARE(book.lstPhoneBook->item(1000001)->text(), QStringLiteral("Name 999999--999999"));
        add(book, "Carl", "0303");
        QCOMPARE(contents(), original + "Carl--0303\r\n");
    }

    // What the list and the reading thread held goes back to the system once the window is gone.
    void aClosedBookGivesItsMemoryBack() {
#ifdef __SANITIZE_ADDRESS__
        QSKIP("AddressSanitizer's allocator keeps what is freed in quarantine");
#endif
        QByteArray file;
        for (int i = 0; i < 100000; ++i)
            file += "Name " + QByteArray::number(i) + "--" + QByteArray::number(i) + "\r\n";
        const auto openAndClose = [&](const QByteArray &contents) {
            write(contents);
            {
                frmPhoneBook book(&m_numberBox, path());
                book.show();
                QVERIFY(read(book));
            }
            QTest::qWait(0);
        };
        openAndClose({}); // what any window loads once, and what earlier cases left, let go
        const qint64 before = rssKiB();
        openAndClose(file);
        QVERIFY2(rssKiB() - before < 4 * 1024,
                 qPrintable(QStringLiteral("%1 KiB more").arg(rssKiB() - before)));
    }

    // From the main window's button, over a scripted engine: CALL fills the number box and no
    // call starts.
    void theMainWindowsButtonOpensItAndNoCallStarts() {
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
        std::shared_ptr<FakeRTCClient> client;
        const auto window = startOverFakeEngine(&client);
        QVERIFY(client);
        client->raiseRegistration(2);
        const int before = client->calls.size();

        const QString book = phonebook::phoneBookPath();
        QVERIFY(writeBytes(book, "Anna--0301\r\n"));
        bool shown = false;
        whenModalShows<frmPhoneBook>([&shown](frmPhoneBook *dialog) {
            shown = true;
            QVERIFY(read(*dialog));
            dialog->lstPhoneBook->setCurrentRow(1);
            dialog->cmdCall->click();
        });
        QTest::mouseClick(ui(window).Picture11, Qt::LeftButton);
        QVERIFY(shown);
        QCOMPARE(ui(window).cmbPhoneNo->currentText(), QStringLiteral("0301"));
        QCOMPARE(client->calls.size(), before);
        QFile::remove(book);
    }
};

QTEST_MAIN(TestPhoneBook)
#include "tst_phonebook.moc"
