#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

namespace shell {

// Hiding the program to the desktop's tray and bringing it back. The program has one icon in the
// tray exactly while its window is hidden there: the hide button puts it there, a left
// double-click on the icon brings the window back and takes the icon away, and every way out of
// the program takes it away first. The window does what the signals ask; the state and the icon
// are kept here.
class TrayController : public QObject {
    Q_OBJECT
public:
    explicit TrayController(QObject *parent = nullptr);

    // The picture the icon shows; its tip is the program's name.
    void setPicture(const QIcon &picture);
    // The picture it shows while a call rings, tipped "Call from" the caller.
    void setRingingPicture(const QIcon &picture);
    // Whether the desktop has a tray at the moment it is asked; by default the desktop's own
    // answer. A desktop can gain or lose its tray while the program runs.
    void setTrayAvailable(std::function<bool()> available);
    // Whether the tray reports a click on the icon and never a double-click; by default asked of
    // the desktop when the icon goes up.
    void setClicksOnly(std::function<bool()> clicksOnly);

    // True while the icon is in the tray.
    bool InTray() const { return blnInTray; }
    QSystemTrayIcon &Icon() const { return *m_icon; }

    // restore false: the window goes to the tray (or, on a desktop without one, is minimised);
    // restore true: the window comes back and the icon goes. The hide button passes InTray(), so
    // a window brought back some other way while its icon is still there only loses the icon.
    void NoSysIcon(bool restore);
    void ShowProgramInTray();
    // Harmless when there is no icon.
    void RemoveProgramFromTray();

    // A call rings: the window comes to the screen in front of the others, from the tray or from
    // being minimised, so the call can be answered. An icon in the tray shows the ringing
    // picture while the call rings, and goes when the ringing ends if the call brought the
    // window back; hidden again meanwhile, the window keeps it as its way back.
    void CallRinging(const QString &number);
    void RingingEnded();

signals:
    // Off the screen and out of the task bar: the tray icon is the way back.
    void hideWindow();
    // No tray: minimised as any window, so it can always be found again.
    void minimiseWindow();
    // Back in its normal state, in front of the others.
    void restoreWindow();
    // Back in its normal state and in front, for a call that rings: the user's typing elsewhere
    // is not taken from them.
    void showWindowForCall();

private:
    void TrayIcon_Activated(QSystemTrayIcon::ActivationReason reason);
    // The icon's picture and tip: the program's, or the ringing call's.
    void ShowWhatRings();

    bool blnInTray = false;
    bool m_toldNoTray = false;
    QSystemTrayIcon *m_icon;
    std::function<bool()> m_available;
    std::function<bool()> m_clicksOnly;
    bool m_restoreOnClick = false;
    QIcon m_picture;
    QIcon m_ringingPicture;
    QString m_caller; // while a call rings
    bool m_iconGoesWithRing = false;
    // While the window is in the tray: a tray that goes away (its panel closed or crashed) takes
    // the icon with it, and the window comes back rather than being lost.
    QTimer m_trayWatch;
};

} // namespace shell
