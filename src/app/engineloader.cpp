#include "engineloader.h"

#include "errortraps.h"
#include "messagebox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <dlfcn.h>

#include <utility>

namespace {
constexpr auto kEngineFile = "libkirrow-engine.so";
constexpr auto kEntryPoint = "kirrow_create_engine";
} // namespace

QString EngineLoader::enginePath() {
    const QString chosen = qEnvironmentVariable("KIRROW_ENGINE");
    if (!chosen.isEmpty())
        return chosen;
    return QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(kEngineFile));
}

EngineLoader::~EngineLoader() {
    if (m_thread.joinable())
        m_thread.join();
    // The engine stays loaded until the program ends: objects it made may outlive this loader.
}

void EngineLoader::start() {
    if (m_started)
        return;
    m_started = true;
    const QByteArray path = QFile::encodeName(enginePath());
    m_thread = std::thread([this, path] {
        m_handle = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            m_error = QString::fromLocal8Bit(::dlerror());
        else
            QMetaObject::invokeMethod(
                qApp, [this] { prepareClient(); }, Qt::QueuedConnection);
    });
}

// Once the engine is loaded and the dialog still up: the client is made and its slow part done
// on the GUI thread (the engine is not made to change threads), between the user's key presses.
void EngineLoader::prepareClient() {
    if (std::exchange(m_preparing, true))
        return; // LOGIN came first
    try {
        m_prepared = makeClient();
        m_prepared->Prepare();
    } catch (const rtc::RtcError &) {
        m_prepared.reset(); // LOGIN makes one afresh and says what went wrong
    }
}

rtc::IRTCClientPtr EngineLoader::makeClient() {
    using Entry = rtc::IRTCClient *(*)();
    auto entry = m_handle ? reinterpret_cast<Entry>(::dlsym(m_handle, kEntryPoint)) : nullptr;
    return entry ? rtc::IRTCClientPtr(entry()) : nullptr;
}

void EngineLoader::startOnceRunning() {
    QTimer::singleShot(0, qApp, [this] { start(); });
}

rtc::IRTCClientPtr EngineLoader::createClient() {
    start();
    if (m_thread.joinable())
        m_thread.join();
    m_preparing = true; // a preparation still queued is not wanted any more
    if (m_prepared)
        return std::exchange(m_prepared, nullptr);
    rtc::IRTCClientPtr client = makeClient();
    if (!client) {
        const QString why =
            m_handle ? QStringLiteral("%1 has no engine in it.").arg(enginePath()) : m_error;
        platform::logError(QStringLiteral("ENGINE"), why);
        platform::showMessage(QStringLiteral("Kirrow's SIP engine could not be loaded, so it "
                                             "cannot log in or place calls. Installing Kirrow "
                                             "again should mend it.\n\n") +
                                  why,
                              QString(), platform::MessageIcon::Critical);
        throw rtc::RtcError(rtc::RTC_E_ENGINE,
                            QStringLiteral("The SIP engine could not be loaded: ") + why);
    }
    return client;
}
