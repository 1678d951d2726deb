#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QSocketNotifier;

namespace platform {

// The way from a later start of the program to the one already running for this user with the
// same settings: a local (Unix domain) socket in the user's runtime folder, spoken to with the
// system's calls directly: a network library for one line of text would cost every start its
// loading time. A later start hands over what it has (the number of a link the desktop opened, or
// nothing: the running one then just comes to the front) and ends, so that one account is never
// logged in twice; a start that finds none running listens, so that the next ones reach it. A
// socket left behind by a program that crashed is replaced. From the first step to listening, a
// lock keeps two starts at once from both taking the socket.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    // This user's socket for the program that keeps its settings in settingsFolder: in
    // $XDG_RUNTIME_DIR (a private folder of Qt's choosing when that is not set), named with the
    // user id and a digest of the folder, so that programs with settings folders of their own run
    // side by side. Empty when there is no runtime folder, and then no channel.
    static QString socketPathFor(const QString &settingsFolder);
    // The socket's name alone, in whatever runtime folder.
    static QString socketNameFor(const QString &settingsFolder);

    // Needs no application yet: a start that hands over ends before it has made one.
    explicit InstanceChannel(const QString &socketPath, QObject *parent = nullptr);
    ~InstanceChannel() override;

    // Gives message (one line; an empty one brings the running program to the front) to the
    // running program and returns true once it has taken it;
    // false when none runs, or it does not answer.
    bool handOver(const QByteArray &message);
    // Takes the socket for this program and reports what later starts hand over, unless another
    // one runs and keeps it. Needs the application.
    bool listen();
    // Lets go of the socket, so that the next start is the one that runs: called as the program
    // ends, before it takes its time to shut down.
    void stopListening();

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
    quint64 m_callersSeen = 0;
};

} // namespace platform
