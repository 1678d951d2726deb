// The number of a sip: or tel: link: only what the dial pad sends (digits, '*', '#', a leading
// '+'), the same every time, and the same again when dialled as a link of its own.

#include "fuzzsupport.h"
#include "linknumber.h"

#include <cstdint>

namespace {

bool dialPadSends(const QString &number) {
    if (number.isEmpty() || number == QLatin1String("+"))
        return false;
    for (qsizetype i = 0; i < number.size(); ++i) {
        const QChar c = number.at(i);
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!digit && c != QLatin1Char('*') && c != QLatin1Char('#') &&
            !(c == QLatin1Char('+') && i == 0))
            return false;
    }
    return true;
}

void check(const QString &link) {
    const std::optional<QString> number = calls::numberFromLink(link);
    FUZZ_CHECK(calls::numberFromLink(link) == number);
    if (!number)
        return;
    FUZZ_CHECK(dialPadSends(*number));
    // '#' goes escaped in a link, as browsers hand it over.
    QString escaped = *number;
    escaped.replace(QLatin1Char('#'), QLatin1String("%23"));
    FUZZ_CHECK(calls::numberFromLink(QLatin1String("tel:") + escaped) == number);
    FUZZ_CHECK(calls::numberFromLink(QLatin1String("sip:") + escaped +
                                     QLatin1String("@example.net;user=phone")) == number);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    check(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
    check(fuzz::anyText(bytes));
    return 0;
}
