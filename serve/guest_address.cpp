#include "serve/guest_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace {

bool every_interface(const QString& host)
{
    return host.isEmpty() || host == QLatin1String("0.0.0.0") || host == QLatin1String("::");
}

} // namespace

bool loopback_host(const QString& host)
{
    QString name = host.toLower();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name == QLatin1String("localhost") || name.endsWith(QLatin1String(".localhost")))
        return true;
    if (name.startsWith(QLatin1String("::ffff:")))
        name = name.mid(7);
    in_addr v4{};
    if (inet_pton(AF_INET, name.toLatin1().constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, name.toLatin1().constData(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

QString guest_host(const QString& host, const ListenAddress& listen,
                   const QStringList& machine_addresses)
{
    if (!loopback_host(host))
        return host;
    if (!every_interface(listen.host))
        return loopback_host(listen.host) ? host : listen.host;
    return machine_addresses.isEmpty() ? host : machine_addresses.front();
}

QStringList machine_addresses()
{
    QStringList v4;
    QStringList v6;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        char text[INET6_ADDRSTRLEN] = "";
        if (entry->ifa_addr->sa_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr,
                      text, sizeof text);
            v4 << QString::fromLatin1(text);
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            const in6_addr& address =
                reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr;
            // A link-local address needs a zone a URL cannot carry to a phone.
            if (IN6_IS_ADDR_LINKLOCAL(&address))
                continue;
            inet_ntop(AF_INET6, &address, text, sizeof text);
            v6 << QString::fromLatin1(text);
        }
    }
    freeifaddrs(list);
    return v4 + v6;
}
