#include "tests/serve/http_exchange.h"

#include <QHostAddress>
#include <QTcpSocket>

HttpAnswer http_exchange(quint16 port, const QByteArray& request, int timeout_ms)
{
    HttpAnswer answer;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return answer;
    socket.write(request);
    QByteArray data;
    while (true) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeout_ms))
            break;
        data += socket.readAll();
    }
    data += socket.readAll();
    const int end = data.indexOf("\r\n\r\n");
    if (!data.startsWith("HTTP/1.") || end < 0)
        return answer;
    const QList<QByteArray> lines = data.left(end).split('\n');
    answer.status = lines.front().split(' ').value(1).toInt();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            answer.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                  lines[i].mid(colon + 1).trimmed());
    }
    answer.body = data.mid(end + 4);
    return answer;
}

QByteArray http_request(const QByteArray& method, const QByteArray& path, const QByteArray& headers)
{
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
           "\r\n";
}
