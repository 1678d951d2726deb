// The saved settings, over QSettings in a config folder of the run's own (never the user's): any
// value written reads back exactly; any file found reads as whatever QSettings makes of it, and a
// write to it either is refused with runtime_error, leaving the file as it was, or keeps the
// entries the program does not know.
//
// Input: its first byte chooses. Odd: the rest is the settings file as found, and the value then
// written. Even: the Password, Account, Sip values and the three sound devices, as UTF-16 strings
// each preceded by its length in code units (one byte).

#include "fuzzsupport.h"
#include "settingsstore.h"

#include <QDateTime>
#include <QFile>
#include <QSettings>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace {

QByteArray fileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QHash<QString, QVariant> entries(const QString &path) {
    const QSettings settings(path, QSettings::IniFormat);
    QHash<QString, QVariant> all;
    for (const QString &key : settings.allKeys())
        all.insert(key, settings.value(key));
    return all;
}

// What can be typed or pasted is whole characters: half a surrogate pair has no UTF-8 form, the
// file's encoding.
bool storable(const QString &value) {
    return QStringView(value).isValidUtf16();
}

void checkFileFound(const QByteArray &content, const QString &value) {
    const QString path = account::settingsFilePath();
    FUZZ_CHECK(QDir().mkpath(QFileInfo(path).absolutePath()));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(content) == content.size() && file.flush());
        // QSettings reads a file again only when its size or time differs from the last it read:
        // each file found gets a time of its own.
        static qint64 stamp = 0;
        FUZZ_CHECK(file.setFileTime(QDateTime::fromMSecsSinceEpoch(++stamp, Qt::UTC),
                                    QFileDevice::FileModificationTime));
    }
    // Whatever it holds reads without a fault.
    for (const QString &app :
         {account::kPasswordApp, account::kAccountApp, account::kSipApp, account::kSaveApp})
        (void)account::readEntry(app);
    (void)account::readAudioDevices();

    if (!storable(value))
        return;
    const QHash<QString, QVariant> before = entries(path);
    try {
        account::writeEntry(account::kAccountApp, value);
    } catch (const std::runtime_error &) {
        FUZZ_CHECK(fileBytes(path) == content);
        return;
    }
    FUZZ_CHECK(account::readEntry(account::kAccountApp) == value);
    const QString written = account::kAccountApp + QLatin1Char('/') + account::kSection +
                            QLatin1Char('/') + account::kKey;
    // Every other entry QSettings could read stays as it read. (One it could not, such as a quote
    // left open, it writes back as it makes of it.)
    const QHash<QString, QVariant> after = entries(path);
    // (QSettings takes "a\\b" and "a\b" in a file for one key, as it joins slashes: such a key is
    // the entry written too.)
    const auto sameKey = [](QString key) {
        while (key.contains(QLatin1String("//")))
            key.replace(QLatin1String("//"), QLatin1String("/"));
        return key;
    };
    for (auto entry = before.cbegin(); entry != before.cend(); ++entry) {
        if (sameKey(entry.key()) != written && entry.value().isValid())
            FUZZ_CHECK(after.value(entry.key()) == entry.value());
    }
}

void checkValues(const QString (&values)[6]) {
    // Written to a store of the program's own making, not one a file found left unwritable.
    QFile::remove(account::settingsFilePath());
    // A value the file could not keep as it is (U+FEFF) is refused, and nothing of that write
    // reaches the file.
    const auto unkeepable = [&](int from, int to) {
        return std::any_of(values + from, values + to,
                           [](const QString &value) { return value.contains(QChar(0xFEFF)); });
    };
    try {
        account::saveLogin(values[0], values[1], values[2], QStringLiteral("yes"));
        FUZZ_CHECK(!unkeepable(0, 3));
        account::saveAudioDevices({values[3], values[4], values[5]});
        FUZZ_CHECK(!unkeepable(3, 6));
    } catch (const std::runtime_error &) {
        if (unkeepable(0, 3))
            FUZZ_CHECK(!QFile::exists(account::settingsFilePath()));
        else
            FUZZ_CHECK(unkeepable(3, 6) &&
                       account::readAudioDevices() == account::AudioDeviceChoice{});
        return;
    }
    FUZZ_CHECK(account::readEntry(account::kPasswordApp) == values[0]);
    FUZZ_CHECK(account::readEntry(account::kAccountApp) == values[1]);
    FUZZ_CHECK(account::readEntry(account::kSipApp) == values[2]);
    FUZZ_CHECK(account::readEntry(account::kSaveApp) == QLatin1String("yes"));
    const account::AudioDeviceChoice devices{values[3], values[4], values[5]};
    FUZZ_CHECK(account::readAudioDevices() == devices);
    // One more writer's view: the file itself, read afresh.
    const QSettings settings(account::settingsFilePath(), QSettings::IniFormat);
    FUZZ_CHECK(settings.value(QStringLiteral("Audio/Microphone")).toString() == values[5]);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Every path the store works out lies in the run's own folder.
    qputenv("XDG_CONFIG_HOME",
            QFile::encodeName(fuzz::scratch().filePath(QStringLiteral("config"))));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data) + 1;
    size_t left = size - 1;
    if (data[0] & 1) {
        const QByteArray rest(bytes, qsizetype(left));
        const qsizetype nul = rest.indexOf('\0');
        checkFileFound(rest.left(nul < 0 ? rest.size() : nul),
                       nul < 0 ? QString() : QString::fromUtf8(rest.mid(nul + 1)));
        return 0;
    }
    QString values[6];
    fuzz::takeTexts(bytes, left, values);
    for (const QString &value : values) {
        if (!storable(value))
            return 0;
    }
    checkValues(values);
    return 0;
}
