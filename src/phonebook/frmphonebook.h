#pragma once

#include <QDialog>

class DigitBox;
class PictureBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The phone book: a list of named numbers kept in a text file. The user adds, changes and
// deletes entries, or hands one entry's number to the main window's number box. The list is the
// phone book while the window is open; the file is rewritten whole after every change.
class frmPhoneBook : public QDialog {
    Q_OBJECT
public:
    // numberBox is the main window's number box, which CALL fills; path is the phone book file.
    frmPhoneBook(QComboBox *numberBox, const QString &path, QWidget *parent = nullptr);

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

    void readFile();
    // False when the file could not be written; the user has been told.
    bool WriteFile();
    void FormInitialState();

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
    // The checks of ADD and EDIT: false (and the user told) when a box is empty.
    bool EntryIsComplete();
    void AddRow(const QString &text, const QByteArray &bytes = QByteArray());
    int SelectedIndex() const;

    QComboBox *m_numberBox;
    QString m_path;
    QString strCurrentRow;
};
