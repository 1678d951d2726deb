#include "settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <stdexcept>

namespace account {

namespace {

constexpr auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QSettings openStore() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Kirrow"),
                     QStringLiteral("Kirrow"));
}

// The file holds a password in plain text: it is created readable by the user alone, before
// the first value goes in, and the folder with it. A later rewrite keeps the mode it finds.
void createPrivately(const QString &path) {
    const QFileInfo info(path);
    if (!info.dir().exists()) {
        if (!QDir().mkpath(info.absolutePath()))
            throw std::runtime_error(QStringLiteral("Cannot create the folder %1.")
                                         .arg(info.absolutePath())
                                         .toStdString());
        QFile::setPermissions(info.absolutePath(), kOwnerOnly | QFileDevice::ExeOwner);
    }
    if (!info.exists()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly, kOwnerOnly))
            throw std::runtime_error(QStringLiteral("Cannot create %1: %2.")
                                         .arg(path, file.errorString())
                                         .toStdString());
    }
    QFile::setPermissions(path, kOwnerOnly);
}

void commit(QSettings &store) {
    store.sync();
    if (store.status() != QSettings::NoError)
        throw std::runtime_error(QStringLiteral("The settings could not be saved to %1.")
                                     .arg(store.fileName())
                                     .toStdString());
    QFile::setPermissions(store.fileName(), kOwnerOnly);
}

QString address(const QString &section, const QString &key) {
    return section + QLatin1Char('/') + key;
}

} // namespace

QString settingsFilePath() {
    return openStore().fileName();
}

QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue) {
    QSettings store = openStore();
    store.beginGroup(appName);
    return store.value(address(section, key), defaultValue).toString();
}

void SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value) {
    QSettings store = openStore();
    createPrivately(store.fileName());
    store.beginGroup(appName);
    store.setValue(address(section, key), value);
    store.endGroup();
    commit(store);
}

void DeleteSetting(const QString &appName) {
    QSettings store = openStore();
    if (!QFileInfo::exists(store.fileName()))
        return;
    store.remove(appName);
    commit(store);
}

QString readEntry(const QString &appName) {
    return GetSetting(appName, kSection, kKey);
}

void writeEntry(const QString &appName, const QString &value) {
    SaveSetting(appName, kSection, kKey, value);
}

} // namespace account
