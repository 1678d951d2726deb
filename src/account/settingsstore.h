#pragma once

#include <QString>
#include <QStringList>

#include <utility>

// The saved account: strings addressed by application, section and key, kept in the user's
// config folder by QSettings (an INI file readable by the user alone, in a folder of the user's
// alone), so files written by earlier versions read the same and either can read what the other
// wrote.
//
// Every write replaces the whole file at once (QSettings writes through QSaveFile, under a lock
// file that keeps two writers apart): the new text goes to a file of its own, reaches the disk,
// and is then renamed over the old one. A crash or power cut at any moment leaves the old text or
// the new, never a mix; one in the instant between naming the new copy and renaming it can leave
// that copy, whole and the user's alone, beside the file. Entries the program does not know are
// kept; comments are not. A file holding lines that are not settings is not written over: the
// write fails and the file stays as it was.
namespace account {

// Reads one entry; an absent entry, or a file that is missing or cannot be read, reads as
// defaultValue ("" unless given). Never throws. (QSettings takes a file of the size and time, to
// the millisecond, it read last for the same file; another program's write that matches both
// reads as the file it replaced.)
QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue = QString());

// Writes one entry (nothing when it holds that value already). A store that cannot be written
// throws std::runtime_error naming the file and the reason, and keeps what it had.
void SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value);

// Deletes every section and key of one application name.
void DeleteSetting(const QString &appName);

// Deletes every section and key of each application name, in one write.
void removeApplications(const QStringList &appNames);

// Where the entries are kept.
QString settingsFilePath();

// The entries of this program: each application name holds section "Parameters", key "Validation".
inline const QString kSection = QStringLiteral("Parameters");
inline const QString kKey = QStringLiteral("Validation");
inline const QString kPasswordApp = QStringLiteral("Password");
inline const QString kAccountApp = QStringLiteral("Account");
inline const QString kSipApp = QStringLiteral("Sip");
inline const QString kSaveApp = QStringLiteral("Save");

// Reads the program entry of one application name.
QString readEntry(const QString &appName);
void writeEntry(const QString &appName, const QString &value);

// Writes the Password, Account, Sip and Save entries in one write: the file holds the whole login
// it had or the whole new one. With save "no" only Save is written, and a saved account erased.
// Throws std::runtime_error as SaveSetting does.
void saveLogin(const QString &password, const QString &account, const QString &sip,
               const QString &save);

// Deletes those of the Password, Account and Sip applications whose entry is not empty, in one
// write; Save stays. Throws std::runtime_error as SaveSetting does.
void eraseAccount();

// The sound devices chosen in the audio tuning wizard, by the communications client's ids; ""
// is the default device. Kept in a section of their own, [Audio], apart from the login.
struct AudioDeviceChoice {
    QString speaker;
    QString ringer;
    QString microphone;
    bool echoCancelling = true; // off for a headset, where the far end cannot hear the speakers
    bool operator==(const AudioDeviceChoice &) const = default;
};
AudioDeviceChoice readAudioDevices();
// Writes the three in one write. Throws std::runtime_error as SaveSetting does.
void saveAudioDevices(const AudioDeviceChoice &choice);

// Entries by their "Section/Key" path, for sections of their own ([Connection]): read, an absent
// one as defaultValue; and written together in one write (throwing as SaveSetting does).
QStringList readKeys(const QStringList &keys, const QString &defaultValue = QString());
void saveKeys(const QList<std::pair<QString, QString>> &entries);

} // namespace account
