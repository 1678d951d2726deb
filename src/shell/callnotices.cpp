#include "callnotices.h"

#include "errortraps.h"
#include "messagebox.h"
#include "sessionbus.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <utility>

namespace shell {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kWhere = QStringLiteral("NOTIFICATIONS");
constexpr uchar kCritical = 2; // urgency: stays until taken away
constexpr int kNeverExpires = 0;

QDBusMessage notificationCall(const QString &method) {
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}
} // namespace

CallNotices::CallNotices(QObject *parent) : QObject(parent) {}

void CallNotices::CallRinging(const QString &number) {
    m_number = number;
    m_ringing = true;
    const int ring = ++m_ring;
    Notify(QStringLiteral("Call from ") + number, QStringLiteral("call.incoming"), true,
           [this, ring](uint id) {
               if (ring == m_ring && m_ringing)
                   m_ringingId = id;
               else
                   Close(id); // the ringing ended while the service was answering
           });
}

void CallNotices::RingingEnded(bool missed) {
    m_ringing = false;
    if (m_ringingId != 0)
        Close(std::exchange(m_ringingId, 0u));
    if (missed)
        Notify(QStringLiteral("Missed call from ") + m_number, QStringLiteral("call.unanswered"),
               false, [](uint) {});
}

void CallNotices::Notify(const QString &summary, const QString &category, bool urgent,
                         std::function<void(uint)> shown) {
    if (!sessionBusExists()) {
        platform::logError(kWhere, QStringLiteral("no session bus: not shown: ") + summary);
        return;
    }
    QVariantMap hints{{QStringLiteral("category"), category},
                      {QStringLiteral("desktop-entry"), QStringLiteral("kirrow")}};
    if (urgent)
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue(kCritical));
    QDBusMessage call = notificationCall(QStringLiteral("Notify"));
    call << platform::appTitle() << uint(0) << QStringLiteral("kirrow") << summary << QString()
         << QStringList() << hints << kNeverExpires;
    auto *watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [summary, shown = std::move(shown)](QDBusPendingCallWatcher *answer) {
                answer->deleteLater();
                const QDBusPendingReply<uint> reply = *answer;
                if (reply.isError()) {
                    platform::logError(
                        kWhere,
                        QStringLiteral("not shown: %1: %2").arg(summary, reply.error().message()));
                    return;
                }
                shown(reply.value());
            });
}

void CallNotices::Close(uint id) {
    QDBusMessage call = notificationCall(QStringLiteral("CloseNotification"));
    call << id;
    if (!QDBusConnection::sessionBus().send(call))
        platform::logError(kWhere, QStringLiteral("notification %1 not taken away").arg(id));
}

} // namespace shell
