// The main window and the links the desktop opens with the program: their numbers go into the
// number box, and the window comes to the front.

#include "frmkirrow.h"
#include "traycontroller.h"

#include <QApplication>

void frmKirrow::ShowLinkedNumber(const QString &number) {
    m_calls->offerNumber(number);
    BringToFront();
}

void frmKirrow::BringToFront() {
    if (m_calls->readyForNumbers() && !m_ended) {
        if (m_tray && m_tray->InTray())
            m_tray->NoSysIcon(true); // back from the tray, its icon gone
        else
            RestoreWindow();
        activateWindow();
    }
    // A dialog open over the window (the login dialog at start-up, the phone book) stays on top.
    if (QWidget *dialog = QApplication::activeModalWidget()) {
        dialog->raise();
        dialog->activateWindow();
    }
}
