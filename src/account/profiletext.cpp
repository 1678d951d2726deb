#include "profiletext.h"

namespace account {

QString profileKey() {
    return QStringLiteral("3f9a1c62-7b04-4e8d-a5c1-90d2e7b4c813");
}

QString escapeAttribute(const QString &value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\t':
            out += QLatin1String("&#9;");
            break;
        case '\n':
            out += QLatin1String("&#10;");
            break;
        case '\r':
            out += QLatin1String("&#13;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool fitsProfile(const QString &value) {
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value.at(i).unicode();
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return false;
        if (c == 0xFFFE || c == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 == value.size() || !QChar::isLowSurrogate(value.at(i + 1).unicode()))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

QString BuildProfileText(const QString &account, const QString &displayName,
                         const QString &password, const QString &server) {
    return BuildProfileText(account, displayName, password, server, server, QStringLiteral("UDP"));
}

QString BuildProfileText(const QString &account, const QString &displayName,
                         const QString &password, const QString &domain, const QString &server,
                         const QString &protocol) {
    // Values go in escaped: a password with a quote or an ampersand must not break the document.
    const QString A = escapeAttribute(account);
    const QString N = escapeAttribute(displayName);
    const QString P = escapeAttribute(password);
    const QString D = escapeAttribute(domain);
    const QString S = escapeAttribute(server);
    const QString T = escapeAttribute(protocol);
    return QLatin1String("<provision key=\"") + profileKey() + QLatin1String("\" name=\"") + A +
           QLatin1String("\" expires=\"600\"><user account=\"") + A + QLatin1String("\" name=\"") +
           N + QLatin1String("\" password=\"") + P + QLatin1String("\" uri=\"sip:") + A +
           QLatin1Char('@') + D + QLatin1String("\" /> <sipsrv addr=\"") + S +
           QLatin1String("\" protocol=\"") + T +
           QLatin1String("\" auth=\"digest\" role=\"registrar\">") +
           QLatin1String("<session party=\"first\" type=\"pc2ph\" /></sipsrv><sipsrv addr=\"") + S +
           QLatin1String("\" protocol=\"") + T +
           QLatin1String("\" auth=\"digest\" role=\"proxy\">") +
           QLatin1String(
               "<session party=\"first\" type=\"pc2ph\" /></sipsrv><provider calldisplay=\"sip:") +
           A + QLatin1Char('@') + D + QLatin1String("\" /></provision>");
}

} // namespace account
