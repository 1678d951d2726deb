#include "errortraps.h"

#include "messagebox.h"
#include "programfiles.h"
#include "rtcclient.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <atomic>
#include <cstdio>
#include <map>

namespace platform {

QString formLoadErrorText() {
    return QStringLiteral("An Error Occured and has been logged. FORMLOAD");
}

QString errorDescription(const std::exception &error) {
    if (const auto *rtcError = dynamic_cast<const rtc::RtcError *>(&error))
        return rtcError->description().isEmpty() ? QString::number(rtcError->number())
                                                 : rtcError->description();
    return QString::fromLocal8Bit(error.what());
}

QString errorNumber(const std::exception &error) {
    if (const auto *rtcError = dynamic_cast<const rtc::RtcError *>(&error))
        return QString::number(rtcError->number());
    return errorDescription(error);
}

QString programLogPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Kirrow/kirrow.log");
}

void logError(const QString &where, const QString &what) {
    constexpr qint64 kKeptBytes = 1 << 20;
    const QString path = programLogPath();
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    // A log that grew past its size starts again, the last one kept beside it.
    if (info.isFile() && info.size() > kKeptBytes) {
        QFile::remove(path + QStringLiteral(".old"));
        QFile::rename(path, path + QStringLiteral(".old"));
    }
    const QString line = QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') +
                         where + QStringLiteral(": ") + what + QLatin1Char('\n');
    // A log that cannot be opened (a named pipe or a folder in its place, a full disk) is told on
    // the standard error once, until a line is written again.
    static std::atomic_bool told{false};
    QFile log(path);
    QString error;
    if (openRegularFile(log, QIODevice::WriteOnly | QIODevice::Append, &error) ==
        FileOpen::Opened) {
        log.write(line.toUtf8());
        told = false;
        return;
    }
    if (!told.exchange(true))
        std::fputs(qPrintable(QStringLiteral("Kirrow: the log %1 cannot be written: %2\n")
                                  .arg(QDir::toNativeSeparators(path), error)),
                   stderr);
}

bool stopAndShow(const std::function<void()> &step) {
    return stopAndShow(step, formLoadErrorText(), QStringLiteral("FORMLOAD"));
}

bool stopAndShow(const std::function<void()> &step, const QString &message, const QString &where) {
    try {
        step();
        return true;
    } catch (const std::exception &error) {
        logError(where, errorDescription(error));
        showMessage(message);
        return false;
    }
}

bool showInStatusLine(const std::function<void(const QString &)> &show,
                      const std::function<void()> &step, ErrorText text) {
    try {
        step();
        return true;
    } catch (const std::exception &error) {
        show(QStringLiteral("Error:  ") +
             (text == ErrorText::Number ? errorNumber(error) : errorDescription(error)));
        return false;
    }
}

namespace {

// How often the same failure at the same place is written to the log at most.
constexpr qint64 kRepeatLoggedAfterMs = 60000;

// A failure already logged: when, and how often it was skipped since without a line.
struct Logged {
    QElapsedTimer since;
    int unlogged = 0;
};

void logSkipped(const QString &where, const QString &what) {
    static QMutex guard;
    static std::map<QString, Logged> logged;
    const QMutexLocker lock(&guard);
    Logged &last = logged[where + QLatin1Char('\n') + what];
    if (last.since.isValid() && last.since.elapsed() < kRepeatLoggedAfterMs) {
        ++last.unlogged;
        return;
    }
    const QString again = last.unlogged > 0
                              ? QStringLiteral(" (and %1 more times before)").arg(last.unlogged)
                              : QString();
    last.since.start();
    last.unlogged = 0;
    logError(where, QStringLiteral("skipped: ") + what + again);
}

} // namespace

bool skipOnError(const std::function<void()> &step, const std::source_location &where) {
    try {
        step();
        return true;
    } catch (const std::exception &error) {
        logSkipped(QStringLiteral("%1 (%2:%3)")
                       .arg(QLatin1String(where.function_name()),
                            QFileInfo(QString::fromLocal8Bit(where.file_name())).fileName())
                       .arg(where.line()),
                   errorDescription(error));
        return false;
    }
}

} // namespace platform
