// The main window's calls: session states, placing, answering and ending calls, number entry and
// the dial pad, key tones, the connected-call clock and the recent-call log.

#include "callclock.h"
#include "errortraps.h"
#include "frmkirrow.h"
#include "frmrecent.h"
#include "keytone.h"
#include "messagebox.h"
#include "picturebox.h"
#include "recentlog.h"
#include "toneclips.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <QTimer>

namespace {

// The tone name of a keypad character, empty for any other.
QString toneNameOf(QChar key) {
    for (const calls::KeyTone &tone : calls::keyTones())
        if (tone.key == key)
            return tone.toneName;
    return {};
}

} // namespace

// ---- call states ----------------------------------------------------------------------------

bool frmKirrow::IsConnected() const {
    const QString state = lblMsg->text();
    return state == QLatin1String("CONNECTED") || state.startsWith(QLatin1String("CONNECTED "));
}

rtc::IRTCSession &frmKirrow::CurrentSession() const {
    if (!g_objSession)
        throw rtc::RtcError(rtc::RTC_E_INVALIDARG, QStringLiteral("There is no call."));
    return *g_objSession;
}

void frmKirrow::OnSessionStateChange(const rtc::IRTCEventPtr &pevent) {
    std::shared_ptr<rtc::IRTCSessionStateChangeEvent> view;
    long state = -1;
    platform::skipOnError([&] { view = rtc::eventView<rtc::IRTCSessionStateChangeEvent>(pevent); });
    platform::skipOnError([&] {
        if (view)
            state = view->State();
    });
    switch (state) {
    case rtc::RTCSS_IDLE:
        lblMsg->setText(QStringLiteral("IDLE"));
        break;
    case rtc::RTCSS_INCOMING: {
        // A call that comes in while one is connected is left ringing at the caller's end.
        bool busy = false;
        platform::skipOnError([&] { busy = CurrentSession().State() == rtc::RTCSS_CONNECTED; });
        if (busy)
            break;
        lblMsg->setText(QStringLiteral("INCOMING"));
        platform::skipOnError([&] { g_objRTCClient->PlayRing(rtc::RTCRT_PHONE, true); });
        platform::skipOnError([&] {
            if (view)
                g_objSession = view->Session();
        });
        break;
    }
    case rtc::RTCSS_ANSWERING:
        lblMsg->setText(QStringLiteral("ANSWERING"));
        platform::skipOnError([&] { g_objRTCClient->PlayRing(rtc::RTCRT_PHONE, false); });
        break;
    case rtc::RTCSS_INPROGRESS:
        lblMsg->setText(QStringLiteral("INPROGRESS"));
        break;
    case rtc::RTCSS_CONNECTED:
        lblMsg->setText(QStringLiteral("CONNECTED"));
        intConnectedSeconds = timemin = timehr = 0;
        tmrConnected->start();
        SetInCallControls();
        break;
    case rtc::RTCSS_DISCONNECTED:
        g_objSession.reset();
        g_objParticipant.reset();
        lblMsg->setText(QStringLiteral("DISCONNECTED"));
        SetIdleControls();
        break;
    default:
        break; // hold, refer and later states change nothing
    }
}

// ---- placing, answering, ending ---------------------------------------------------------------

void frmKirrow::MakeCall() {
    if (strRegState != QLatin1String("REGISTERED")) {
        platform::showMessage(
            QStringLiteral("Sorry, you are not registered, please select Menu - LoginAs"));
        return;
    }
    const int length = cmbPhoneNo->currentText().size();
    for (int i = 0; i < length; ++i) {
        const QString number = cmbPhoneNo->currentText();
        const QChar c = i < number.size() ? number.at(i) : QChar();
        const bool keypad = c.isDigit() || c == QLatin1Char('*') || c == QLatin1Char('#');
        if (!keypad && c != QChar(8))
            platform::showInputError();
        else if (keypad)
            PlayTone(toneNameOf(c));
        // The number's tones, one after the other, as a telephone dials them.
        QThread::msleep(100);
    }
    const QString number = cmbPhoneNo->currentText();
    const QString uri = QStringLiteral("sip:") + number + QLatin1Char('@') + strSIPIP;
    bool placed = platform::showInStatusLine(
        lblMsg,
        [&] {
            g_objSession =
                number.size() == 10
                    ? g_objRTCClient->CreateSession(rtc::RTCST_PC_TO_PC, QString(), nullptr, 0)
                    : g_objRTCClient->CreateSession(rtc::RTCST_PC_TO_PHONE, QString(), g_objProfile,
                                                    rtc::RTCCS_FORCE_PROFILE);
        },
        platform::ErrorText::Number);
    placed = platform::showInStatusLine(
                 lblMsg,
                 [&] {
                     g_objParticipant =
                         CurrentSession().AddParticipant(uri, QStringLiteral("Any Name"));
                 },
                 platform::ErrorText::Number) &&
             placed;
    // A call that could not be placed leaves nothing to end: stay ready for the next one.
    if (placed)
        SetInCallControls();
    else
        SetIdleControls();
}

void frmKirrow::Picture6_Click() {
    if (lblMsg->text() == QLatin1String("INCOMING")) {
        platform::showInStatusLine(
            lblMsg, [this] { CurrentSession().Answer(); }, platform::ErrorText::Number);
        return;
    }
    MakeCall();
}

void frmKirrow::LogEndedCall() {
    const calls::CallClock clock{timehr, timemin, intConnectedSeconds};
    const QString line =
        cmbPhoneNo->currentText() + QStringLiteral("--Duration: ") + calls::durationText(clock);
    platform::skipOnError([&] {
        calls::addRecentCall(calls::recentLogPath(), line,
                             [] { QCoreApplication::processEvents(); });
    });
}

void frmKirrow::Picture8_Click() {
    LogEndedCall();
    // As the handler always has: a state that cannot be read is taken for a ringing call, so
    // the ring stops whatever happened.
    bool incoming = true;
    platform::showInStatusLine(lblMsg,
                               [&] { incoming = CurrentSession().State() == rtc::RTCSS_INCOMING; });
    if (incoming) {
        platform::showInStatusLine(lblMsg,
                                   [this] { CurrentSession().Terminate(rtc::RTCTR_REJECT); });
        platform::showInStatusLine(lblMsg,
                                   [this] { g_objRTCClient->PlayRing(rtc::RTCRT_PHONE, false); });
    } else {
        platform::showInStatusLine(lblMsg,
                                   [this] { CurrentSession().Terminate(rtc::RTCTR_NORMAL); });
    }
}

void frmKirrow::tmrConnected_Timer() {
    calls::CallClock clock{timehr, timemin, intConnectedSeconds};
    calls::tick(clock);
    timehr = clock.hours;
    timemin = clock.minutes;
    intConnectedSeconds = clock.seconds;
    lblMsg->setText(calls::connectedText(clock));
}

// ---- number entry -----------------------------------------------------------------------------

void frmKirrow::DialPadClick(QChar key) {
    PlayTone(toneNameOf(key));
    cmbPhoneNo->setEditText(cmbPhoneNo->currentText() + key);
}

void frmKirrow::Picture16_Click() {
    lblMsg->setText(QStringLiteral("Ready..."));
    cmbPhoneNo->setEditText(QString());
    cmbPhoneNo->setFocus();
}

void frmKirrow::Picture17_Click() {
    const QString number = cmbPhoneNo->currentText();
    if (!number.isEmpty())
        cmbPhoneNo->setEditText(number.left(number.size() - 1));
}

// Returns false when the key is cancelled.
bool frmKirrow::cmbPhoneNo_KeyPress(int &KeyAscii) {
    const QChar key(KeyAscii);
    const bool keypad = key.isDigit() || key == QLatin1Char('*') || key == QLatin1Char('#');
    if (!keypad && KeyAscii != 8 && KeyAscii != 13) {
        platform::showInputError();
        KeyAscii = 0;
        return false;
    }
    if (cmbPhoneNo->currentText().size() > 9 && KeyAscii == 13) {
        KeyAscii = 0;
        MakeCall();
        return false;
    }
    if (keypad)
        PlayTone(toneNameOf(key));
    return true;
}

bool frmKirrow::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress && watched == cmbPhoneNo->lineEdit()) {
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        // Only keys that type a character; moving the caret, Delete and Tab are the box's own.
        const QString text = keyEvent->text();
        if (text.size() != 1 || keyEvent->key() == Qt::Key_Tab ||
            keyEvent->key() == Qt::Key_Backtab || keyEvent->key() == Qt::Key_Delete)
            return false;
        int KeyAscii = keyEvent->key() == Qt::Key_Return || keyEvent->key() == Qt::Key_Enter
                           ? 13
                           : text.at(0).unicode();
        return !cmbPhoneNo_KeyPress(KeyAscii);
    }
    return QWidget::eventFilter(watched, event);
}

void frmKirrow::WireCallControls() {
    cmbPhoneNo->setInsertPolicy(QComboBox::NoInsert); // the list is never filled
    cmbPhoneNo->lineEdit()->installEventFilter(this);
    connect(Picture6, &PictureBox::clicked, this, &frmKirrow::Picture6_Click);
    connect(Picture8, &PictureBox::clicked, this, &frmKirrow::Picture8_Click);
    connect(Picture16, &PictureBox::clicked, this, &frmKirrow::Picture16_Click);
    connect(Picture17, &PictureBox::clicked, this, &frmKirrow::Picture17_Click);
    connect(Picture3, &PictureBox::clicked, this, &frmKirrow::Picture3_Click);
    connect(tmrConnected, &QTimer::timeout, this, &frmKirrow::tmrConnected_Timer);
    const std::pair<PictureBox *, QChar> keys[] = {
        {Picture20, '1'}, {Picture21, '2'}, {Picture22, '3'}, {Picture25, '4'},
        {Picture26, '5'}, {Picture27, '6'}, {Picture30, '7'}, {Picture31, '8'},
        {Picture32, '9'}, {Picture35, '*'}, {Picture36, '0'}, {Picture37, '#'}};
    for (const auto &[box, key] : keys)
        connect(box, &PictureBox::clicked, this, [this, key = key] { DialPadClick(key); });
}

void frmKirrow::Picture3_Click() {
    frmRecent recent(cmbPhoneNo, calls::recentLogPath(), this);
    ShowModal(recent);
}

// ---- key tones --------------------------------------------------------------------------------

void frmKirrow::PlayTone(const QString &name) {
    if (IsConnected()) {
        for (const calls::KeyTone &tone : calls::keyTones()) {
            if (tone.toneName == name) {
                platform::skipOnError(
                    [&] { g_objRTCClient->SendDTMF(static_cast<rtc::RTC_DTMF>(tone.dtmf)); });
                return;
            }
        }
        return;
    }
    platform::skipOnError([&] { calls::playKeyToneLocally(name); });
}
