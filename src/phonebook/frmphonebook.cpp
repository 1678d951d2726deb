#include "frmphonebook.h"

#include "digitbox.h"
#include "freedmemory.h"
#include "messagebox.h"
#include "phonebookfile.h"
#include "picturebox.h"
#include "picturepreload.h"
#include "region.h"
#include "skinnedform.h"
#include "skinresources.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>

namespace {
constexpr int kClientWidthTwips = 6600;
constexpr int kClientHeightTwips = 5835;
const QColor kBackColour(165, 203, 221);
const QColor kListColour(224, 224, 224);
// Fonts of 8.25 points, the size the layout was drawn for, as pixels of a 96 dpi screen.
constexpr int kSmallFontPixels = 11;

// The raw bytes a row was read with, so that a rewrite gives them back unchanged.
constexpr int kBytesRole = Qt::UserRole;
// A row longer than this (a file edited by hand) shows cut, so that painting it stays quick;
// its bytes are kept whole.
constexpr qsizetype kShownCharacters = 200;

QFont smallFont(const QString &family, QFont::StyleHint hint, bool bold) {
    QFont font(family);
    font.setStyleHint(hint);
    font.setPixelSize(kSmallFontPixels);
    font.setBold(bold);
    return font;
}

QListWidgetItem *rowItem(const QString &text, const QByteArray &bytes) {
    auto *item = new QListWidgetItem(
        text.size() > kShownCharacters ? text.left(kShownCharacters) + QChar(0x2026) : text);
    if (!bytes.isNull())
        item->setData(kBytesRole, bytes);
    return item;
}

QPushButton *button(const QString &caption, QWidget *parent) {
    auto *b = new QPushButton(caption, parent);
    b->setFont(smallFont(QStringLiteral("MS Sans Serif"), QFont::SansSerif, true));
    // Enter is not a shortcut for any button here.
    b->setAutoDefault(false);
    return b;
}

QLabel *label(const QString &text, QWidget *parent) {
    auto *l = new QLabel(text, parent);
    l->setFont(smallFont(QStringLiteral("Verdana"), QFont::SansSerif, true));
    l->setAttribute(Qt::WA_TranslucentBackground);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A caption lies under the boxes it overlaps and takes no clicks from them.
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    l->lower();
    return l;
}
} // namespace

// The list and the entries read go with the window; what they held goes back to the system.
frmPhoneBook::~frmPhoneBook() {
    platform::returnFreedMemoryLater();
}

frmPhoneBook::frmPhoneBook(QComboBox *numberBox, const QString &path, QWidget *parent)
    : QDialog(parent), m_numberBox(numberBox), m_path(path) {
    CreateControls();
    Form_Load();
}

void frmPhoneBook::CreateControls() {
    setUpSkinnedDialog(this, QStringLiteral("frmPhoneBook"), QStringLiteral("Phone Book"),
                       kClientWidthTwips, kClientHeightTwips);
    fillBackground(this, kBackColour);

    Picture1 = placeTwips(new PictureBox(this), 0, 0, 4200, 4440);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    lstPhoneBook = placeTwips(new QListWidget(Picture1), 480, 480, 3255, 1080);
    lstPhoneBook->setObjectName(QStringLiteral("lstPhoneBook"));
    lstPhoneBook->setFont(smallFont(QStringLiteral("Courier New"), QFont::TypeWriter, false));
    lstPhoneBook->setUniformItemSizes(true);
    lstPhoneBook->setSelectionMode(QAbstractItemView::SingleSelection);
    setColour(lstPhoneBook, QPalette::Base, kListColour);
    setColour(lstPhoneBook, QPalette::Text, Qt::black);
    cmdEdit = placeTwips(button(QStringLiteral("EDIT"), Picture1), 2160, 3480, 855, 375);
    cmdCall = placeTwips(button(QStringLiteral("CALL"), Picture1), 2160, 3000, 855, 375);
    cmdDelete = placeTwips(button(QStringLiteral("DELETE"), Picture1), 1080, 3480, 975, 375);
    cmdAdd = placeTwips(button(QStringLiteral("ADD"), Picture1), 1080, 3000, 975, 375);
    cmdEdit->setObjectName(QStringLiteral("cmdEdit"));
    cmdCall->setObjectName(QStringLiteral("cmdCall"));
    cmdDelete->setObjectName(QStringLiteral("cmdDelete"));
    cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    txtPhoneNo = placeTwips(new DigitBox(Picture1), 1080, 2520, 1935, 285);
    txtPhoneNo->setObjectName(QStringLiteral("txtPhoneNo"));
    txtPhoneNo->setMaxLength(25);
    txtName = placeTwips(new QLineEdit(Picture1), 1080, 1920, 1935, 285);
    txtName->setObjectName(QStringLiteral("txtName"));
    txtName->setMaxLength(30);
    Label2 = placeTwips(label(QStringLiteral("Phone No."), Picture1), 1080, 2280, 975, 375);
    Label1 = placeTwips(label(QStringLiteral("Name"), Picture1), 1080, 1680, 975, 255);
    // The captions name their boxes for a screen reader.
    Label2->setBuddy(txtPhoneNo);
    Label1->setBuddy(txtName);
    Picture2 = placeTwips(new PictureBox(Picture1), 3840, 120, 180, 180);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setCursor(Qt::PointingHandCursor);

    setTabOrder(lstPhoneBook, cmdEdit);
    setTabOrder(cmdEdit, cmdCall);
    setTabOrder(cmdCall, cmdDelete);
    setTabOrder(cmdDelete, cmdAdd);
    setTabOrder(cmdAdd, txtPhoneNo);
    setTabOrder(txtPhoneNo, txtName);
    lstPhoneBook->setFocus();

    // A click, and a change of the selection by keyboard, both select the row.
    connect(lstPhoneBook, &QListWidget::itemClicked, this, &frmPhoneBook::lstPhoneBook_Click);
    connect(lstPhoneBook, &QListWidget::currentRowChanged, this, &frmPhoneBook::lstPhoneBook_Click);
    connect(cmdAdd, &QPushButton::clicked, this, &frmPhoneBook::cmdAdd_Click);
    connect(cmdEdit, &QPushButton::clicked, this, &frmPhoneBook::cmdEdit_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmPhoneBook::cmdDelete_Click);
    connect(cmdCall, &QPushButton::clicked, this, &frmPhoneBook::cmdCall_Click);
    connect(Picture2, &PictureBox::clicked, this, &frmPhoneBook::Picture2_Click);
    connect(txtPhoneNo, &DigitBox::refused, this, [] { platform::showInputError(); });
}

void frmPhoneBook::Form_Load() {
    ShapeFromSkin();
    AddRow(placeholderRow());
    FormInitialState();
    readFile();
}

void frmPhoneBook::ShapeFromSkin() {
    initSkinResources();
    Picture1->setPicture(skin::loadPicture(QStringLiteral(":/skin/phonebook.png")));
    Picture2->setPicture(skin::loadPicture(QStringLiteral(":/skin/phonebook-close.png")));
    shapeFromPicture(this, *Picture1);
}

void frmPhoneBook::AddRow(const QString &text, const QByteArray &bytes) {
    lstPhoneBook->addItem(rowItem(text, bytes));
}

QString frmPhoneBook::RowText(int index) const {
    const QListWidgetItem *item = lstPhoneBook->item(index);
    const QVariant bytes = item->data(kBytesRole);
    return bytes.isValid() ? QString::fromLocal8Bit(bytes.toByteArray()) : item->text();
}

void frmPhoneBook::readFile() {
    if (m_reader)
        return;
    m_file = FileState::Reading;
    m_reader = new phonebook::BackgroundReader(this);
    connect(m_reader, &phonebook::BackgroundReader::linesRead, this, &frmPhoneBook::AddReadLines);
    connect(m_reader, &phonebook::BackgroundReader::finished, this,
            &frmPhoneBook::FileReadFinished);
    m_reader->start(m_path);
}

void frmPhoneBook::AddReadLines(const QList<phonebook::Line> &lines) {
    // Rows coming in move neither the selection nor what the boxes hold.
    const QSignalBlocker quiet(lstPhoneBook);
    for (const phonebook::Line &line : lines)
        AddRow(line.text, line.bytes);
}

void frmPhoneBook::FileReadFinished(bool complete, const QString &error) {
    m_file = complete ? FileState::Read : FileState::Unreadable;
    m_readError = error;
    emit fileRead(complete);
    if (complete)
        return;
    platform::showMessage(
        QStringLiteral("The phone book %1 could not be read: %2\n\nThe list shows what could be "
                       "read of it. No change will be saved to the file, so that nothing in it "
                       "is lost; open the phone book again once the file can be read.")
            .arg(QDir::toNativeSeparators(m_path), error),
        QString(), platform::MessageIcon::Warning);
}

bool frmPhoneBook::FileCanChange() {
    switch (m_file) {
    case FileState::Read:
        return true;
    case FileState::Reading:
        platform::showMessage(
            QStringLiteral("The phone book is still being read. Try again once it has been read."));
        return false;
    case FileState::Unreadable:
        break;
    }
    platform::showMessage(
        QStringLiteral("The phone book %1 cannot be changed because it could not be read: %2\n\n"
                       "Nothing was saved. Open the phone book again once the file can be read.")
            .arg(QDir::toNativeSeparators(m_path), m_readError),
        QString(), platform::MessageIcon::Warning);
    return false;
}

QByteArray frmPhoneBook::RowBytes(int index) const {
    const QListWidgetItem *item = lstPhoneBook->item(index);
    const QVariant bytes = item->data(kBytesRole);
    return bytes.isValid() ? bytes.toByteArray() : item->text().toLocal8Bit();
}

bool frmPhoneBook::WriteFile(const phonebook::Change &change) {
    QList<phonebook::Line> lines;
    QString error;
    if (phonebook::changeFile(m_path, change, &lines, &error)) {
        ShowFileLines(change, lines);
        return true;
    }
    platform::showMessage(
        QStringLiteral("The phone book could not be saved to %1: %2\n\nThe file and the list "
                       "still hold the phone book as it was before this change; what was typed is "
                       "still in the boxes, to try again once the file can be written.")
            .arg(QDir::toNativeSeparators(m_path), error),
        QString(), platform::MessageIcon::Warning);
    return false;
}

// The list takes the change alone when the file holds what the list held with it; otherwise
// another writer changed the file meanwhile, and the list is filled again with what it holds.
void frmPhoneBook::ShowFileLines(const phonebook::Change &change,
                                 const QList<phonebook::Line> &lines) {
    QList<QByteArray> expected;
    expected.reserve(lstPhoneBook->count());
    for (int i = 1; i < lstPhoneBook->count(); ++i)
        expected << RowBytes(i);
    const qsizetype at = phonebook::applyChange(expected, change);
    bool same = expected.size() == lines.size();
    for (qsizetype i = 0; same && i < lines.size(); ++i)
        same = expected.at(i) == lines.at(i).bytes;
    // Rows changing move neither the selection nor what the boxes hold.
    const QSignalBlocker quiet(lstPhoneBook);
    if (!same) {
        lstPhoneBook->clear();
        AddRow(placeholderRow());
        for (const phonebook::Line &line : lines)
            AddRow(line.text, line.bytes);
        return;
    }
    if (at < 0)
        return;
    const int row = int(at) + 1;
    if (change.kind != phonebook::Change::Kind::Add && row < lstPhoneBook->count())
        delete lstPhoneBook->takeItem(row);
    if (change.kind != phonebook::Change::Kind::Remove)
        lstPhoneBook->insertItem(row, rowItem(lines.at(at).text, lines.at(at).bytes));
}

void frmPhoneBook::FormInitialState() {
    txtName->clear();
    txtPhoneNo->clear();
    cmdEdit->setEnabled(false);
    cmdDelete->setEnabled(false);
    cmdCall->setEnabled(false);
    cmdAdd->setEnabled(true);
    lstPhoneBook->setCurrentRow(0);
}

int frmPhoneBook::SelectedIndex() const {
    return lstPhoneBook->currentRow();
}

void frmPhoneBook::lstPhoneBook_Click() {
    const int index = SelectedIndex();
    if (index < 0)
        return;
    if (index == 0) {
        FormInitialState();
        return;
    }
    strCurrentRow = RowText(index);
    const phonebook::RowParts parts = phonebook::splitRow(strCurrentRow);
    txtName->setText(parts.name);
    txtPhoneNo->setText(parts.number);
    cmdAdd->setEnabled(false);
    cmdEdit->setEnabled(true);
    cmdDelete->setEnabled(true);
    cmdCall->setEnabled(true);
}

bool frmPhoneBook::EntryIsComplete() {
    if (txtName->text().isEmpty()) {
        platform::showMessage(QStringLiteral("Enter Name."));
        txtName->setFocus();
        return false;
    }
    if (txtPhoneNo->text().isEmpty()) {
        platform::showMessage(QStringLiteral("Enter Phone Number."));
        txtPhoneNo->setFocus();
        return false;
    }
    const QString problem = phonebook::entryProblem(txtName->text(), txtPhoneNo->text());
    if (!problem.isEmpty()) {
        platform::showMessage(problem);
        txtName->setFocus();
        return false;
    }
    return true;
}

void frmPhoneBook::cmdAdd_Click() {
    if (!FileCanChange() || !EntryIsComplete())
        return;
    strCurrentRow = phonebook::composeRow(txtName->text(), txtPhoneNo->text());
    if (WriteFile({phonebook::Change::Kind::Add, strCurrentRow.toLocal8Bit(), {}}))
        FormInitialState();
}

void frmPhoneBook::cmdEdit_Click() {
    if (!FileCanChange() || !EntryIsComplete())
        return;
    const int index = SelectedIndex();
    if (index < 1)
        return; // EDIT is only enabled with an entry selected
    strCurrentRow = phonebook::composeRow(txtName->text(), txtPhoneNo->text());
    if (WriteFile({phonebook::Change::Kind::Replace, RowBytes(index), strCurrentRow.toLocal8Bit()}))
        FormInitialState();
}

void frmPhoneBook::cmdDelete_Click() {
    if (!FileCanChange())
        return;
    const int index = SelectedIndex();
    if (index < 1) {
        platform::showMessage(QStringLiteral("Can't Delete."));
        return;
    }
    if (WriteFile({phonebook::Change::Kind::Remove, RowBytes(index), {}}))
        FormInitialState();
}

void frmPhoneBook::cmdCall_Click() {
    if (m_numberBox)
        m_numberBox->setEditText(txtPhoneNo->text());
    accept();
}

void frmPhoneBook::Picture2_Click() {
    reject();
}
