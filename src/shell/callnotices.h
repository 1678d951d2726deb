#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace shell {

// Tells the desktop of calls through its notification service (org.freedesktop.Notifications on
// the session bus), as a telephone's screen would: a call ringing here, with the caller's number,
// taken away once the ringing ends; a call the caller gave up before anyone answered leaves
// "Missed call from" the number, until the user dismisses it. A desktop without the service
// shows nothing, and that is logged. The bus is only asked, never waited for.
class CallNotices : public QObject {
    Q_OBJECT
public:
    explicit CallNotices(QObject *parent = nullptr);

    void CallRinging(const QString &number);
    // Answered or declined (missed false), or given up by the caller (missed true).
    void RingingEnded(bool missed);

private:
    // Shows a notification; its id goes to shown once the service has given it.
    void Notify(const QString &summary, const QString &category, bool urgent,
                std::function<void(uint)> shown);
    void Close(uint id);

    QString m_number;
    // The ringing call's notification: its id once the service gave it, or 0.
    uint m_ringingId = 0;
    // Counts the calls that rang: a notification whose call has stopped ringing by the time its
    // id arrives is taken away at once.
    int m_ring = 0;
    bool m_ringing = false;
};

} // namespace shell
