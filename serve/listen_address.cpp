#include "serve/listen_address.h"

#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>

std::optional<ListenAddress> parse_listen_address(const QString& text)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return std::nullopt;
    QString host = text.left(colon);
    const QString port_text = text.mid(colon + 1);
    bool ok = false;
    const int port = port_text.toInt(&ok);
    // toInt accepts signs and spaces; a port is digits only.
    if (!ok || port < 0 || port > 65535 || port_text.isEmpty() ||
        port_text.contains(QRegularExpression(QStringLiteral("[^0-9]"))))
        return std::nullopt;
    ListenAddress address;
    address.port = port;
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
        in6_addr parsed{};
        if (inet_pton(AF_INET6, host.toLatin1().constData(), &parsed) != 1)
            return std::nullopt;
        address.ipv6 = true;
    } else if (!host.isEmpty()) {
        in_addr parsed{};
        if (inet_pton(AF_INET, host.toLatin1().constData(), &parsed) != 1)
            return std::nullopt;
    }
    address.host = host;
    return address;
}

QString url_authority(const QString& host, int port)
{
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}
