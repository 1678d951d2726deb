#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QSocketNotifier;

namespace platform {

// The way from a later start of the program to the one already running for this user: a local
// (Unix domain) socket in the user's runtime folder, spoken to with the system's calls directly:
// a network library for one line of text would cost every start its loading time. A start that has
// something to hand over (the number of a link the desktop opened) gives it to the running one and
// ends; a start that finds none running listens, so that the next ones reach it. A socket left
// behind by a program that crashed is replaced. From the first step to listening, a lock keeps two
// starts at once from both taking the socket.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    // This user's socket: in $XDG_RUNTIME_DIR (a private folder of Qt's choosing when that is not
    // set), named with the user id; empty when there is no such folder, and then no channel.
    static QString socketPathForUser();

    // Needs no application yet: a start that hands over ends before it has made one.
    explicit InstanceChannel(const QString &socketPath = socketPathForUser(),
                             QObject *parent = nullptr);
    ~InstanceChannel() override;

    // Gives message (one line) to the running program and returns true once it has taken it;
    // false when none runs, or it does not answer.
    bool handOver(const QByteArray &message);
    // Takes the socket for this program and reports what later starts hand over, unless another
    // one runs and keeps it. Needs the application.
    bool listen();

signals:
    void received(const QByteArray &message);

private:
    struct Caller;
    void acceptCallers();
    void readFrom(int fd);
    void hangUp(int fd);

    QString m_path;
    int m_startLock = -1; // a locked file, let go of by closing it
    int m_listener = -1;
    QSocketNotifier *m_listening = nullptr;
    std::map<int, std::unique_ptr<Caller>> m_callers;
};

} // namespace platform
