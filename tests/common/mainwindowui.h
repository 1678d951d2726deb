#pragma once

#include "digitbox.h"
#include "knobbox.h"
#include "picturebox.h"
#include "statusline.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>

#include <memory>

// The main window's controls, found by the object names the window gives them, for tests that
// look inside the window (the window keeps its widgets to itself).
struct MainWindowUi {
    PictureBox *Picture1, *Picture2, *Picture3, *Picture4, *Picture6, *Picture8, *Picture11,
        *Picture13, *Picture16, *Picture17, *Picture40, *Picture41, *picMenu;
    PictureBox *Picture20, *Picture21, *Picture22, *Picture25, *Picture26, *Picture27, *Picture30,
        *Picture31, *Picture32, *Picture35, *Picture36, *Picture37;
    PictureBox *logOn, *logOff, *TrayIcon;
    StatusLine *lblMsg;
    QLabel *lblBalance, *Image1, *Image2, *Image3;
    QLabel *Label1[2];
    KnobBox *picWave[2];
    QFrame *Frame1;
    QComboBox *cmbPhoneNo;
    DigitBox *txtNumber;
    QMenu *mnuSettings;
    QAction *mnuLoginAs, *mnuVOICE;
};

MainWindowUi ui(const QWidget *window);
template <class W> MainWindowUi ui(const std::unique_ptr<W> &window) {
    return ui(window.get());
}
