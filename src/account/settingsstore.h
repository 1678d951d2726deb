#pragma once

#include <QString>

// The saved account: strings addressed by application, section and key, kept in the user's
// config folder (an INI file readable by the user alone).
namespace account {

// Reads one entry; an absent entry reads as defaultValue ("" unless given).
QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue = QString());

// Writes one entry. A store that cannot be written throws std::runtime_error and keeps what it had.
void SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value);

// Deletes every section and key of one application name.
void DeleteSetting(const QString &appName);

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

} // namespace account
