#include "alsamixer.h"
#include "engineloader.h"
#include "fontwarmup.h"
#include "freedmemory.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "instancechannel.h"
#include "linknumber.h"
#include "phonebookfile.h"
#include "picturepreload.h"
#include "programfiles.h"
#include "recentlog.h"
#include "registrationcontroller.h"
#include "settingsstore.h"
#include "termination.h"
#include "windowsystem.h"

#include <QApplication>
#include <QFileInfo>
#include <QScopeGuard>

#include <cstdlib>

namespace {

// The desktop opens sip: and tel: links with the program ("kirrow %u"): the first argument that
// is such a link with a number in it.
QString linkArgument(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (calls::numberFromLink(argument))
            return argument;
    }
    return {};
}

// A write killed half way (the program killed, the machine off) can leave its temporary copy
// beside the file, the settings' with the password in it; nothing else would ever remove them.
void removeStaleCopies() {
    for (const QString &path :
         {account::settingsFilePath(), phonebook::phoneBookPath(), calls::recentLogPath()})
        platform::removeStaleCopies(path);
}

} // namespace

int main(int argc, char *argv[]) {
    platform::keepLittleFreedMemory();
    // A program already running with the same settings takes over this start, and this one ends
    // there, before it has opened the display: it comes to the front, with the number of a link
    // when there is one, rather than a second phone logging in to the same account.
    const QString link = linkArgument(argc, argv);
    platform::InstanceChannel channel(
        platform::InstanceChannel::socketPathFor(QFileInfo(account::settingsFilePath()).path()));
    if (channel.handOver(link.toUtf8()))
        return 0;

    platform::choosePlatform();
    // The fonts' configuration is read beside Qt's own start, before the first widget asks for it.
    platform::startReadingFonts();
    QApplication app(argc, argv);
    // Pictures only once the application is made: Qt's image reader looks up its plug-ins in
    // the application's folders, which the application's making sets up.
    skin::startDecodingPictures(frmLogin::FirstPictures());
    platform::awaitFonts();
    QApplication::setApplicationName(QStringLiteral("Kirrow"));
    QApplication::setOrganizationName(QStringLiteral("Kirrow"));
    QGuiApplication::setDesktopFileName(QStringLiteral("kirrow"));

    // The engine loads while the login dialog is up; the client is made after LOGIN.
    EngineLoader engine;
    std::unique_ptr<frmLogin> login = frmKirrow::ShowLoginAhead();
    // The mixer opens while the window is built behind the dialog. (Opened beside Qt's own start,
    // its loading and the sound server's answers held the dialog back by 2 to 8 ms.)
    audio::startOpeningMixer();
    // The window's pictures are decoded then as well (beside Qt's own start, they held the dialog
    // back by about a millisecond).
    skin::startDecodingPictures(frmKirrow::FirstPictures());
    frmKirrow window([&engine] { return engine.createClient(); });
    window.TakeLoginShownAhead(std::move(login));
    engine.startOnceRunning();
    platform::onTerminationSignal(&window, [&window] {
        window.Quit();
        // A window that was hidden in the tray ends without being the last window seen to close,
        // so the program does not end with it by itself.
        if (window.HasEnded())
            QCoreApplication::quit();
    });

    // Later starts come to this window; the numbers of their links, and this start's own, wait
    // in the number box for the login.
    channel.listen();
    // A start once this one is ending (taking back its registration) runs on its own.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &channel,
                     &platform::InstanceChannel::stopListening);
    QObject::connect(&channel, &platform::InstanceChannel::received, &window,
                     [&window](const QByteArray &handed) {
                         if (const auto number = calls::numberFromLink(QString::fromUtf8(handed)))
                             window.ShowLinkedNumber(*number);
                         else
                             window.BringToFront();
                     });
    if (const auto number = calls::numberFromLink(link))
        window.ShowLinkedNumber(*number);

    // Also when the user leaves at the login: the settings' copies may hold the password.
    removeStaleCopies();
    // Qt ends the program with exit() when its connection to the display breaks (the X server
    // gone, the window killed by xkill): without an event loop, without unwinding to here. The
    // shutdown then happens from an exit handler; an ending through here has done it already.
    // Exit handlers run in the reverse order of their making, and Qt and the engine make theirs
    // for objects they create on first use: made again after each step that may create some (a
    // login, a call), this one runs while all of them are still there.
    static frmKirrow *unfinished = nullptr;
    unfinished = &window;
    const auto armExitShutdown = [] {
        std::atexit([] {
            if (unfinished && !unfinished->HasEnded())
                unfinished->ShutDownWithoutDisplay();
        });
    };
    armExitShutdown();
    QObject::connect(&window.Registration(), &account::RegistrationController::statusChanged,
                     armExitShutdown);
    QObject::connect(&window.Registration(), &account::RegistrationController::sessionStateChanged,
                     armExitShutdown);
    const auto finished = qScopeGuard([] { unfinished = nullptr; });
    if (!window.Form_Load())
        return 0; // EXIT in the login dialog
    window.show();
    return QApplication::exec();
}
