#include "linknumber.h"

#include <QUrl>

namespace calls {

namespace {

bool isVisualSeparator(QChar c) {
    return c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char(' ') ||
           c == QLatin1Char('(') || c == QLatin1Char(')');
}

bool isKeypadCharacter(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('*') ||
           c == QLatin1Char('#');
}

} // namespace

std::optional<QString> numberFromLink(const QString &link) {
    const QString text = link.trimmed();
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    const QString scheme = text.left(colon).toLower();
    QString user = text.mid(colon + 1);
    if (scheme == QLatin1String("sip")) {
        // The user is what comes before the host; an address without one names no number.
        const qsizetype at = user.indexOf(QLatin1Char('@'));
        if (at < 0)
            return std::nullopt;
        user.truncate(at);
        user = user.section(QLatin1Char(':'), 0, 0);
    } else if (scheme != QLatin1String("tel")) {
        return std::nullopt;
    }
    user = user.section(QLatin1Char(';'), 0, 0);
    // Links escape '#' (%23), '+' and spaces as browsers hand them over.
    user = QUrl::fromPercentEncoding(user.toUtf8());

    QString number;
    for (const QChar c : user) {
        if (isKeypadCharacter(c) || (c == QLatin1Char('+') && number.isEmpty()))
            number += c;
        else if (!isVisualSeparator(c))
            return std::nullopt;
    }
    if (number.isEmpty() || number == QLatin1String("+"))
        return std::nullopt;
    return number;
}

} // namespace calls
