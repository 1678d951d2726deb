#include "settingsstore.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace account {

namespace {

// ---------------------------------------------------------------------------------------------
// The text of the file, cut, escaped and unescaped by the rules of QSettings's INI format.

// One line as the INI reader cuts it: [start, end) of the data, '=' at equals (-1 when none).
// A quoted value may run over several physical lines; a ';' outside quotes ends a line and
// starts a comment, which is skipped with the blank space between lines.
struct IniLine {
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype equals = -1;
    bool open = false; // ran to the end of the data inside quotes
};

bool isIniSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r';
}

bool nextIniLine(QByteArrayView data, qsizetype &pos, IniLine &line) {
    const qsizetype size = data.size();
    bool inQuotes = false;
    line.equals = -1;
    line.start = pos;
    while (line.start < size && isIniSpace(data[line.start]))
        ++line.start;
    qsizetype i = line.start;
    while (i < size) {
        const char ch = data[i++];
        if (ch == '=') {
            if (!inQuotes && line.equals == -1)
                line.equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == line.start + 1) {
                ++line.start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            // An escaped character, or a line continued: "\" then \n, \r, \r\n or \n\r.
            if (i < size) {
                const char escaped = data[i++];
                if (i < size &&
                    ((escaped == '\n' && data[i] == '\r') || (escaped == '\r' && data[i] == '\n')))
                    ++i;
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';') {
            if (i == line.start + 1) {
                while (i < size && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < size && isIniSpace(data[i]))
                    ++i;
                line.start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = i;
    line.end = i;
    line.open = inQuotes;
    return line.end > line.start;
}

int hexValue(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// A key or section name in the file: '/' as '\', letters, digits and "_-." as they are, anything
// else as %XX or %UXXXX.
QByteArray escapedKey(const QString &key) {
    QByteArray result;
    for (const QChar qch : key) {
        const char16_t ch = qch.unicode();
        if (ch == '/') {
            result += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                   (ch >= '0' && ch <= '9') || ch == '_' || ch == '-' || ch == '.') {
            result += char(ch);
        } else if (ch <= 0xFF) {
            result += '%';
            result += kHexDigits[ch / 16];
            result += kHexDigits[ch % 16];
        } else {
            result += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                result += kHexDigits[(ch >> shift) & 0xF];
        }
    }
    return result;
}

QString unescapedKey(QByteArrayView key) {
    QString result;
    qsizetype i = 0;
    while (i < key.size()) {
        const uchar ch = uchar(key[i]);
        if (ch == '\\') {
            result += QLatin1Char('/');
            ++i;
            continue;
        }
        if (ch != '%' || i == key.size() - 1) {
            result += QLatin1Char(char(ch));
            ++i;
            continue;
        }
        const bool wide = key[i + 1] == 'U';
        const qsizetype first = i + (wide ? 2 : 1);
        const int digits = wide ? 4 : 2;
        int code = 0;
        bool ok = first + digits <= key.size();
        for (int d = 0; ok && d < digits; ++d) {
            const int value = hexValue(key[first + d]);
            ok = value >= 0;
            code = code * 16 + value;
        }
        if (!ok) {
            result += QLatin1Char('%');
            ++i;
            continue;
        }
        result += QChar(char16_t(code));
        i = first + digits;
    }
    return result;
}

// A string value in the file: C escapes for control characters, quotes and backslashes, UTF-8
// for the rest, and quotes round it when it holds ';', ',' or '=' or starts or ends with a space.
// A value starting with '@' gets a second '@', one holding NUL is written as @String(...).
QByteArray escapedValue(const QString &value) {
    QString text = value;
    if (text.contains(QChar(u'\0')))
        text = QStringLiteral("@String(") + text + QLatin1Char(')');
    else if (text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));

    QByteArray result;
    QStringEncoder toUtf8(QStringEncoder::Utf8);
    bool needsQuotes = false;
    bool escapeNextIfHex = false;
    for (const QChar qch : std::as_const(text)) {
        const char16_t ch = qch.unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        if (escapeNextIfHex && ch < 0x80 && hexValue(char(ch)) >= 0) {
            // Written as an escape of its own, so it does not lengthen the \x or \0 before it.
            result += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeNextIfHex = false;
        switch (ch) {
        case '\0':
            result += "\\0";
            escapeNextIfHex = true;
            break;
        case '\a':
            result += "\\a";
            break;
        case '\b':
            result += "\\b";
            break;
        case '\f':
            result += "\\f";
            break;
        case '\n':
            result += "\\n";
            break;
        case '\r':
            result += "\\r";
            break;
        case '\t':
            result += "\\t";
            break;
        case '\v':
            result += "\\v";
            break;
        case '"':
        case '\\':
            result += '\\';
            result += char(ch);
            break;
        default:
            if (ch <= 0x1F) {
                result += "\\x" + QByteArray::number(ch, 16);
                escapeNextIfHex = true;
            } else {
                result += toUtf8(QStringView(&qch, 1));
            }
        }
    }
    if (needsQuotes || (!result.isEmpty() && (result.front() == ' ' || result.back() == ' '))) {
        result.prepend('"');
        result += '"';
    }
    return result;
}

// Reads a value as QSettings's INI reader does. Unquoted commas make it a list, which no string
// value is: a list reads as "". Spaces round unquoted text are dropped.
QString unescapedText(QByteArrayView text, bool *isList) {
    const qsizetype size = text.size();
    QString result;
    QStringDecoder fromUtf8(QStringDecoder::Utf8);
    bool inQuotes = false;
    bool quoted = false;
    bool chopAtEnd = true;
    qsizetype i = 0;
    const auto skipSpaces = [&] {
        while (i < size && (text[i] == ' ' || text[i] == '\t'))
            ++i;
    };
    // Trailing spaces of unquoted text are dropped, back to the last escape at most.
    const auto chopSpaces = [&result](qsizetype limit) {
        while (result.size() > limit &&
               (result.back() == QLatin1Char(' ') || result.back() == QLatin1Char('\t')))
            result.chop(1);
    };
    *isList = false;
    skipSpaces();
    qsizetype chopLimit = 0;
    while (i < size) {
        const char ch = text[i];
        if (ch == '\\') {
            if (++i >= size) {
                chopAtEnd = false;
                break;
            }
            const char escaped = text[i++];
            static constexpr char kEscapes[][2] = {
                {'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'},
                {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
            bool simple = false;
            for (const auto &escape : kEscapes) {
                if (escaped == escape[0]) {
                    result += QLatin1Char(escape[1]);
                    simple = true;
                    break;
                }
            }
            if (!simple && (escaped == 'x' || (escaped >= '0' && escaped <= '7'))) {
                const int base = escaped == 'x' ? 16 : 8;
                if (base == 16 && i >= size) {
                    chopAtEnd = false;
                    break;
                }
                if (base == 8 || hexValue(text[i]) >= 0) {
                    char16_t code = base == 8 ? char16_t(escaped - '0') : 0;
                    for (int digit; i < size && (digit = hexValue(text[i])) >= 0 && digit < base;
                         ++i)
                        code = char16_t(code * base + digit);
                    result += QChar(code);
                    if (i >= size) {
                        chopAtEnd = false;
                        break;
                    }
                }
            } else if (!simple && (escaped == '\n' || escaped == '\r')) {
                if (i < size && (text[i] == '\n' || text[i] == '\r') && text[i] != escaped)
                    ++i;
            }
            chopLimit = result.size();
        } else if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipSpaces();
                chopLimit = result.size();
            }
        } else if (ch == ',' && !inQuotes) {
            if (!quoted)
                chopSpaces(chopLimit);
            *isList = true;
            result.clear();
            quoted = false;
            ++i;
            skipSpaces();
            chopLimit = 0;
        } else {
            qsizetype j = i + 1;
            while (j < size && text[j] != '\\' && text[j] != '"' && text[j] != ',')
                ++j;
            result += fromUtf8(text.sliced(i, j - i));
            i = j;
        }
    }
    if (chopAtEnd && !quoted)
        chopSpaces(chopLimit);
    return result;
}

// The string QSettings's value().toString() gives for a value in the file.
QString valueText(QByteArrayView raw) {
    bool isList = false;
    const QString text = unescapedText(raw, &isList);
    if (isList || !text.startsWith(QLatin1Char('@')))
        return isList ? QString() : text;
    if (text.endsWith(QLatin1Char(')'))) {
        if (text.startsWith(QLatin1String("@ByteArray(")))
            return QString::fromUtf8(QStringView(text).sliced(11).chopped(1).toLatin1());
        if (text.startsWith(QLatin1String("@String(")))
            return text.sliced(8).chopped(1);
        const bool dateTime = text.startsWith(QLatin1String("@DateTime("));
        if (dateTime || text.startsWith(QLatin1String("@Variant("))) {
            QByteArray bytes = QStringView(text).sliced(dateTime ? 10 : 9).toLatin1();
            QDataStream stream(&bytes, QIODevice::ReadOnly);
            stream.setVersion(dateTime ? QDataStream::Qt_5_6 : QDataStream::Qt_4_0);
            QVariant variant;
            stream >> variant;
            return variant.toString();
        }
        // A rectangle, size or point with the right count of numbers is no string.
        const qsizetype paren = text.indexOf(QLatin1Char('('));
        const QStringView args = QStringView(text).sliced(std::max<qsizetype>(paren, 0));
        const qsizetype numbers = args.count(QLatin1Char(' ')) + args.count(QLatin1Char(')'));
        const QStringView kind = QStringView(text).first(std::max<qsizetype>(paren, 0));
        if ((kind == u"@Rect" && numbers == 4) || (kind == u"@Size" && numbers == 2) ||
            (kind == u"@Point" && numbers == 2) || text == QLatin1String("@Invalid()"))
            return QString();
    }
    return text.startsWith(QLatin1String("@@")) ? text.sliced(1) : text;
}

// A key as QSettings addresses it: no empty names between slashes, no leading or trailing '/'.
QString normalizedKey(const QString &key) {
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}

// ---------------------------------------------------------------------------------------------
// The file as lines: section headers, entries, and lines the program does not understand.

struct Item {
    enum Kind { Header, Entry, Other };
    Kind kind = Other;
    IniLine line;
    QString section; // "" for [General], else the name and a '/'
    QString key;     // entries: the whole key, section included
};

qsizetype bomLength(QByteArrayView data) {
    return data.startsWith("\xef\xbb\xbf") ? 3 : 0;
}

QList<Item> parse(QByteArrayView data) {
    QList<Item> items;
    QString section;
    qsizetype pos = bomLength(data);
    IniLine line;
    while (nextIniLine(data, pos, line)) {
        Item item;
        item.line = line;
        const QByteArrayView text = data.sliced(line.start, line.end - line.start);
        if (text.startsWith('[')) {
            qsizetype close = text.indexOf(']');
            if (close < 0)
                close = text.size();
            const QByteArrayView name = text.sliced(1, close - 1).trimmed();
            if (name.compare("general", Qt::CaseInsensitive) == 0)
                section.clear();
            else if (name.compare("%general", Qt::CaseInsensitive) == 0)
                section = QString::fromLatin1(name.sliced(1)) + QLatin1Char('/');
            else
                section = unescapedKey(name) + QLatin1Char('/');
            item.kind = Item::Header;
        } else if (line.equals >= 0) {
            item.kind = Item::Entry;
            item.key =
                section + unescapedKey(data.sliced(line.start, line.equals - line.start).trimmed());
        }
        item.section = section;
        items.append(item);
    }
    return items;
}

// The section QSettings looks in for a key, reading a file for the first time: of the sections
// with a header, the last in sort order that does not sort after the key, when the key starts
// with its name. A key spelt out in full under [General] is not looked for. "" when none.
QString sectionFor(const QList<Item> &items, const QString &key) {
    QString nearest;
    for (const Item &item : items) {
        if (item.kind == Item::Header && item.section <= key && item.section > nearest)
            nearest = item.section;
    }
    return key.startsWith(nearest) ? nearest : QString();
}

// The entry QSettings reads for a key: the last for it in its section; -1 when none.
qsizetype effectiveEntry(const QList<Item> &items, const QString &key) {
    const QString section = sectionFor(items, key);
    qsizetype found = -1;
    for (qsizetype i = 0; i < items.size() && !section.isEmpty(); ++i) {
        if (items[i].kind == Item::Entry && items[i].key == key && items[i].section == section)
            found = i;
    }
    return found;
}

// Just after the end of the physical line holding position at.
qsizetype afterLineEnd(QByteArrayView data, qsizetype at) {
    while (at < data.size() && data[at] != '\n' && data[at] != '\r')
        ++at;
    if (at < data.size())
        at += (data[at] == '\r' && at + 1 < data.size() && data[at + 1] == '\n') ? 2 : 1;
    return at;
}

bool isBlankLine(QByteArrayView data, qsizetype at) {
    while (at < data.size() && (data[at] == ' ' || data[at] == '\t'))
        ++at;
    return at < data.size() && (data[at] == '\n' || data[at] == '\r');
}

struct Cut {
    qsizetype from;
    qsizetype to;
};

// The bytes to take away with a line: its whole physical lines when nothing else shares them,
// otherwise the line itself (a comment after it stays, as a line of its own).
Cut lineCut(QByteArrayView data, const IniLine &line) {
    qsizetype from = line.start;
    while (from > 0 && (data[from - 1] == ' ' || data[from - 1] == '\t'))
        --from;
    qsizetype to = line.end;
    while (to < data.size() && (data[to] == ' ' || data[to] == '\t'))
        ++to;
    if (to < data.size() && data[to] != '\n' && data[to] != '\r')
        to = line.end;
    else
        to = afterLineEnd(data, to);
    return {from, to};
}

// Takes the cuts away; cuts that meet or overlap are taken as one.
QByteArray withCuts(QByteArray data, QList<Cut> cuts) {
    std::sort(cuts.begin(), cuts.end(), [](const Cut &a, const Cut &b) { return a.from < b.from; });
    QList<Cut> merged;
    for (const Cut &cut : std::as_const(cuts)) {
        if (!merged.isEmpty() && cut.from <= merged.back().to)
            merged.back().to = std::max(merged.back().to, cut.to);
        else
            merged.append(cut);
    }
    for (qsizetype i = merged.size() - 1; i >= 0; --i)
        data.remove(merged[i].from, merged[i].to - merged[i].from);
    return data;
}

// The start of the blank physical lines just before position at (at itself when there are none).
qsizetype blankLinesBefore(QByteArrayView data, qsizetype at) {
    const qsizetype first = bomLength(data);
    while (at > first) {
        qsizetype start = at - 1; // the end of the line before
        if (start > first && data[start] == '\n' && data[start - 1] == '\r')
            --start;
        while (start > first && data[start - 1] != '\n' && data[start - 1] != '\r')
            --start;
        if (!isBlankLine(data, start))
            break;
        at = start;
    }
    return at;
}

QString readValue(const QByteArray &data, const QString &key, const QString &defaultValue) {
    const QList<Item> items = parse(data);
    const qsizetype found = effectiveEntry(items, key);
    if (found < 0)
        return defaultValue;
    const IniLine &line = items[found].line;
    return valueText(QByteArrayView(data).sliced(line.equals + 1, line.end - line.equals - 1));
}

// The header line opening a section ("" for [General], else the name and a '/').
QByteArray sectionHeader(const QString &section) {
    if (section.isEmpty())
        return "[General]\n";
    QByteArray name = escapedKey(section.chopped(1));
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        name = "%General";
    return '[' + name + "]\n";
}

// The text with one key set: the entry that counts rewritten in place, any other for the same
// key taken out, or a new entry at the end of its section (the section added when missing).
QByteArray withValue(const QByteArray &data, const QString &key, const QString &value) {
    const QList<Item> items = parse(data);
    const QByteArray text = escapedValue(value);
    const qsizetype found = effectiveEntry(items, key);
    if (found >= 0) {
        QByteArray result = data;
        for (qsizetype i = items.size() - 1; i >= 0; --i) {
            const IniLine &line = items[i].line;
            if (i == found)
                result.replace(line.equals + 1, line.end - line.equals - 1, text);
            else if (items[i].kind == Item::Entry && items[i].key == key)
                result = withCuts(result, {lineCut(data, line)});
        }
        return result;
    }

    // Into the section QSettings will look in; one named after the key's first name if none.
    QString section = sectionFor(items, key);
    if (section.isEmpty())
        section = key.left(key.indexOf(QLatin1Char('/')) + 1);
    const QByteArray entry = escapedKey(key.mid(section.size())) + '=' + text + '\n';
    if (section.isEmpty()) // [General]'s entries may stand before any header
        return QByteArray(data).insert(bomLength(data), entry);

    // Where the entry goes: after the last entry of its section, or at the end under a header of
    // its own. A last line left open by a quote would take in whatever follows it, so nothing is
    // put after it: the entry goes before it, under its header, and the line's section is opened
    // again for it.
    const qsizetype openFrom = !items.isEmpty() && items.back().line.open
                                   ? lineCut(data, items.back().line).from
                                   : data.size();
    qsizetype at = -1;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i].kind == Item::Header && items[i].section == section)
            at = afterLineEnd(data, items[i].line.end);
        else if (items[i].kind == Item::Entry && items[i].section == section && at >= 0)
            at = afterLineEnd(data, items[i].line.end);
    }
    QByteArray result = data;
    if (at >= 0 && at <= openFrom && at < data.size())
        return result.insert(at, entry);
    if (openFrom < data.size()) {
        const Item &open = items.back();
        QByteArray block = sectionHeader(section) + entry;
        if (open.kind != Item::Header)
            block += sectionHeader(open.section);
        return result.insert(openFrom, block);
    }
    // At the very end: after a line break that ends the last line (two, after a backslash that
    // would carry the line on), and after a blank line when it starts a section.
    const bool lastLineRunsOn = !items.isEmpty() && items.back().line.end == data.size();
    if (lastLineRunsOn || (!result.isEmpty() && !result.endsWith('\n') && !result.endsWith('\r')))
        result += result.endsWith('\\') ? "\n\n" : "\n";
    if (at >= 0)
        return result + entry;
    if (result.size() > bomLength(data) && !result.endsWith("\n\n") && !result.endsWith("\r\n\r\n"))
        result += '\n';
    return result + sectionHeader(section) + entry;
}

// The text without the application's entries, nor the headers of sections they leave empty.
QByteArray withoutGroup(const QByteArray &data, const QString &group) {
    const QList<Item> items = parse(data);
    const QString prefix = group + QLatin1Char('/');
    QList<Cut> cuts;
    qsizetype header = -1;
    bool removed = false;
    bool kept = false;
    qsizetype last = -1;
    // A section left empty goes with its header, and with the blank lines that set it apart:
    // those before it, or those after it when it opens the file.
    const auto closeSection = [&] {
        if (header < 0 || !removed || kept)
            return;
        Cut cut = lineCut(data, items[header].line);
        const qsizetype blankStart = blankLinesBefore(data, cut.from);
        if (blankStart > bomLength(data)) {
            cut.from = blankStart;
        } else {
            qsizetype end = lineCut(data, items[last].line).to;
            while (isBlankLine(data, end))
                end = afterLineEnd(data, end);
            cuts.append({cut.from, end});
        }
        cuts.append(cut);
    };
    for (qsizetype i = 0; i < items.size(); ++i) {
        const Item &item = items[i];
        if (item.kind == Item::Header) {
            closeSection();
            header = i;
            removed = kept = false;
        } else if (item.kind == Item::Entry && (item.key == group || item.key.startsWith(prefix))) {
            cuts.append(lineCut(data, item.line));
            removed = true;
        } else {
            kept = true;
        }
        last = i;
    }
    closeSection();
    return withCuts(data, cuts);
}

// ---------------------------------------------------------------------------------------------
// The file on disk.

constexpr mode_t kFileMode = 0600;
constexpr mode_t kFolderMode = 0700;

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

std::runtime_error saveError(const QString &path, int error) {
    return std::runtime_error(QStringLiteral("The settings could not be saved to %1: %2.")
                                  .arg(path, QString::fromLocal8Bit(std::strerror(error)))
                                  .toStdString());
}

// Where the text goes: the settings file, or the file it links to (so a link kept by the user,
// say into a folder of dotfiles, stays a link).
struct Place {
    QString path;
    QString folder;
    QByteArray name;
    QByteArray tempName; // the one name our own unfinished copies ever have
};

Place place() {
    QString path = settingsFilePath();
    const QFileInfo link(path);
    if (link.isSymLink() && link.exists())
        path = link.canonicalFilePath();
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    return {path, info.absolutePath(), name, '.' + name + ".new"};
}

// The whole content of a regular file; errno in *error (ENOENT when missing, EISDIR for a
// folder), 0 when read. Opened without waiting, so a pipe put there cannot hang the program.
QByteArray readFileAt(int folder, const QByteArray &name, int *error) {
    Descriptor fd(::openat(folder, name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    *error = fd.get() < 0 ? errno : 0;
    struct stat info {};
    if (*error == 0 && ::fstat(fd.get(), &info) != 0)
        *error = errno;
    if (*error == 0 && !S_ISREG(info.st_mode))
        *error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    QByteArray data;
    char buffer[8192];
    while (*error == 0) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0)
            data.append(buffer, n);
        else if (n == 0)
            break;
        else if (errno != EINTR)
            *error = errno;
    }
    return *error == 0 ? data : QByteArray();
}

void lockExclusively(int folder) {
    // Keeps two instances of the program from writing at once. A folder that cannot be locked
    // (some network file systems) is written without.
    while (::flock(folder, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// Removes a copy left by a write that was killed before it could rename it into place.
void removeLeftover(const Place &where, int folder) {
    if (::unlinkat(folder, where.tempName.constData(), 0) != 0 && errno != ENOENT)
        throw saveError(where.path, errno);
}

bool writeAll(int fd, const QByteArray &data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno != EINTR)
            return false;
        if (n > 0)
            done += n;
    }
    return ::fchmod(fd, kFileMode) == 0 && ::fsync(fd) == 0;
}

// Puts the full text on disk under the temporary name. An unnamed file is used where the file
// system has them, so a write killed half way leaves nothing; otherwise the temporary name from
// the start, which the next access removes.
void writeTemporary(const Place &where, int folder, const QByteArray &data) {
    Descriptor fd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kFileMode));
    if (fd.get() >= 0) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd.get());
        if (!writeAll(fd.get(), data))
            throw saveError(where.path, errno);
        if (::linkat(AT_FDCWD, self.constData(), folder, where.tempName.constData(),
                     AT_SYMLINK_FOLLOW) == 0)
            return;
    }
    fd.reset(::openat(folder, where.tempName.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kFileMode));
    if (fd.get() < 0)
        throw saveError(where.path, errno);
    if (!writeAll(fd.get(), data)) {
        const int error = errno;
        ::unlinkat(folder, where.tempName.constData(), 0);
        throw saveError(where.path, error);
    }
}

// Opens the folder of the file, creating it (for the user alone) when missing and create is set.
int openFolder(const Place &where, bool create) {
    int fd =
        ::open(QFile::encodeName(where.folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT || !create)
        return fd;
    const QByteArray folder = QFile::encodeName(where.folder);
    if (!QDir().mkpath(QFileInfo(where.folder).absolutePath()) ||
        (::mkdir(folder.constData(), kFolderMode) != 0 && errno != EEXIST))
        throw std::runtime_error(
            QStringLiteral("Cannot create the folder %1.").arg(where.folder).toStdString());
    ::chmod(folder.constData(), kFolderMode); // whatever the umask let through
    return ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Reads the file, changes its text and puts the new text in its place in one rename. A text
// that does not change is not written (nor is a missing file created for nothing).
void rewrite(const std::function<QByteArray(const QByteArray &)> &change) {
    const Place where = place();
    Descriptor folder(openFolder(where, false));
    if (folder.get() < 0 && errno == ENOENT && change(QByteArray()).isEmpty())
        return;
    if (folder.get() < 0)
        folder.reset(openFolder(where, true));
    if (folder.get() < 0)
        throw saveError(where.path, errno);
    lockExclusively(folder.get());
    removeLeftover(where, folder.get());

    int error = 0;
    const QByteArray old = readFileAt(folder.get(), where.name, &error);
    if (error != 0 && error != ENOENT)
        throw saveError(where.path, error); // an unreadable file is not overwritten blindly
    const QByteArray text = change(old);
    if (error == 0 && text == old)
        return;
    writeTemporary(where, folder.get(), text);
    if (::renameat(folder.get(), where.tempName.constData(), folder.get(),
                   where.name.constData()) != 0) {
        error = errno;
        ::unlinkat(folder.get(), where.tempName.constData(), 0);
        throw saveError(where.path, error);
    }
    // The new text is in place; a folder that cannot be flushed (some file systems do not
    // support it) does not make the write a failure.
    ::fsync(folder.get());
}

// The text of the file as it stands; "" when missing or unreadable.
QByteArray currentText() {
    const Place where = place();
    const QByteArray leftover = QFile::encodeName(where.folder) + '/' + where.tempName;
    struct stat info {};
    if (::lstat(leftover.constData(), &info) == 0) {
        Descriptor folder(openFolder(where, false));
        if (folder.get() >= 0) {
            lockExclusively(folder.get());
            ::unlinkat(folder.get(), where.tempName.constData(), 0);
        }
    }
    int error = 0;
    return readFileAt(AT_FDCWD, QFile::encodeName(where.path), &error);
}

const QString kAudioSpeakerKey = QStringLiteral("Audio/Speaker");
const QString kAudioRingerKey = QStringLiteral("Audio/Ringer");
const QString kAudioMicrophoneKey = QStringLiteral("Audio/Microphone");

QString entryKey(const QString &appName) {
    return appName + QLatin1Char('/') + kSection + QLatin1Char('/') + kKey;
}

QByteArray withoutGroups(QByteArray text, const QStringList &appNames) {
    for (const QString &appName : appNames) {
        const QString group = normalizedKey(appName);
        if (!group.isEmpty())
            text = withoutGroup(text, group);
    }
    return text;
}

} // namespace

QString settingsFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Kirrow/Kirrow.ini");
}

QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue) {
    const QString address =
        normalizedKey(appName + QLatin1Char('/') + section + QLatin1Char('/') + key);
    return readValue(currentText(), address, defaultValue);
}

void SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value) {
    const QString address =
        normalizedKey(appName + QLatin1Char('/') + section + QLatin1Char('/') + key);
    rewrite([&](const QByteArray &text) { return withValue(text, address, value); });
}

void DeleteSetting(const QString &appName) {
    removeApplications({appName});
}

void removeApplications(const QStringList &appNames) {
    rewrite([&](const QByteArray &text) { return withoutGroups(text, appNames); });
}

QString readEntry(const QString &appName) {
    return GetSetting(appName, kSection, kKey);
}

void writeEntry(const QString &appName, const QString &value) {
    SaveSetting(appName, kSection, kKey, value);
}

void saveLogin(const QString &password, const QString &account, const QString &sip,
               const QString &save) {
    rewrite([&](QByteArray text) {
        text = withValue(text, entryKey(kPasswordApp), password);
        text = withValue(text, entryKey(kAccountApp), account);
        text = withValue(text, entryKey(kSipApp), sip);
        return withValue(text, entryKey(kSaveApp), save);
    });
}

void eraseAccount() {
    rewrite([](const QByteArray &text) {
        QStringList filled;
        for (const QString &appName : {kPasswordApp, kAccountApp, kSipApp}) {
            if (!readValue(text, entryKey(appName), QString()).isEmpty())
                filled.append(appName);
        }
        return withoutGroups(text, filled);
    });
}

AudioDeviceChoice readAudioDevices() {
    const QByteArray text = currentText();
    return {readValue(text, kAudioSpeakerKey, QString()),
            readValue(text, kAudioRingerKey, QString()),
            readValue(text, kAudioMicrophoneKey, QString())};
}

void saveAudioDevices(const AudioDeviceChoice &choice) {
    rewrite([&](QByteArray text) {
        text = withValue(text, kAudioSpeakerKey, choice.speaker);
        text = withValue(text, kAudioRingerKey, choice.ringer);
        return withValue(text, kAudioMicrophoneKey, choice.microphone);
    });
}

} // namespace account
