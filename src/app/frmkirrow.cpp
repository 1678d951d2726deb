#include "frmkirrow.h"

#include "clstooltip.h"
#include "clsvolume.h"
#include "devicechoice.h"
#include "errortraps.h"
#include "frmlogin.h"
#include "hoverbuttons.h"
#include "keytone.h"
#include "knobbox.h"
#include "mainlayout.h"
#include "messagebox.h"
#include "picturebox.h"
#include "settingsstore.h"
#include "soundplayer.h"
#include "toneclips.h"
#include "traycontroller.h"
#include "tuningwizard.h"
#include "twips.h"
#include "volumecontroller.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>

namespace {

const QColor kWindowColour(150, 217, 159);

void setBackground(QWidget *widget, const QColor &colour) {
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    widget->setPalette(palette);
}

// Places a control where the design table puts it, inside its container.
template <class W> W *placed(W *widget, const QString &name) {
    const skin::ControlPlace &place = skin::placeOf(name);
    widget->setObjectName(name);
    widget->setGeometry(platform::twipsRect(place.left, place.top, place.width, place.height));
    return widget;
}

} // namespace

frmKirrow::frmKirrow(rtc::RTCClientFactory clientFactory, QWidget *parent)
    : QWidget(parent), m_registration(new account::RegistrationController(
                           // Every client rings with the program's own sounds.
                           [factory = std::move(clientFactory)] {
                               rtc::IRTCClientPtr client = factory();
                               client->SetRingSounds(calls::ringSounds());
                               return client;
                           },
                           this)) {
    CreateControls();
}

// The buttons outlive this class's part of the window and are hidden as the widget goes: they
// must not report to it by then.
frmKirrow::~frmKirrow() {
    delete m_hover;
    m_hover = nullptr;
    for (KnobBox *knob : picWave)
        disconnect(knob, nullptr, this, nullptr);
}

void frmKirrow::CreateControls() {
    setObjectName(QStringLiteral("frmKirrow"));
    setWindowTitle(platform::appTitle());
    // No caption bar and no frame: the window is the skin's outline, dragged by the skin.
    setWindowFlag(Qt::FramelessWindowHint);
    setBackground(this, kWindowColour);
    // Design-time client size; Form_Load gives the window its working size.
    resize(platform::twipsToPixelsX(9690), platform::twipsToPixelsY(7620));

    auto picture = [this](const QString &name, QWidget *container, const QString &caption) {
        auto *box = placed(new PictureBox(container), name);
        box->setText(caption);
        box->setFrameShape(QFrame::StyledPanel);
        return box;
    };
    Picture1 = placed(new PictureBox(this), QStringLiteral("Picture1"));
    Picture4 = picture(QStringLiteral("Picture4"), Picture1, QStringLiteral("Kirrow"));
    lblMsg = placed(new StatusLine(Picture1), QStringLiteral("lblMsg"));
    setBackground(lblMsg, QColor(165, 203, 221));
    QFont smallFont(QStringLiteral("Small Fonts"));
    smallFont.setPointSizeF(6.75);
    lblMsg->setFont(smallFont);
    lblBalance = placed(new QLabel(Picture1), QStringLiteral("lblBalance"));
    lblBalance->setAlignment(Qt::AlignCenter);
    setBackground(lblBalance, QColor(55, 127, 163));
    lblBalance->hide();
    Picture3 = picture(QStringLiteral("Picture3"), Picture1, QStringLiteral("Log"));
    Picture2 = picture(QStringLiteral("Picture2"), Picture1, QStringLiteral("Aud"));

    cmbPhoneNo = placed(new QComboBox(this), QStringLiteral("cmbPhoneNo"));
    cmbPhoneNo->setEditable(true);
    setBackground(cmbPhoneNo, QColor(107, 163, 191));
    // Flat, in the display's colours, so the number reads as part of the display.
    cmbPhoneNo->setStyleSheet(QStringLiteral(
        "QComboBox { background: rgb(107, 163, 191); color: rgb(8, 36, 50); border: 1px solid "
        "rgb(58, 110, 140);"
        " padding-left: 3px; font-weight: bold; }"
        "QComboBox::drop-down { border: 0; width: 14px; }"
        "QComboBox QAbstractItemView { background: rgb(165, 203, 221); color: rgb(8, 36, 50); }"));
    Picture16 = picture(QStringLiteral("Picture16"), this, QStringLiteral("Del"));
    Picture17 = picture(QStringLiteral("Picture17"), this, QStringLiteral("Back"));

    Frame1 = placed(new QFrame(this), QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::NoFrame);
    setBackground(Frame1, QColor(58, 135, 166));
    for (int i = 0; i < 2; ++i) {
        Label1[i] = placed(new QLabel(Frame1), QStringLiteral("Label1(%1)").arg(i));
        Label1[i]->setFrameShape(QFrame::Box);
        picWave[i] = placed(new KnobBox(Frame1), QStringLiteral("picWave(%1)").arg(i));
        setBackground(picWave[i], QColor(64, 64, 64));
    }
    Image1 = placed(new QLabel(this), QStringLiteral("Image1"));
    Image2 = placed(new QLabel(this), QStringLiteral("Image2"));
    Image3 = placed(new QLabel(this), QStringLiteral("Image3"));

    Picture11 = picture(QStringLiteral("Picture11"), this, QStringLiteral("Bk"));
    Picture13 = picture(QStringLiteral("Picture13"), this, QStringLiteral("Lg"));
    Picture6 = picture(QStringLiteral("Picture6"), this, QStringLiteral("Call"));
    Picture8 = picture(QStringLiteral("Picture8"), this, QStringLiteral("End"));
    const struct {
        PictureBox **box;
        const char *name;
        const char *digit;
    } keys[] = {{&Picture20, "Picture20", "1"}, {&Picture21, "Picture21", "2"},
                {&Picture22, "Picture22", "3"}, {&Picture25, "Picture25", "4"},
                {&Picture26, "Picture26", "5"}, {&Picture27, "Picture27", "6"},
                {&Picture30, "Picture30", "7"}, {&Picture31, "Picture31", "8"},
                {&Picture32, "Picture32", "9"}, {&Picture35, "Picture35", "*"},
                {&Picture36, "Picture36", "0"}, {&Picture37, "Picture37", "#"}};
    for (const auto &key : keys)
        *key.box = picture(QLatin1String(key.name), this, QLatin1String(key.digit));
    Picture40 = picture(QStringLiteral("Picture40"), this, QStringLiteral("x"));
    Picture41 = picture(QStringLiteral("Picture41"), this, QStringLiteral("_"));
    picMenu = picture(QStringLiteral("picMenu"), this, QStringLiteral("="));

    logOn = picture(QStringLiteral("logOn"), this, QString());
    logOff = picture(QStringLiteral("logOff"), this, QString());
    TrayIcon = picture(QStringLiteral("TrayIcon"), this, QString());
    TrayIcon->setFrameShape(QFrame::Box);
    // Pictures kept for other controls, never seen: nothing to press.
    for (PictureBox *holder : {logOn, logOff, TrayIcon})
        holder->setAccessibleRole(QAccessible::Graphic);

    mnuSettings = new QMenu(this);
    mnuSettings->setObjectName(QStringLiteral("mnuSettings"));
    mnuLoginAs = mnuSettings->addAction(QStringLiteral("&Login As..."));
    mnuLoginAs->setObjectName(QStringLiteral("mnuLoginAs"));
    mnuVOICE = mnuSettings->addAction(QStringLiteral("&Tuning Wizard"));
    mnuVOICE->setObjectName(QStringLiteral("mnuVOICE"));
    mnuConnection = mnuSettings->addAction(QStringLiteral("&Connection..."));
    mnuConnection->setObjectName(QStringLiteral("mnuConnection"));

    calls::initSoundResources();
    platform::setDefaultSound(calls::toneClip(QStringLiteral("DEFAULT.WAV")));
    LoadPictures();
    WireRegistration();
    WireImageButtons();
    WireSkinDragging();
    WireCallControls();
    WireVolumeKnobs();
    WireShell();
    DescribeControls();

    connect(Picture40, &PictureBox::clicked, this, &frmKirrow::Picture40_Click);
    connect(Picture13, &PictureBox::clicked, this, &frmKirrow::Picture13_Click);
    connect(mnuLoginAs, &QAction::triggered, this, &frmKirrow::mnuLoginAs_Click);
    connect(Picture2, &PictureBox::clicked, this, &frmKirrow::Picture2_Click);
    connect(mnuVOICE, &QAction::triggered, this, &frmKirrow::mnuVOICE_Click);
    connect(mnuConnection, &QAction::triggered, this, &frmKirrow::mnuConnection_Click);
    // The settings menu opens from the status line, where "please select Menu - LoginAs" is read.
    lblMsg->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lblMsg, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { mnuSettings->popup(lblMsg->mapToGlobal(at)); });
    // The menu takes the pointer, and with it the release of a press that began a drag.
    connect(mnuSettings, &QMenu::aboutToShow, this, &frmKirrow::EndGestures);
}

bool frmKirrow::Form_Load() {
    bool exiting = false;
    platform::stopAndShow([&] {
        SetIdleControls();
        resize(platform::twipsToPixelsX(skin::kMainWindowWidthTwips),
               platform::twipsToPixelsY(skin::kMainWindowHeightTwips));
        CentreOnScreen();
        ApplyStartupShape();
        lblMsg->showStatus(QStringLiteral("Not logged in..."));
        CreateTooltips();
        lngTwipsPerPixelX = platform::screenTwipsPerPixelX();
        lngTwipsPerPixelY = platform::screenTwipsPerPixelY();
        ReadTrackGeometry();
        CreateMixerController();
        ApplySkinOutline();
        ShowMixerLines();
        ReadMixerScales();
        std::optional<account::Login> login = GetLoginSettings(account::savedLogin());
        if (!login || m_quitAsked) {
            ExitApplication();
            exiting = true;
            return;
        }
        // An account saved without a password logs in with its number as the password.
        if (login->password.isEmpty())
            login->password = login->account;
        m_registration->InitRTCClient();
        m_registration->RegisterProfile(*login);
    });
    // A dialog put up ahead goes with the start-up that failed before its turn.
    m_loginShownAhead.reset();
    // Asked to end while starting (a box was open): the close button's shutdown, then out.
    if (m_quitAsked && !exiting) {
        Picture40_Click();
        exiting = true;
    }
    m_calls->setReadyForNumbers(!exiting);
    return !exiting;
}

// The window starts in the middle of the screen, and the login dialog over it.
void frmKirrow::CentreOnScreen() {
    move(StartupPlace().topLeft());
}

QRect frmKirrow::StartupPlace() {
    QRect place(0, 0, platform::twipsToPixelsX(skin::kMainWindowWidthTwips),
                platform::twipsToPixelsY(skin::kMainWindowHeightTwips));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        place.moveTo(screen->availableGeometry().center() - place.center());
    return place;
}

// Knob and track geometry in twips, from the design table, as the volume sliders use it.
void frmKirrow::ReadTrackGeometry() {
    const skin::ControlPlace &knob = skin::placeOf(QStringLiteral("picWave(0)"));
    const skin::ControlPlace &track = skin::placeOf(QStringLiteral("Label1(0)"));
    lngKnobHalfWidth = knob.width / 2;
    lngTrackLeft = track.left;
    lngTrackRight = track.left + track.width;
    lngTrackWidth = track.width;
    rcKnob = QRect(0, 0, knob.width / lngTwipsPerPixelX, knob.height / lngTwipsPerPixelY);
    for (KnobBox *knob : picWave)
        knob->setEdgeRect(rcKnob);
    if (lngTrackWidth == 0) {
        // The scales divide by the track's width.
        platform::showMessage(QStringLiteral("it is"));
        lngTrackWidth = 1;
    }
}

void frmKirrow::SetIdleControls() {
    Picture6->setEnabled(true);
    Picture16->setEnabled(true);
    Picture17->setEnabled(true);
    Picture13->setEnabled(true);
    Picture8->setEnabled(false);
    cmbPhoneNo->setEnabled(true);
}

// A call rings here: Call answers it, End declines it, and the number shown is the caller's.
void frmKirrow::SetRingingControls() {
    Picture6->setEnabled(true);
    Picture16->setEnabled(false);
    Picture17->setEnabled(false);
    Picture13->setEnabled(true);
    Picture8->setEnabled(true);
    cmbPhoneNo->setEnabled(false);
}

void frmKirrow::SetInCallControls() {
    Picture6->setEnabled(false);
    Picture16->setEnabled(false);
    Picture17->setEnabled(false);
    Picture13->setEnabled(true);
    Picture8->setEnabled(true);
    cmbPhoneNo->setEnabled(false);
}

void frmKirrow::Picture40_Click() {
    if (m_shuttingDown)
        return;
    m_shuttingDown = true;
    RemoveTrayIcon();
    m_calls->EndActiveCall();
    account::RegistrationController::ForgetAccountUnlessKept();
    UnloadWindow();
}

void frmKirrow::ShutDownWithoutDisplay() {
    platform::stopShowingMessages();
    if (!m_shuttingDown) {
        m_shuttingDown = true;
        m_calls->EndActiveCall();
        account::RegistrationController::ForgetAccountUnlessKept();
    }
    m_registration->ReleaseClient();
    m_ended = true;
}

void frmKirrow::Quit() {
    m_quitAsked = true;
    platform::stopShowingMessages();
    // Each dialog's own loop ends once control is back in it; the innermost first.
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window != this && window->isModal() && window->isVisible())
            window->close();
    // Hidden in the tray, the window ends all the same.
    if (isVisible() || m_tray->InTray())
        close(); // the same steps as the close button
}

void frmKirrow::ExitApplication() {
    m_shuttingDown = true;
    RemoveTrayIcon();
    m_calls->EndActiveCall();
    UnloadWindow();
}

void frmKirrow::UnloadWindow() {
    Form_Unload();
    m_ended = true;
    close();
}

void frmKirrow::Form_Unload() {
    ReleaseMixerAndTooltips();
}

// Closing the window by any other means (the window manager, a session ending) is the same
// as the close button, so an account the user chose not to keep is never left behind.
void frmKirrow::closeEvent(QCloseEvent *event) {
    if (!m_shuttingDown)
        Picture40_Click();
    event->accept();
}

// A window that is no longer the one the user works in (another program's took over, or a
// dialog of ours blocks it) keeps no lit button, no hold on the pointer and no drag outline.
void frmKirrow::changeEvent(QEvent *event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        EndGestures();
    QWidget::changeEvent(event);
}

bool frmKirrow::event(QEvent *event) {
    if (event->type() == QEvent::WindowBlocked)
        EndGestures();
    return QWidget::event(event);
}

// A new login dialog whose values are only saved, for the next "Login As..." or the next start.
void frmKirrow::Picture13_Click() {
    frmLogin dialog(this);
    ShowModal(dialog);
}

// Modal over the window; without a client (it was never made) or when the wizard fails, the user
// is told "Error" and what failed goes to the program's log.
void frmKirrow::Picture2_Click() {
    EndGestures();
    platform::stopAndShow(
        [this] {
            const rtc::IRTCClientPtr &client = m_registration->Client();
            if (!client)
                throw rtc::RtcError(rtc::RTC_E_NOT_INITIALIZED,
                                    QStringLiteral("There is no client."));
            audio::InvokeTuningWizard(*client, this);
        },
        QStringLiteral("Error"), QStringLiteral("TUNING WIZARD"));
}

void frmKirrow::mnuVOICE_Click() {
    Picture2_Click();
}

// ---- steps that later subsystems fill -------------------------------------------------------

// The sliders go before the mixer they use; then the tooltip manager, and with it the tip window
// and its event filter.
void frmKirrow::ReleaseMixerAndTooltips() {
    m_volume.reset();
    objVolume.reset();
    TT.reset();
}
