#pragma once

#include "serve/listen_address.h"

#include <QString>
#include <QStringList>

// The QR codes point at an address a guest's phone can reach. The booth's own
// screen often opens the gallery as http://localhost:8080/: a code built from
// that Host would send every phone to itself.

// True for a host that names this machine only: "localhost", "*.localhost",
// 127.0.0.0/8, ::1 (with or without brackets), ::ffff:127.x.x.x.
bool loopback_host(const QString& host);

// The host the codes name, given the request's host (no port) and where the
// server listens: a loopback host is replaced by the listen address, or, when
// listening on every interface, by the first of `machine_addresses`; kept when
// the server listens on loopback only (no one else could reach it anyway) or
// the machine has no other address.
QString guest_host(const QString& host, const ListenAddress& listen,
                   const QStringList& machine_addresses);

// This machine's addresses on interfaces that are up, loopback left out, IPv4
// first (a phone on the booth's Wi-Fi reaches those most surely).
QStringList machine_addresses();
