#include "settingsstore.h"

#include "programfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#include <functional>
#include <initializer_list>
#include <stdexcept>

namespace account {

namespace {

constexpr QFile::Permissions kPrivateFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions kPrivateFolder = kPrivateFile | QFile::ExeOwner;

const QString kAudioSpeakerKey = QStringLiteral("Audio/Speaker");
const QString kAudioRingerKey = QStringLiteral("Audio/Ringer");
const QString kAudioMicrophoneKey = QStringLiteral("Audio/Microphone");
const QString kAudioEchoCancellingKey = QStringLiteral("Audio/EchoCancelling");

QString entryKey(const QString &appName) {
    return appName + QLatin1Char('/') + kSection + QLatin1Char('/') + kKey;
}

std::runtime_error saveError(const QString &path, const QString &reason) {
    return std::runtime_error(QStringLiteral("The settings could not be saved to %1: %2.")
                                  .arg(path, reason)
                                  .toStdString());
}

// QSettings (Qt 6.4) reads U+FEFF, an invisible character, as a byte order mark and drops it
// where a value begins or follows a character the file holds escaped ("\x1", "\n"). Rather
// than report saved a value that reads back changed, one holding it is refused, before
// anything is written.
void requireKeepable(std::initializer_list<QString> values) {
    for (const QString &value : values)
        if (value.contains(QChar(0xFEFF)))
            throw saveError(settingsFilePath(),
                            QStringLiteral("a value holds the invisible character U+FEFF, which "
                                           "the file cannot keep"));
}

// Something other than a file where the file should be (a folder, a pipe) is neither read,
// which could wait forever on a pipe, nor written.
bool isUsable(const QString &path) {
    const QFileInfo info(path);
    return !info.exists() || info.isFile();
}

// A file the user may not read reads as nothing, though QSettings may still hold what it read of
// it before.
bool isReadable(const QString &path) {
    const QFileInfo info(path);
    return !info.exists() || (info.isFile() && info.isReadable());
}

// QSettings says only that a write failed; the steps it takes, tried again, say why.
QString whyNotWritten(const QString &path) {
    QFile file(path);
    if (QFileInfo::exists(path) && !file.open(QIODevice::ReadWrite))
        return file.errorString();
    if (!isUsable(path))
        return QStringLiteral("it is not a regular file");
    QSaveFile copy(path);
    if (!copy.open(QIODevice::WriteOnly))
        return copy.errorString();
    copy.cancelWriting();
    return QStringLiteral("the new text could not be put in its place");
}

// QSaveFile gives the new file the old one's mode, so the file is made the user's alone before
// it is written: created empty when missing, in a folder for the user alone, and closed to others
// when something else left it open. (A file system without modes refuses; the write goes on.)
void makePrivate(const QString &path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder) &&
        !(QDir().mkpath(QFileInfo(folder).absolutePath()) && QDir().mkdir(folder, kPrivateFolder)))
        throw saveError(path, QStringLiteral("its folder %1 could not be created").arg(folder));
    QString error;
    if (!QFileInfo::exists(path) && !platform::createEmptyFile(path, &error))
        throw saveError(path, error);
    QFile::setPermissions(path, kPrivateFile);
}

// QSettings hands what it read of a file to the next QSettings of the same file, reading it again
// only when its size or time (to the millisecond) has changed, and tells only the first of the
// lines it could not read. A time moved on makes the next QSettings read the file and see them.
void readAfresh(QFile &file) {
    const qint64 was = file.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    file.setFileTime(QDateTime::fromMSecsSinceEpoch(now != was ? now : was + 1, Qt::UTC),
                     QFileDevice::FileModificationTime);
}

// The settings as the file holds them, for reading: what QSettings makes of them, so nothing
// when the file is missing, cannot be read, or is no file.
QStringList readValues(const QStringList &keys, const QString &defaultValue) {
    const QString path = settingsFilePath();
    if (!isReadable(path))
        return QStringList(keys.size(), defaultValue);
    const QSettings settings(path, QSettings::IniFormat);
    QStringList values;
    for (const QString &key : keys)
        values.append(settings.value(key, defaultValue).toString());
    return values;
}

// Lets change set and remove entries, then writes them all in one write (QSettings writes the
// whole file through QSaveFile, under a lock file kept by QLockFile). change says whether it
// changed anything: nothing is written otherwise, nor a missing file created.
void write(const std::function<bool(QSettings &)> &change) {
    const QString path = settingsFilePath();
    if (!isUsable(path))
        throw saveError(path, whyNotWritten(path));
    if (QFile file(path); file.exists()) {
        // One that cannot be read is not written over blindly.
        if (!file.open(QIODevice::ReadOnly))
            throw saveError(path, file.errorString());
        readAfresh(file);
    }
    QSettings settings(path, QSettings::IniFormat);
    settings.setAtomicSyncRequired(true); // the default: a new copy renamed into place, or nothing
    // Everything is read before anything is changed. QSettings would write a file it could not
    // read all of without the lines it could not read, so such a file is left as it stands and
    // the write refused, as is one that cannot be read at all.
    QHash<QString, QVariant> before;
    for (const QString &key : settings.allKeys())
        before.insert(key, settings.value(key));
    if (settings.status() == QSettings::FormatError)
        throw saveError(path, QStringLiteral("it holds lines that are not settings; correct or "
                                             "remove them"));
    if (settings.status() != QSettings::NoError)
        throw saveError(path, QStringLiteral("it cannot be read"));
    if (!change(settings))
        return;
    makePrivate(path);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return;
    // QSettings keeps changes it could not write and would show them to the next reader, and
    // write them with the next change: they are set back to what the file holds.
    settings.clear();
    for (auto entry = before.cbegin(); entry != before.cend(); ++entry)
        settings.setValue(entry.key(), entry.value());
    throw saveError(path, whyNotWritten(path));
}

// Sets one entry; false when it holds that value already.
bool setEntry(QSettings &settings, const QString &key, const QString &value) {
    if (settings.value(key) == QVariant(value))
        return false;
    settings.setValue(key, value);
    return true;
}

// Removes every entry of an application name; false when it has none.
bool removeApplication(QSettings &settings, const QString &appName) {
    settings.beginGroup(appName);
    // A name QSettings reads as no name at all ("", "/") would be every entry.
    const bool present = !settings.group().isEmpty() && !settings.allKeys().isEmpty();
    if (present)
        settings.remove(QString());
    settings.endGroup();
    return present;
}

} // namespace

QString settingsFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Kirrow/Kirrow.ini");
}

QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue) {
    return readValues({appName + QLatin1Char('/') + section + QLatin1Char('/') + key}, defaultValue)
        .constFirst();
}

void SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value) {
    requireKeepable({value});
    write([&](QSettings &settings) {
        return setEntry(settings, appName + QLatin1Char('/') + section + QLatin1Char('/') + key,
                        value);
    });
}

void DeleteSetting(const QString &appName) {
    removeApplications({appName});
}

void removeApplications(const QStringList &appNames) {
    write([&](QSettings &settings) {
        bool changed = false;
        for (const QString &appName : appNames)
            changed |= removeApplication(settings, appName);
        return changed;
    });
}

QString readEntry(const QString &appName) {
    return GetSetting(appName, kSection, kKey);
}

void writeEntry(const QString &appName, const QString &value) {
    SaveSetting(appName, kSection, kKey, value);
}

namespace {
// Removes those of the Password, Account and Sip applications whose entry is not empty.
bool removeAccountEntries(QSettings &settings) {
    bool changed = false;
    for (const QString &appName : {kPasswordApp, kAccountApp, kSipApp}) {
        if (!settings.value(entryKey(appName)).toString().isEmpty())
            changed |= removeApplication(settings, appName);
    }
    return changed;
}
} // namespace

void saveLogin(const QString &password, const QString &account, const QString &sip,
               const QString &save) {
    requireKeepable({password, account, sip, save});
    // An account not to be kept never reaches the disk: a program that ends without its
    // shutdown (killed, the display gone, a crash) would leave it there. What stays is what the
    // orderly exit leaves.
    if (save == QLatin1String("no")) {
        write([&](QSettings &settings) {
            const bool changed = setEntry(settings, entryKey(kSaveApp), save);
            return removeAccountEntries(settings) || changed;
        });
        return;
    }
    write([&](QSettings &settings) {
        bool changed = setEntry(settings, entryKey(kPasswordApp), password);
        changed |= setEntry(settings, entryKey(kAccountApp), account);
        changed |= setEntry(settings, entryKey(kSipApp), sip);
        changed |= setEntry(settings, entryKey(kSaveApp), save);
        return changed;
    });
}

void eraseAccount() {
    write(removeAccountEntries);
}

AudioDeviceChoice readAudioDevices() {
    const QStringList values = readValues(
        {kAudioSpeakerKey, kAudioRingerKey, kAudioMicrophoneKey, kAudioEchoCancellingKey},
        QString());
    return {values[0], values[1], values[2], values[3] != QLatin1String("false")};
}

void saveAudioDevices(const AudioDeviceChoice &choice) {
    requireKeepable({choice.speaker, choice.ringer, choice.microphone});
    write([&](QSettings &settings) {
        bool changed = setEntry(settings, kAudioSpeakerKey, choice.speaker);
        changed |= setEntry(settings, kAudioRingerKey, choice.ringer);
        changed |= setEntry(settings, kAudioMicrophoneKey, choice.microphone);
        // Written only for a headset: the file of one who never chose stays as it was.
        if (!choice.echoCancelling)
            changed |= setEntry(settings, kAudioEchoCancellingKey, QStringLiteral("false"));
        else if (settings.contains(kAudioEchoCancellingKey)) {
            settings.remove(kAudioEchoCancellingKey);
            changed = true;
        }
        return changed;
    });
}

QStringList readKeys(const QStringList &keys, const QString &defaultValue) {
    return readValues(keys, defaultValue);
}

void saveKeys(const QList<std::pair<QString, QString>> &entries) {
    write([&](QSettings &settings) {
        bool changed = false;
        for (const auto &[key, value] : entries)
            changed |= setEntry(settings, key, value);
        return changed;
    });
}

} // namespace account
