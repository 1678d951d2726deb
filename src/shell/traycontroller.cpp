#include "traycontroller.h"

#include "messagebox.h"
#include "sessionbus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <utility>

namespace shell {

namespace {
// How often a window hidden in the tray looks whether the tray is still there (a panel that
// ended brings the window back). Seldom enough not to wake an idle phone each second.
constexpr int kTrayWatchMs = 3000;

// Trays over D-Bus (the StatusNotifierItem protocol of KDE, GNOME's AppIndicator extension and
// most panels today) report a click on the icon and never a double-click. Qt uses one whenever
// the session bus has its watcher. Without a session bus to reach, there is none; the bus is
// not started for the question.
bool trayReportsClicksOnly() {
    if (!sessionBusExists())
        return false;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}
} // namespace

TrayController::TrayController(QObject *parent)
    : QObject(parent), m_icon(new QSystemTrayIcon(this)),
      m_available(&QSystemTrayIcon::isSystemTrayAvailable), m_clicksOnly(&trayReportsClicksOnly) {
    ShowWhatRings();
    connect(m_icon, &QSystemTrayIcon::activated, this, &TrayController::TrayIcon_Activated);
    m_trayWatch.setInterval(kTrayWatchMs);
    connect(&m_trayWatch, &QTimer::timeout, this, [this] {
        if (!m_available())
            NoSysIcon(true);
    });
}

void TrayController::setPicture(const QIcon &picture) {
    m_picture = picture;
    ShowWhatRings();
}

void TrayController::setRingingPicture(const QIcon &picture) {
    m_ringingPicture = picture;
    ShowWhatRings();
}

void TrayController::CallRinging(const QString &number) {
    m_caller = number;
    ShowWhatRings();
    m_iconGoesWithRing = blnInTray;
    emit showWindowForCall();
}

void TrayController::RingingEnded() {
    m_caller.clear();
    ShowWhatRings();
    if (blnInTray && std::exchange(m_iconGoesWithRing, false))
        RemoveProgramFromTray(); // the window came back for the call and stays
}

void TrayController::ShowWhatRings() {
    const bool ringing = !m_caller.isEmpty();
    m_icon->setIcon(ringing ? m_ringingPicture : m_picture);
    m_icon->setToolTip(ringing ? QStringLiteral("Call from ") + m_caller : platform::appTitle());
}

void TrayController::setTrayAvailable(std::function<bool()> available) {
    m_available = std::move(available);
}

void TrayController::setClicksOnly(std::function<bool()> clicksOnly) {
    m_clicksOnly = std::move(clicksOnly);
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
    m_iconGoesWithRing = false; // hidden again while the call rings: the icon is the way back
    m_restoreOnClick = m_clicksOnly();
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
    // A tray that never reports a double-click would keep the window hidden for good: there a
    // click brings it back.
    if (reason == QSystemTrayIcon::DoubleClick ||
        (reason == QSystemTrayIcon::Trigger && m_restoreOnClick))
        NoSysIcon(true);
}

} // namespace shell
