#pragma once

#include <QByteArray>
#include <QString>

// `text` (a page's address) as a QR code drawn in SVG: black modules on white
// with the four-module quiet zone readers need, scaled by the page. Medium error
// correction survives a screen's glare. Empty when the text is too long for a
// QR code.
QByteArray qr_svg(const QString& text);
