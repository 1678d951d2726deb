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
#include <QPainter>
#include <QPainterPath>

#include <vector>

namespace {

// A closed padlock, drawn for the size it is shown at (12 x 16 pixels): a grey shackle over a
// gold body with a dark keyhole.
QPixmap padlock(qreal scale) {
    QPixmap pixmap(QSize(12, 16) * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(70, 70, 70), 1.8));
    QPainterPath shackle;
    shackle.moveTo(3, 8);
    shackle.lineTo(3, 5);
    shackle.arcTo(QRectF(3, 1, 6, 8), 180, -180);
    shackle.lineTo(9, 8);
    painter.drawPath(shackle);
    painter.setPen(QPen(QColor(120, 85, 10), 1));
    painter.setBrush(QColor(225, 175, 40));
    painter.drawRoundedRect(QRectF(1.5, 7.5, 9, 7.5), 1.5, 1.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(60, 40, 0));
    painter.drawEllipse(QPointF(6, 10.5), 1.2, 1.2);
    painter.drawRect(QRectF(5.5, 10.5, 1, 2.5));
    return pixmap;
}

} // namespace

void frmKirrow::WireCallControls() {
    m_calls = new calls::CallController(*m_registration, this);
    // Right of the status line, inside the display.
    const QRect line = lblMsg->geometry();
    lblEncrypted = new QLabel(lblMsg->parentWidget());
    lblEncrypted->setObjectName(QStringLiteral("lblEncrypted"));
    lblEncrypted->setGeometry(line.right() + 3, line.center().y() - 8, 12, 16);
    lblEncrypted->setPixmap(padlock(devicePixelRatioF()));
    lblEncrypted->setAccessibleName(QStringLiteral("Encrypted call"));
    lblEncrypted->hide();
    connect(m_calls, &calls::CallController::encryptionChanged, lblEncrypted,
            [this](const QString &how) {
                const QString tip = how.isEmpty() ? QString() : "Encrypted (" + how + ")";
                lblEncrypted->setToolTip(tip);
                lblEncrypted->setAccessibleDescription(tip);
                lblEncrypted->setVisible(!how.isEmpty());
            });
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
