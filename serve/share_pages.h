#pragma once

#include "serve/take_catalogue.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The sharing page's documents, in French, built from what the catalogue read
// (every name escaped for HTML and for URLs). Made for a large screen beside
// the booth and for a guest's phone alike.

// The address of a take's page, of one of its files and of its QR code, from
// the site's root ("/take/Prise%201", "/take/Prise%201/output_video.mp4").
QString take_page_path(const QString& take);
QString take_file_path(const QString& take, const QString& file);
QString take_download_path(const QString& take, const QString& file);
QString take_qr_path(const QString& take);

// "/": the gallery, drawn by its script from gallery_json and kept up to date
// by polling it, so a take that finishes appears without a reload. A tap on a
// take shows its QR code large.
QByteArray gallery_html(const QString& title);

// "/takes.json": {"takes": [{name, page, video, poster, qr, time}, ...]}, newest
// first.
QByteArray gallery_json(const std::vector<ServedTake>& takes);

// "/take/NAME": the take's video, GIF and still, each with a download link, and
// its QR code (`qr_svg`, inline) pointing at `page_url`.
QByteArray take_html(const QString& title, const ServedTake& take, const QByteArray& qr_svg);

// What a wrong address shows (a 404).
QByteArray not_found_html(const QString& title);
