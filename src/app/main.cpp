#include "alsamixer.h"
#include "engineloader.h"
#include "frmkirrow.h"
#include "termination.h"
#include "windowsystem.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    platform::choosePlatform();
    audio::startOpeningMixer(); // beside Qt's own start, before the window asks for it
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kirrow"));
    QApplication::setOrganizationName(QStringLiteral("Kirrow"));

    // The engine loads while the login dialog is up; the client is made after LOGIN.
    EngineLoader engine;
    engine.startWhenShown();
    frmKirrow window([&engine] { return engine.createClient(); });
    platform::onTerminationSignal(&window, [&window] { window.Quit(); });
    if (!window.Form_Load())
        return 0; // EXIT in the login dialog
    window.show();
    return QApplication::exec();
}
