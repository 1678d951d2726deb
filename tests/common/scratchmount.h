#pragma once

#include <QString>
#include <QTemporaryDir>

// A small tmpfs of its own, mounted over a temporary folder, for tests of what the program does
// when a disk is full or read-only. Mounting needs root (as CI runs); elsewhere mounted() is false
// and the test says so and skips.
class ScratchMount {
public:
    explicit ScratchMount(int kilobytes = 64);
    ~ScratchMount();

    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    // Fills the file system to the last byte with one file; returns how many bytes it took.
    qint64 fill();
    // Makes the file system read-only, as a disk mounted read-only is.
    bool makeReadOnly();

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};
