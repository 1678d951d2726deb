// The main window's tray and menus: the hide button and the tray icon, the settings menu's key,
// and the logo's link.

#include "frmkirrow.h"
#include "picturebox.h"
#include "traycontroller.h"
#include "weblink.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMenu>

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
        showNormal();
        raise();
        activateWindow();
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
