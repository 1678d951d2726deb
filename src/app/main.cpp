#include "engineloader.h"
#include "frmkirrow.h"
#include "termination.h"
#include "windowsystem.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[]) {
    platform::choosePlatform();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kirrow"));
    QApplication::setOrganizationName(QStringLiteral("Kirrow"));

    // The engine loads while the login dialog is up; the client is made after LOGIN.
    EngineLoader engine;
    QTimer::singleShot(0, [&engine] { engine.start(); });
    frmKirrow window([&engine] { return engine.createClient(); });
    platform::onTerminationSignal(&window, [&window] {
        window.Quit();
        // A window that was hidden in the tray ends without being the last window seen to close,
        // so the program does not end with it by itself.
        if (window.HasEnded())
            QCoreApplication::quit();
    });
    if (!window.Form_Load())
        return 0; // EXIT in the login dialog
    window.show();
    return QApplication::exec();
}
