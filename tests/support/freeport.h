#pragma once

#include <QStringList>
#include <QtGlobal>

// UDP ports on 127.0.0.1 for test peers (exchange, sipp, the phone itself).
//
// Both functions ask the kernel for a port that nothing is bound to right now
// and never hand out the same port twice within one process, so a test that
// asks for several ports before starting anything gets distinct ones.
// Nothing holds the port afterwards: whoever uses it should bind it soon.

// A port to bind a server or client to.
quint16 freeUdpPort();

// A port to send to when nothing must answer there (datagrams are dropped
// and the sender sees "connection refused" / no response).
quint16 deadUdpPort();

// Whether some socket is bound to this UDP port (any address), read from
// /proc/net/udp{,6} without touching the port, so it can be polled while a
// peer such as sipp is starting without racing its bind().
bool udpPortInUse(quint16 port);

// The same in another network namespace: read through commandPrefix (e.g. "ip netns exec NAME"),
// which runs `cat` there; the plain check above when it is empty.
bool udpPortInUse(quint16 port, const QStringList &commandPrefix);
