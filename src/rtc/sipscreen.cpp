#include "sipscreen.h"

#include <QByteArray>
#include <QList>

#include <utility>

namespace rtc {

namespace {

bool isHeader(QByteArrayView line, QByteArrayView longName, char compactName) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return false;
    const QByteArrayView name = line.first(colon).trimmed();
    return name.compare(longName, Qt::CaseInsensitive) == 0 ||
           (name.size() == 1 && (name[0] | 0x20) == compactName);
}

// Where the headers end and the body begins: an empty line, after CRLF or after a bare LF, which
// the engine's parser accepts too. -1 when there is no empty line.
std::pair<qsizetype, qsizetype> headersAndBody(QByteArrayView datagram) {
    for (qsizetype lf = datagram.indexOf('\n'); lf >= 0; lf = datagram.indexOf('\n', lf + 1)) {
        if (lf + 1 < datagram.size() && datagram[lf + 1] == '\n')
            return {lf, lf + 2};
        if (lf + 2 < datagram.size() && datagram[lf + 1] == '\r' && datagram[lf + 2] == '\n')
            return {lf, lf + 3};
    }
    return {-1, -1};
}

} // namespace

SipVerdict screenSipDatagram(QByteArrayView datagram, qsizetype size, const SipLimits &limits) {
    if (size > limits.datagramBytes || datagram.size() < size)
        return SipVerdict::TooLarge;
    const auto [headerEnd, bodyStart] = headersAndBody(datagram);
    int vias = 0;
    qsizetype lineStart = 0;
    while (lineStart < datagram.size()) {
        qsizetype lineEnd = datagram.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = datagram.size();
        const QByteArrayView line = datagram.sliced(lineStart, lineEnd - lineStart);
        if (line.size() > limits.lineBytes)
            return SipVerdict::LineTooLong;
        const bool inHeaders = headerEnd < 0 || lineStart < headerEnd;
        if (inHeaders && isHeader(line, "Via", 'v')) {
            vias += int(line.count(',')) + 1;
            if (vias > limits.viaHeaders)
                return SipVerdict::TooManyVias;
        }
        if (inHeaders && headerEnd >= 0 && isHeader(line, "Content-Length", 'l')) {
            bool number = false;
            const qsizetype declared =
                line.sliced(line.indexOf(':') + 1).trimmed().toByteArray().toLongLong(&number);
            if (!number || declared < 0 || declared > datagram.size() - bodyStart)
                return SipVerdict::BadContentLength;
        }
        lineStart = lineEnd + 1;
    }
    return SipVerdict::Pass;
}

bool isSipRequest(QByteArrayView datagram) {
    const qsizetype lineEnd = datagram.indexOf('\n');
    const QByteArrayView first = datagram.first(lineEnd < 0 ? datagram.size() : lineEnd).trimmed();
    return !first.startsWith("SIP/") && first.endsWith("SIP/2.0") && first.indexOf(' ') > 0;
}

QByteArray forbiddenAnswer(QByteArrayView request) {
    if (!isSipRequest(request) || request.startsWith("ACK "))
        return {};
    const qsizetype headerEnd = headersAndBody(request).first;
    const QByteArrayView headers = headerEnd < 0 ? request : request.first(headerEnd);
    QByteArray answer = "SIP/2.0 403 Forbidden\r\n";
    bool toTagged = true;
    for (QByteArrayView line : QByteArray(headers.toByteArray()).split('\n')) {
        line = line.trimmed();
        if (isHeader(line, "Via", 'v') || isHeader(line, "From", 'f') ||
            isHeader(line, "Call-ID", 'i') || isHeader(line, "CSeq", '\0')) {
            answer += line.toByteArray() + "\r\n";
        } else if (isHeader(line, "To", 't')) {
            answer += line.toByteArray();
            // The answer of a new dialog's first request tags the To header.
            toTagged = line.toByteArray().toLower().contains(";tag=");
            answer += toTagged ? "\r\n" : ";tag=kirrow-refused\r\n";
        }
    }
    return answer + "Content-Length: 0\r\n\r\n";
}

} // namespace rtc
