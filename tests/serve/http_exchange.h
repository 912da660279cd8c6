#pragma once

#include <QByteArray>
#include <QMap>

// One HTTP exchange over a raw socket on the loopback address, for requests no
// well-behaved client would send.
struct HttpAnswer
{
    int status = 0;                        // 0: the server answered nothing
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
};

// Sends `request` as it is to 127.0.0.1:`port` and reads until the server
// closes the connection (ask with "Connection: close"), at most `timeout_ms`
// of silence.
HttpAnswer http_exchange(quint16 port, const QByteArray& request, int timeout_ms = 20000);

// "GET `path` HTTP/1.1" with a Host and "Connection: close", plus `headers`
// (each line ending in "\r\n").
QByteArray http_request(const QByteArray& method, const QByteArray& path,
                        const QByteArray& headers = {});
