#pragma once

#include <QByteArrayView>

namespace rtc {

// What a SIP datagram may cost the engine. Its parser takes almost 2 ms per kilobyte on the GUI
// thread, holds hundreds of kilobytes per large message long after answering it, and stalls on a
// datagram whose Content-Length promises more than came: a peer could stop the window and grow
// the program by megabytes a second with messages no telephone sends. Datagrams beyond these
// limits are dropped before the engine reads them, as SIP over UDP allows for messages that
// cannot be processed.
struct SipLimits {
    qsizetype datagramBytes = 16 * 1024; // a real INVITE with a rich SDP is 2 to 5 KiB
    qsizetype lineBytes = 4 * 1024;      // longest header or SDP line
    int viaHeaders = 70;                 // as many proxies as Max-Forwards allows
};

enum class SipVerdict {
    Pass,
    TooLarge,
    LineTooLong,
    TooManyVias,
    BadContentLength, // not a number, or longer than the body that came
};

// datagram: what was received, possibly cut to a buffer; size: its full length on the wire.
SipVerdict screenSipDatagram(QByteArrayView datagram, qsizetype size, const SipLimits &limits = {});

// Whether a datagram is a SIP request (not a response).
bool isSipRequest(QByteArrayView datagram);

// The "403 Forbidden" answer to a request, made from its Via, From, To, Call-ID and CSeq headers;
// empty for an ACK (never answered) and for what is not a request.
QByteArray forbiddenAnswer(QByteArrayView request);

} // namespace rtc
