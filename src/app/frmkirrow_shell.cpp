// The main window's tray and menus: the hide button and the tray icon, the settings menu's key,
// and the logo's link.

#include "callnotices.h"
#include "frmkirrow.h"
#include "picturebox.h"
#include "picturepreload.h"
#include "traycontroller.h"
#include "weblink.h"
#include "windowstate.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMenu>

#include <utility>

void frmKirrow::WireShell() {
    m_tray = new shell::TrayController(this);
    m_tray->setPicture(QIcon(TrayIcon->pixmap()));
    connect(m_tray, &shell::TrayController::hideWindow, this, [this] {
        EndGestures();
        hide();
    });
    connect(m_tray, &shell::TrayController::minimiseWindow, this, [this] {
        EndGestures();
        showMinimized();
    });
    connect(m_tray, &shell::TrayController::restoreWindow, this, [this] {
        RestoreWindow();
        activateWindow();
    });
    connect(m_tray, &shell::TrayController::showWindowForCall, this, &frmKirrow::RestoreWindow);
    // A call that rings is seen and heard wherever the window was: it comes to the front, and the
    // desktop's notifications tell of it.
    auto *notices = new shell::CallNotices(this);
    connect(m_calls, &calls::CallController::incomingCall, this,
            [this, notices, pictured = false](const QString &number) mutable {
                // Decoded for the first call, not at every start.
                if (!std::exchange(pictured, true))
                    m_tray->setRingingPicture(QIcon(QPixmap::fromImage(
                        skin::loadPicture(QStringLiteral(":/icons/tray-ringing.png")))));
                m_tray->CallRinging(number);
                notices->CallRinging(number);
            });
    connect(m_calls, &calls::CallController::ringingEnded, this, [this, notices](bool missed) {
        m_tray->RingingEnded();
        notices->RingingEnded(missed);
    });
    connect(Picture41, &PictureBox::clicked, this, &frmKirrow::Picture41_Click);

    connect(Picture4, &PictureBox::clicked, this, &frmKirrow::Picture4_Click);

    // The key the status line's "please select Menu - LoginAs" sends the user to.
    picMenu->setToolTip(QStringLiteral("Menu: Login As..., Tuning Wizard"));
    connect(picMenu, &PictureBox::mousePressed, this,
            [this](Qt::MouseButton, Qt::KeyboardModifiers shift, QPointF at) {
                ShowSettingsMenu(QGuiApplication::mouseButtons(), shift, at);
            });
}

// Normal and in front of the other windows, from wherever it was (hidden, minimised, behind).
void frmKirrow::RestoreWindow() {
    shell::clearStartMinimised(this);
    showNormal();
    raise();
}

void frmKirrow::Picture41_Click() {
    m_tray->NoSysIcon(m_tray->InTray());
}

void frmKirrow::Picture4_Click() {
    shell::openWebLink();
}

// Only the left button alone opens the menu, at the pointer.
void frmKirrow::ShowSettingsMenu(Qt::MouseButtons button, Qt::KeyboardModifiers, QPointF at) {
    if (button != Qt::LeftButton)
        return;
    mnuSettings->popup(picMenu->mapToGlobal(at.toPoint()));
}

void frmKirrow::RemoveTrayIcon() {
    m_tray->RemoveProgramFromTray();
}
