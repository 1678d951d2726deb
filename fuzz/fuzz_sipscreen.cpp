// The screen in front of the engine's SIP parser: what it passes has no line longer than the
// limit, no more Vias than the limit, and a Content-Length (after CRLF or bare LF header ends)
// that the body holds; a datagram cut short by the buffer never passes. The first three bytes
// choose the limits, so that they are reached with short inputs too, and a cut. The 403 made for
// a stranger's request is one well-formed header block.

#include "fuzzsupport.h"
#include "sipscreen.h"

#include <QByteArray>

#include <cstdint>

namespace {

QByteArrayView nameOf(QByteArrayView line) {
    const qsizetype colon = line.indexOf(':');
    return colon <= 0 ? QByteArrayView() : line.first(colon).trimmed();
}

bool named(QByteArrayView line, QByteArrayView longName, char compactName) {
    const QByteArrayView name = nameOf(line);
    return !name.isEmpty() && (name.compare(longName, Qt::CaseInsensitive) == 0 ||
                               (name.size() == 1 && (name[0] | 0x20) == compactName));
}

// What a passed datagram must be, checked line by line of the headers and the body apart.
void checkPassed(QByteArrayView datagram, const rtc::SipLimits &limits) {
    FUZZ_CHECK(datagram.size() <= limits.datagramBytes);
    // The headers end at the first empty line, whether the line before it ended in CRLF or LF.
    qsizetype bodyStart = -1;
    qsizetype headerEnd = datagram.size();
    for (qsizetype i = 0; i < datagram.size(); ++i) {
        if (datagram[i] != '\n')
            continue;
        const QByteArrayView rest = datagram.sliced(i + 1);
        if (rest.startsWith("\n") || rest.startsWith("\r\n")) {
            headerEnd = i;
            bodyStart = i + 1 + (rest.startsWith("\n") ? 1 : 2);
            break;
        }
    }
    int vias = 0;
    const QList<QByteArray> lines = datagram.toByteArray().split('\n');
    qsizetype at = 0;
    for (const QByteArray &line : lines) {
        FUZZ_CHECK(line.size() <= limits.lineBytes);
        if (at < headerEnd) {
            if (named(line, "Via", 'v'))
                vias += int(line.count(',')) + 1;
            if (bodyStart >= 0 && named(line, "Content-Length", 'l')) {
                bool number = false;
                const qlonglong declared =
                    line.mid(line.indexOf(':') + 1).trimmed().toLongLong(&number);
                FUZZ_CHECK(number && declared >= 0 && declared <= datagram.size() - bodyStart);
            }
        }
        at += line.size() + 1;
    }
    FUZZ_CHECK(vias <= limits.viaHeaders);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3)
        return 0;
    rtc::SipLimits limits;
    // Small limits half of the time; the program's own the other half.
    if (data[0] & 1) {
        limits.lineBytes = data[0] >> 1;
        limits.viaHeaders = data[1] & 0x0f;
    }
    const qsizetype cut = data[2];
    const QByteArrayView datagram(reinterpret_cast<const char *>(data) + 3, qsizetype(size) - 3);

    if (rtc::screenSipDatagram(datagram, datagram.size(), limits) == rtc::SipVerdict::Pass)
        checkPassed(datagram, limits);
    // The same datagram as received into a buffer too small for it.
    if (cut < datagram.size())
        FUZZ_CHECK(rtc::screenSipDatagram(datagram.first(cut), datagram.size(), limits) !=
                   rtc::SipVerdict::Pass);
    // Larger than the engine may be given.
    FUZZ_CHECK(rtc::screenSipDatagram(datagram, limits.datagramBytes + 1, limits) !=
               rtc::SipVerdict::Pass);
    // A stranger's request is answered with one 403 of a single header block, never an ACK;
    // a response is never answered.
    const QByteArray answer = rtc::forbiddenAnswer(datagram);
    if (!answer.isEmpty()) {
        FUZZ_CHECK(rtc::isSipRequest(datagram) && !datagram.startsWith("ACK "));
        FUZZ_CHECK(answer.startsWith("SIP/2.0 403 Forbidden\r\n"));
        FUZZ_CHECK(answer.endsWith("\r\n\r\n") && answer.indexOf("\r\n\r\n") == answer.size() - 4);
        FUZZ_CHECK(!rtc::isSipRequest(answer));
    } else {
        FUZZ_CHECK(!rtc::isSipRequest(datagram) || datagram.startsWith("ACK "));
    }
    return 0;
}
