#include "traycontroller.h"

#include "messagebox.h"

namespace shell {

namespace {
constexpr int kTrayWatchMs = 1000;
} // namespace

TrayController::TrayController(QObject *parent)
    : QObject(parent), m_icon(new QSystemTrayIcon(this)),
      m_available(&QSystemTrayIcon::isSystemTrayAvailable) {
    m_icon->setToolTip(platform::appTitle());
    connect(m_icon, &QSystemTrayIcon::activated, this, &TrayController::TrayIcon_Activated);
    m_trayWatch.setInterval(kTrayWatchMs);
    connect(&m_trayWatch, &QTimer::timeout, this, [this] {
        if (!m_available())
            NoSysIcon(true);
    });
}

void TrayController::setPicture(const QIcon &picture) {
    m_icon->setIcon(picture);
}

void TrayController::setTrayAvailable(std::function<bool()> available) {
    m_available = std::move(available);
}

void TrayController::NoSysIcon(bool restore) {
    if (restore) {
        emit restoreWindow();
        RemoveProgramFromTray();
        return;
    }
    if (!m_available()) {
        // Hidden with no icon to bring it back, the window would be lost: it is only minimised,
        // and the user is told why once. The box comes first, while the window is still there
        // to carry it.
        if (!m_toldNoTray) {
            m_toldNoTray = true;
            platform::showMessage(
                QStringLiteral("This desktop has no system tray: Kirrow is minimised instead."),
                QString(), platform::MessageIcon::Information);
        }
        emit minimiseWindow();
        return;
    }
    emit hideWindow();
    ShowProgramInTray();
}

void TrayController::ShowProgramInTray() {
    blnInTray = true;
    m_icon->show();
    m_trayWatch.start();
}

void TrayController::RemoveProgramFromTray() {
    blnInTray = false;
    m_trayWatch.stop();
    m_icon->hide();
}

// Only a left double-click brings the window back; single clicks, other buttons and the pointer
// passing over change nothing, and the icon has no menu.
void TrayController::TrayIcon_Activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick)
        NoSysIcon(true);
}

} // namespace shell
