#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

// Records the SIP and RTP traffic of one test on the loopback interface with
// tshark, and tells what went over the wire: the tones sent as RFC 2833
// telephone-events, the SIP INFO bodies, the requests and responses.
//
//     SipCapture capture;
//     capture.addPort(server.port());       // SIP through the exchange
//     capture.addPort(callee.port());       // SIP to the far end
//     capture.addPort(callee.mediaPort());  // RTP both ways (any phone port)
//     QVERIFY2(capture.start(&error), qPrintable(error));
//     ... the phone calls the callee and sends 1, 2, # ...
//     QTRY_COMPARE_WITH_TIMEOUT(capture.rtpEvents(callee.mediaPort()),
//                               (QList<int>{1, 2, 11}), 10000);
//
// Capture filter: only UDP to or from the ports given. Loopback carries the
// traffic of every test running at the same time (each with its own
// exchange, peers and phone on other ports), so capturing all of it would
// mix calls up; naming the ports of this test's exchange and peers is
// enough, because every packet of the phone's calls has one of them on one
// side (the phone's own ports are picked at random). A port range is for a
// peer whose media ports are known only as a range.
//
// tshark writes a capture file in a private temporary folder; the queries
// decode that file (tshark -r) each time they are called, during the
// capture or after stop(). Packets reach the file in batches (the kernel
// hands them over in blocks, and tshark writes them out now and then), so
// before decoding, and before stopping, a marker datagram is sent to a port
// of the capture's own and awaited in the file: a query sees every packet
// sent before it was called, and stop() loses none.
// Decoding: RTP by the SDP seen in the capture, or else by tshark's RTP
// heuristic, with dynamic payload type telephoneEventPayloadType() taken as
// telephone-event; every other datagram is parsed here as SIP if it is SIP,
// so no port has to be declared as a SIP port.
//
// Capturing on `lo` needs root or dumpcap's capture capabilities; tshark's
// warning about running as root is expected and harmless. tshark runs under
// `timeout`, is stopped by pid on stop() or destruction, and also when the
// test process dies. Not thread-safe; use from one thread.
class SipCapture {
public:
    struct SipMessage {
        int frame = 0;          // packet number in the capture, from 1
        quint16 sourcePort = 0; // UDP ports on 127.0.0.1
        quint16 destinationPort = 0;
        QString startLine; // "INVITE sip:1002@127.0.0.1:5060 SIP/2.0", "SIP/2.0 200 OK"
        QString method;    // request method; empty for a response
        int status = 0;    // response code; 0 for a request
        QString callId;
        int cseq = 0;       // CSeq number
        QString cseqMethod; // CSeq method (the request a response answers)
        QString contentType;
        bool credentials = false; // an Authorization or Proxy-Authorization header
        QString body;             // as sent, CRLFs included
    };

    SipCapture();
    ~SipCapture();

    SipCapture(const SipCapture &) = delete;
    SipCapture &operator=(const SipCapture &) = delete;

    // Before start(): what to capture (UDP to or from these ports).
    void addPort(quint16 port);
    void addPortRange(quint16 first, quint16 last);
    // RTP payload type decoded as telephone-event where no SDP in the
    // capture says which one it is (default 101).
    void setTelephoneEventPayloadType(int payloadType);
    int telephoneEventPayloadType() const { return m_eventPayloadType; }
    // The capture filter start() uses, e.g.
    // "udp and (port 5060 or portrange 40000-40009 or port 41234)", the
    // last port being the capture's own marker port.
    QString filter() const;

    // Starts tshark and returns once it really captures ("Capturing on
    // 'Loopback: lo'" on its stderr), 20 s at most. Lasts lifetimeS at most.
    bool start(QString *error = nullptr, int lifetimeS = 600);
    // Ends the capture once every packet sent so far is in the file; the
    // file stays for the queries.
    void stop();
    // Waits (ms at most) until every packet sent so far is in the file;
    // the queries do this themselves while the capture runs.
    bool flush(int ms = 10000) const;
    bool isRunning() const;

    // RFC 2833 event codes (0-9, 10 = *, 11 = #, 12-15 = A-D) in the order
    // the events began. Every packet of one event (the repeats, the three
    // end packets) shares its RTP timestamp, so packets are counted once per
    // SSRC and timestamp; an event echoed back unchanged counts once too.
    // With destinationPort, only packets sent to that UDP port count.
    QList<int> rtpEvents(quint16 destinationPort = 0) const;

    // Every SIP datagram captured, in order (a request relayed by the
    // exchange appears once per hop, retransmissions each time).
    QList<SipMessage> sipMessages() const;
    // Requests, one per transaction (Call-ID, CSeq number and method), in
    // order: a request and its relayed copies and retransmissions count
    // once. E.g. {"INVITE", "ACK", "INVITE", "ACK", "INFO", "BYE"}.
    QStringList sipMethods() const;
    // Responses, once per Call-ID, CSeq and code, as "<code> <CSeq method>",
    // e.g. {"407 INVITE", "100 INVITE", "180 INVITE", "200 INVITE", "200 BYE"}.
    QStringList sipResponses() const;
    // Bodies of the INFO requests, once per request, e.g.
    // {"Signal=5\r\nDuration=250\r\n"}.
    QStringList sipInfoBodies() const;
    // When the datagrams from sourcePort to destinationPort (0: any port) were captured, in ms
    // since the epoch, oldest first: a sound stream's packets, to tell its rate over a while.
    QList<qint64> datagramTimes(quint16 sourcePort, quint16 destinationPort) const;

    // The payloads of the RTP (or SRTP) packets from sourcePort to destinationPort, header
    // left off, oldest first; what a listener on the wire could make of the sound.
    QList<QByteArray> rtpPayloads(quint16 sourcePort, quint16 destinationPort) const;
    QString capturePath() const; // the capture file (pcapng)
    QString log() const;         // what tshark printed while capturing
    // The last query's decoding error (tshark missing, unreadable file ...);
    // empty when it went well.
    QString lastError() const { return m_lastError; }

private:
    QStringList decode(const QStringList &arguments) const;

    QList<QPair<quint16, quint16>> m_ranges;
    int m_markerSocket = -1; // UDP on 127.0.0.1, its port captured too
    quint16 m_markerPort = 0;
    mutable int m_markers = 0;
    int m_eventPayloadType = 101;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    mutable QString m_lastError;
};
