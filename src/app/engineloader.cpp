#include "engineloader.h"

#include "errortraps.h"
#include "messagebox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <dlfcn.h>

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
    });
}

void EngineLoader::startOnceRunning() {
    QTimer::singleShot(0, qApp, [this] { start(); });
}

rtc::IRTCClientPtr EngineLoader::createClient() {
    start();
    if (m_thread.joinable())
        m_thread.join();
    using Entry = rtc::IRTCClient *(*)();
    auto entry = m_handle ? reinterpret_cast<Entry>(::dlsym(m_handle, kEntryPoint)) : nullptr;
    if (!entry) {
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
    return rtc::IRTCClientPtr(entry());
}
