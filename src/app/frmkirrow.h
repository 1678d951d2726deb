#pragma once

#include "callcontroller.h"
#include "registrationcontroller.h"
#include "rtcclient.h"
#include "statusline.h"

#include <QRect>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QAction;
class DigitBox;
class KnobBox;
class PictureBox;
class QDialog;
class frmLogin;
class clsTooltip;

namespace skin {
class HoverButtons;
} // namespace skin

namespace shell {
class TrayController;
} // namespace shell

namespace audio {
class clsVolume;
class VolumeController;
} // namespace audio

// The main window: the telephone itself. Loading it brings the whole program up (Form_Load). The
// account's registration is kept by an account::RegistrationController and the calls by a
// calls::CallController; the window shows what the two say and forwards its controls to them.
class frmKirrow : public QWidget {
    Q_OBJECT
public:
    // The client is made by clientFactory when start-up reaches that step, so leaving the login
    // dialog with EXIT creates none.
    explicit frmKirrow(rtc::RTCClientFactory clientFactory, QWidget *parent = nullptr);
    ~frmKirrow() override;

    // The pictures the window shows first, for decoding ahead of them.
    static QStringList FirstPictures();

    // Puts the login dialog on the screen before the main window is built, for the start-up's
    // login step to take: building the window and the start-up steps before the dialog take
    // about a third of the time to the dialog, and none of them shows anything while all goes
    // well. The dialog takes no input until the login step; should a step before it have
    // something to say (no mixer to be found), the dialog steps aside until its turn.
    static std::unique_ptr<frmLogin> ShowLoginAhead();
    // Hands the window the dialog ShowLoginAhead put up, before Form_Load.
    void TakeLoginShownAhead(std::unique_ptr<frmLogin> dialog);

    // Runs the start-up sequence. Returns false when the user chose EXIT in the login dialog and
    // the program must end at once.
    bool Form_Load();

    // Ends the program as the close button does (a call ended, the account forgotten when it is
    // not to be kept, the window gone), from wherever it is: dialogs open over the window close
    // first, and a login dialog still open at start-up counts as EXIT.
    void Quit();
    // The same steps where no event loop runs any more: the display's connection broke and the
    // program is being ended under the window's feet. Nothing is shown; the engine is let go so
    // that the registration is taken back and a call ended.
    void ShutDownWithoutDisplay();

    // The number of a sip: or tel: link the desktop opened: it goes into the number box (after
    // the login at start-up, and never while a call is held, waiting until then), and the window
    // comes to the front. Nothing is dialled.
    void ShowLinkedNumber(const QString &number);
    // Shows the window (also when hidden or minimised), raises it and gives it the keyboard; a
    // dialog open over it comes up with it. Before the login only the login dialog comes up.
    void BringToFront();

    // Read-only views of the private state, for other windows and for tests.
    const account::RegistrationController &Registration() const { return *m_registration; }
    calls::CallController &Calls() const { return *m_calls; }
    bool HasEnded() const { return m_ended; }
    bool Hovering() const;
    const QRect &KnobRect() const { return rcKnob; }
    // The volume sliders; null before start-up has made them and after unload.
    audio::VolumeController *Volume() const { return m_volume.get(); }
    shell::TrayController &Tray() const { return *m_tray; }
    clsTooltip *Tooltips() const { return TT.get(); }

private slots:
    void Picture40_Click();
    void mnuLoginAs_Click();
    void Picture13_Click();
    // The recent calls and the phone book, each in a modal window that may fill the number box.
    void Picture3_Click();
    void Picture11_Click();
    // The audio tuning wizard, from the audio button and from the settings menu.
    void Picture2_Click();
    void mnuVOICE_Click();
    // The connection dialog; what it saves applies to the running client at once.
    void mnuConnection_Click();
    // The hide button: to the tray, or back from it.
    void Picture41_Click();
    // The logo: the program's about page in the browser.
    void Picture4_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    // Controls.
    PictureBox *Picture1 = nullptr;
    PictureBox *Picture4 = nullptr;
    StatusLine *lblMsg = nullptr;
    QLabel *lblBalance = nullptr;
    PictureBox *Picture3 = nullptr;
    PictureBox *Picture2 = nullptr;
    QComboBox *cmbPhoneNo = nullptr;
    DigitBox *txtNumber = nullptr; // cmbPhoneNo's text box
    PictureBox *Picture16 = nullptr;
    PictureBox *Picture17 = nullptr;
    QFrame *Frame1 = nullptr;
    QLabel *Label1[2] = {nullptr, nullptr};
    KnobBox *picWave[2] = {nullptr, nullptr};
    QLabel *Image1 = nullptr;
    QLabel *Image2 = nullptr;
    QLabel *Image3 = nullptr;
    PictureBox *Picture11 = nullptr;
    PictureBox *Picture13 = nullptr;
    PictureBox *Picture6 = nullptr;
    PictureBox *Picture8 = nullptr;
    PictureBox *Picture20 = nullptr, *Picture21 = nullptr, *Picture22 = nullptr;
    PictureBox *Picture25 = nullptr, *Picture26 = nullptr, *Picture27 = nullptr;
    PictureBox *Picture30 = nullptr, *Picture31 = nullptr, *Picture32 = nullptr;
    PictureBox *Picture35 = nullptr, *Picture36 = nullptr, *Picture37 = nullptr;
    PictureBox *Picture40 = nullptr;
    PictureBox *Picture41 = nullptr;
    PictureBox *picMenu = nullptr; // opens mnuSettings
    PictureBox *logOn = nullptr;
    PictureBox *logOff = nullptr;
    PictureBox *TrayIcon = nullptr;
    QMenu *mnuSettings = nullptr;
    QAction *mnuLoginAs = nullptr;
    QAction *mnuVOICE = nullptr;
    QAction *mnuConnection = nullptr;
    // Beside the status line while the connected call's media is encrypted.
    QLabel *lblEncrypted = nullptr;

    void CreateControls();
    void CentreOnScreen();

    // The skin: pictures, lit buttons, dragging by the skin.
    // The picture buttons by the member that holds each, with their pictures' names.
    struct ImageButtonEntry {
        PictureBox *frmKirrow::*box;
        const char *normal;
        const char *lit;
        bool mouseUpStep;
    };
    static const std::vector<ImageButtonEntry> &ImageButtonTable();
    void LoadPictures();
    void WireImageButtons();
    void WireSkinDragging();
    // Puts a lit button back and lets the pointer go.
    void EndHover();
    // Ends whatever the pointer was doing on the window: a lit button, a drag of the skin or of a
    // volume knob.
    void EndGestures();
    QPixmap Holder(const QString &name) const;
    // Shows a dialog modally; a lit button gives up the pointer first, or the dialog would get
    // none.
    int ShowModal(QDialog &dialog);
    void Form_Unload();
    void ExitApplication();
    void UnloadWindow();

    void SetIdleControls();
    void SetRingingControls();
    void SetInCallControls();
    void ShowArrangement(calls::Arrangement arrangement);
    // Where the window stands when the start-up shows it.
    static QRect StartupPlace();
    // The status line follows the registration, whose client the tuning wizard uses.
    void WireRegistration();
    std::optional<account::Login> GetLoginSettings(const account::Login &fallback);

    // Start-up steps of other subsystems (some still to come); each is one call in Form_Load's
    // order.
    void ApplyStartupShape();
    void CreateTooltips();
    void CreateMixerController();
    void ApplySkinOutline();
    void ShowMixerLines();
    void ReadMixerScales();
    void RemoveTrayIcon();
    void ReleaseMixerAndTooltips();

    // The tray, the settings menu's key and the logo's link.
    void WireShell();
    // Shows the window in its normal state, in front of the others, without taking the keyboard.
    void RestoreWindow();
    void ShowSettingsMenu(Qt::MouseButtons button, Qt::KeyboardModifiers shift, QPointF at);
    // The start-up tooltips' controls and texts, in the order they are added.
    QList<std::pair<QWidget *, QString>> TooltipTexts() const;
    // Names and descriptions of the controls for a screen reader.
    void DescribeControls();

    void ReadTrackGeometry();
    void WireCallControls();

    // The volume sliders: the knobs' mouse events go to the controller, which says where each
    // knob stands; the speakers' knob confirms its level with a sound.
    void WireVolumeKnobs();
    void PlaceKnob(int index, long left);
    void PlayWave(const QString &name);

    bool m_ended = false;
    bool m_shuttingDown = false;
    bool m_quitAsked = false;
    std::unique_ptr<frmLogin> m_loginShownAhead;

    account::RegistrationController *m_registration = nullptr;
    calls::CallController *m_calls = nullptr;
    float sngWaveScale = 0, sngMicScale = 0, sngWavInScale = 0;
    float sngLineInScale = 0, sngCDScale = 0, sngMidScale = 0;
    long lngTwipsPerPixelX = 15;
    long lngTwipsPerPixelY = 15;
    QRect rcKnob;
    long lngKnobHalfWidth = 0;
    long lngTrackLeft = 0;
    long lngTrackRight = 0;
    long lngTrackWidth = 0;
    std::unique_ptr<audio::clsVolume> objVolume;
    // After objVolume: it uses the mixer to its end.
    std::unique_ptr<audio::VolumeController> m_volume;
    shell::TrayController *m_tray = nullptr;
    std::unique_ptr<clsTooltip> TT;

    skin::HoverButtons *m_hover = nullptr;
};
