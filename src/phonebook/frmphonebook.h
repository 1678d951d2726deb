#pragma once

#include <QDialog>

class DigitBox;
class PictureBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace phonebook {
class BackgroundReader;
struct Change;
struct Line;
} // namespace phonebook

// The phone book: a list of named numbers kept in a text file. The user adds, changes and
// deletes entries, or hands one entry's number to the main window's number box. Each change is
// made to what the file holds at that moment (another copy of the program, or an editor, may have
// changed it since it was read), and the list then shows what the file holds. A change that
// cannot be saved is not made to the list either: what was typed stays in the boxes to try again.
//
// The file is read in the background while the window is up, so a huge one never holds the window
// still. Until it has been read to its end no change is taken; a file that could not be read whole
// (no permission, a disk error) is never rewritten from what was read of it: the user is told, and
// the window takes no change until it is opened again and the file reads whole.
class frmPhoneBook : public QDialog {
    Q_OBJECT
public:
    // numberBox is the main window's number box, which CALL fills; path is the phone book file.
    frmPhoneBook(QComboBox *numberBox, const QString &path, QWidget *parent = nullptr);
    ~frmPhoneBook() override;

    PictureBox *Picture1 = nullptr;
    QListWidget *lstPhoneBook = nullptr;
    QPushButton *cmdEdit = nullptr;
    QPushButton *cmdCall = nullptr;
    QPushButton *cmdDelete = nullptr;
    QPushButton *cmdAdd = nullptr;
    DigitBox *txtPhoneNo = nullptr;
    QLineEdit *txtName = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label1 = nullptr;
    PictureBox *Picture2 = nullptr;

    static QString placeholderRow() { return QStringLiteral("NEW ITEM"); }

    // Starts reading the file into the list; fileRead() follows once it has been read.
    void readFile();
    // While the file is being read.
    bool isReading() const { return m_file == FileState::Reading; }
    // Makes the change to the file and shows what the file then holds. False when the file could
    // not be written; the user has been told, and the list is as it was.
    bool WriteFile(const phonebook::Change &change);
    void FormInitialState();

signals:
    // The file has been read into the list, whole or (complete false) as far as it could be.
    void fileRead(bool complete);

private slots:
    void lstPhoneBook_Click();
    void cmdAdd_Click();
    void cmdEdit_Click();
    void cmdDelete_Click();
    void cmdCall_Click();
    void Picture2_Click();

private:
    void CreateControls();
    void Form_Load();
    void ShapeFromSkin();
    // The checks of ADD and EDIT: false (and the user told) when a box is empty or what was
    // typed cannot be kept as one row.
    bool EntryIsComplete();
    // False (and the user told) while the file may not be rewritten.
    bool FileCanChange();
    void AddRow(const QString &text, const QByteArray &bytes = QByteArray());
    QByteArray RowBytes(int index) const;
    void ShowFileLines(const phonebook::Change &change, const QList<phonebook::Line> &lines);
    void AddReadLines(const QList<phonebook::Line> &lines);
    void FileReadFinished(bool complete, const QString &error);
    int SelectedIndex() const;
    QString RowText(int index) const;

    enum class FileState { Reading, Read, Unreadable };

    QComboBox *m_numberBox;
    QString m_path;
    QString strCurrentRow;
    phonebook::BackgroundReader *m_reader = nullptr;
    FileState m_file = FileState::Reading;
    QString m_readError;
};
