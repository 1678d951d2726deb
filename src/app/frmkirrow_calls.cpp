// The main window's call controls: the buttons, the dial pad and the number box forward to the
// call controller, and the window shows the status, number and arrangement it reports.

#include "callcontroller.h"
#include "digitbox.h"
#include "frmkirrow.h"
#include "frmphonebook.h"
#include "frmrecent.h"
#include "messagebox.h"
#include "phonebookfile.h"
#include "picturebox.h"
#include "recentlog.h"

#include <QComboBox>
#include <QLabel>

#include <vector>

void frmKirrow::WireCallControls() {
    m_calls = new calls::CallController(*m_registration, this);
    cmbPhoneNo->setInsertPolicy(QComboBox::NoInsert); // the list is never filled
    // Keypad keys and Enter, however they reach the box; the rest is refused with the warning.
    txtNumber = new DigitBox(cmbPhoneNo, QStringLiteral("*#\r"));
    cmbPhoneNo->setLineEdit(txtNumber);
    txtNumber->setKeyHandler([this](QChar key) { return m_calls->cmbPhoneNo_KeyPress(key); });
    connect(txtNumber, &DigitBox::refused, this, [] { platform::showInputError(); });
    connect(cmbPhoneNo, &QComboBox::editTextChanged, m_calls, &calls::CallController::setNumber);

    connect(m_calls, &calls::CallController::statusChanged, lblMsg,
            [this](const QString &text) { lblMsg->showStatus(text); });
    connect(m_calls, &calls::CallController::waitingCallerChanged, lblMsg,
            [this](const QString &number) {
                lblMsg->setNote(number.isEmpty() ? QString() : "Call waiting: " + number);
            });
    connect(m_calls, &calls::CallController::numberChanged, this, [this](const QString &number) {
        if (cmbPhoneNo->currentText() != number)
            cmbPhoneNo->setEditText(number);
    });
    connect(m_calls, &calls::CallController::numberFocusWanted, this,
            [this] { cmbPhoneNo->setFocus(); });
    connect(m_calls, &calls::CallController::arrangementChanged, this, &frmKirrow::ShowArrangement);

    using C = calls::CallController;
    connect(Picture6, &PictureBox::clicked, m_calls, &C::Picture6_Click);
    connect(Picture8, &PictureBox::clicked, m_calls, &C::Picture8_Click);
    connect(Picture16, &PictureBox::clicked, m_calls, &C::Picture16_Click);
    connect(Picture17, &PictureBox::clicked, m_calls, &C::Picture17_Click);
    const std::pair<PictureBox *, QChar> keys[] = {
        {Picture20, '1'}, {Picture21, '2'}, {Picture22, '3'}, {Picture25, '4'},
        {Picture26, '5'}, {Picture27, '6'}, {Picture30, '7'}, {Picture31, '8'},
        {Picture32, '9'}, {Picture35, '*'}, {Picture36, '0'}, {Picture37, '#'}};
    for (const auto &[box, key] : keys)
        connect(box, &PictureBox::clicked, m_calls,
                [this, key = key] { m_calls->DialPadClick(key); });
    connect(Picture3, &PictureBox::clicked, this, &frmKirrow::Picture3_Click);
    connect(Picture11, &PictureBox::clicked, this, &frmKirrow::Picture11_Click);

    // The keys, Call and End can be worked from the keyboard too: Tab goes from the number box
    // through the keys to Call and End, and Space or Enter presses the one it is on.
    QWidget *previous = cmbPhoneNo;
    std::vector<PictureBox *> reachable;
    for (const auto &[box, key] : keys)
        reachable.push_back(box);
    reachable.insert(reachable.end(), {Picture6, Picture8});
    for (PictureBox *box : reachable) {
        box->setPressableByKeyboard(true);
        QWidget::setTabOrder(previous, box);
        previous = box;
    }
}

void frmKirrow::ShowArrangement(calls::Arrangement arrangement) {
    switch (arrangement) {
    case calls::Arrangement::Idle:
        SetIdleControls();
        break;
    case calls::Arrangement::Ringing:
        SetRingingControls();
        break;
    case calls::Arrangement::InCall:
        SetInCallControls();
        break;
    }
}

void frmKirrow::Picture3_Click() {
    frmRecent recent(cmbPhoneNo, calls::recentLogPath(), this);
    ShowModal(recent);
}

void frmKirrow::Picture11_Click() {
    frmPhoneBook book(cmbPhoneNo, phonebook::phoneBookPath(), this);
    ShowModal(book);
}
