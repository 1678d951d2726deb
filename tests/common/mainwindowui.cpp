#include "mainwindowui.h"

#include <stdexcept>

namespace {

template <class T> T *find(const QWidget *window, const QString &name) {
    T *found = window->findChild<T *>(name);
    if (!found)
        throw std::logic_error("the main window has no control " + name.toStdString());
    return found;
}

} // namespace

MainWindowUi ui(const QWidget *window) {
    MainWindowUi u{};
    const auto box = [window](const char *name) {
        return find<PictureBox>(window, QLatin1String(name));
    };
    u.Picture1 = box("Picture1");
    u.Picture2 = box("Picture2");
    u.Picture3 = box("Picture3");
    u.Picture4 = box("Picture4");
    u.Picture6 = box("Picture6");
    u.Picture8 = box("Picture8");
    u.Picture11 = box("Picture11");
    u.Picture13 = box("Picture13");
    u.Picture16 = box("Picture16");
    u.Picture17 = box("Picture17");
    u.Picture40 = box("Picture40");
    u.Picture41 = box("Picture41");
    u.picMenu = box("picMenu");
    u.Picture20 = box("Picture20");
    u.Picture21 = box("Picture21");
    u.Picture22 = box("Picture22");
    u.Picture25 = box("Picture25");
    u.Picture26 = box("Picture26");
    u.Picture27 = box("Picture27");
    u.Picture30 = box("Picture30");
    u.Picture31 = box("Picture31");
    u.Picture32 = box("Picture32");
    u.Picture35 = box("Picture35");
    u.Picture36 = box("Picture36");
    u.Picture37 = box("Picture37");
    u.logOn = box("logOn");
    u.logOff = box("logOff");
    u.TrayIcon = box("TrayIcon");
    u.lblMsg = find<StatusLine>(window, QStringLiteral("lblMsg"));
    u.lblBalance = find<QLabel>(window, QStringLiteral("lblBalance"));
    u.Image1 = find<QLabel>(window, QStringLiteral("Image1"));
    u.Image2 = find<QLabel>(window, QStringLiteral("Image2"));
    u.Image3 = find<QLabel>(window, QStringLiteral("Image3"));
    for (int i = 0; i < 2; ++i) {
        u.Label1[i] = find<QLabel>(window, QStringLiteral("Label1(%1)").arg(i));
        u.picWave[i] = find<KnobBox>(window, QStringLiteral("picWave(%1)").arg(i));
    }
    u.Frame1 = find<QFrame>(window, QStringLiteral("Frame1"));
    u.cmbPhoneNo = find<QComboBox>(window, QStringLiteral("cmbPhoneNo"));
    u.txtNumber = qobject_cast<DigitBox *>(u.cmbPhoneNo->lineEdit());
    u.mnuSettings = find<QMenu>(window, QStringLiteral("mnuSettings"));
    u.mnuLoginAs = find<QAction>(window, QStringLiteral("mnuLoginAs"));
    u.mnuVOICE = find<QAction>(window, QStringLiteral("mnuVOICE"));
    return u;
}
