#pragma once

#include <QString>

#include <optional>

// Where the sharing page listens: a numeric IPv4 or IPv6 address and a port.
struct ListenAddress
{
    QString host; // "0.0.0.0", "192.168.4.1", "::1" (no brackets); empty: every interface
    int port = 8080; // 0 lets the system choose a free one
    bool ipv6 = false;
};

// Reads "ADDRESS:PORT" ("192.168.4.1:8080", "[::1]:8080", ":8080" for every
// interface). Only numeric addresses: a name would need a resolver the booth's
// network may not have. Nothing for anything else.
std::optional<ListenAddress> parse_listen_address(const QString& text);

// The address as a URL authority: "192.168.4.1:8080", "[::1]:8080".
QString url_authority(const QString& host, int port);
