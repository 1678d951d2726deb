#include "frmkirrow.h"
#include "linphoneclient.h"
#include "termination.h"
#include "windowsystem.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    platform::choosePlatform();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kirrow"));
    QApplication::setOrganizationName(QStringLiteral("Kirrow"));

    frmKirrow window([] { return std::make_shared<rtc::LinphoneClient>(); });
    platform::onTerminationSignal(&window, [&window] { window.Quit(); });
    if (!window.Form_Load())
        return 0; // EXIT in the login dialog
    window.show();
    return QApplication::exec();
}
