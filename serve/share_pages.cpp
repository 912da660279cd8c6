#include "serve/share_pages.h"

#include "serve/request_path.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString html(const QString& text)
{
    return text.toHtmlEscaped();
}

const char* const style = R"(
:root { color-scheme: dark; }
* { box-sizing: border-box; }
body { margin: 0; background: #111; color: #eee; font-family: system-ui, sans-serif; }
header { padding: 1rem 1.25rem; text-align: center; }
h1 { margin: 0; font-size: clamp(1.5rem, 5vw, 3rem); }
header p { margin: .25rem 0 0; color: #aaa; }
main { padding: 0 .75rem 2rem; }
#takes { display: grid; gap: .75rem;
  grid-template-columns: repeat(auto-fill, minmax(min(100%, 300px), 1fr)); }
figure { margin: 0; background: #222; border-radius: .5rem; overflow: hidden; }
figure a { display: block; }
video, img.still { display: block; width: 100%; height: auto; background: #000; }
figcaption { padding: .4rem .6rem; color: #ccc; font-size: .95rem; }
#empty { text-align: center; color: #aaa; padding: 3rem 1rem; font-size: 1.2rem; }
#overlay { position: fixed; inset: 0; background: rgba(0,0,0,.9); display: flex;
  flex-direction: column; align-items: center; justify-content: center; padding: 1rem;
  text-align: center; }
#overlay[hidden] { display: none; }
#overlay img { width: min(80vw, 70vh); height: min(80vw, 70vh); background: #fff;
  border-radius: .5rem; }
#overlay p { font-size: 1.2rem; margin: 1rem 0 .5rem; }
a { color: #8cf; }
.take-page { max-width: 48rem; margin: 0 auto; }
.take-page .qr { width: min(70vw, 20rem); margin: 1rem auto; background: #fff; padding: .5rem;
  border-radius: .5rem; }
.take-page .qr svg { display: block; width: 100%; height: auto; }
.downloads { list-style: none; padding: 0; display: grid; gap: .5rem; }
.downloads a { display: block; padding: .8rem 1rem; background: #2a5; color: #fff;
  border-radius: .5rem; text-decoration: none; font-size: 1.1rem; text-align: center; }
.back { display: inline-block; margin: 1rem 0; }
)";

const char* const gallery_script = R"(
const grid = document.getElementById('takes');
const empty = document.getElementById('empty');
const overlay = document.getElementById('overlay');
const tiles = new Map();
// Only the videos on screen load and play: a gallery of hundreds stays light.
const watcher = 'IntersectionObserver' in window ? new IntersectionObserver(entries => {
  for (const entry of entries) {
    const video = entry.target;
    if (entry.isIntersecting) {
      if (!video.getAttribute('src')) video.src = video.dataset.src;
      video.play().catch(() => {});
    } else {
      video.pause();
    }
  }
}, { rootMargin: '300px' }) : null;

function show(take) {
  overlay.querySelector('img').src = take.qr;
  overlay.querySelector('.name').textContent = take.name;
  overlay.querySelector('a').href = take.page;
  overlay.hidden = false;
}
overlay.addEventListener('click', event => {
  if (event.target.tagName !== 'A') overlay.hidden = true;
});

function tile(take) {
  const figure = document.createElement('figure');
  figure.dataset.name = take.name;
  const link = document.createElement('a');
  link.href = take.page;
  link.addEventListener('click', event => { event.preventDefault(); show(take); });
  if (take.video) {
    const video = document.createElement('video');
    for (const flag of ['playsinline', 'muted', 'loop', 'autoplay']) video.setAttribute(flag, '');
    video.muted = true;
    video.preload = 'none';
    if (take.poster) video.poster = take.poster;
    video.dataset.src = take.video;
    if (watcher) watcher.observe(video); else video.src = take.video;
    link.appendChild(video);
  } else if (take.poster) {
    const still = document.createElement('img');
    still.className = 'still';
    still.src = take.poster;
    still.alt = take.name;
    link.appendChild(still);
  }
  const caption = document.createElement('figcaption');
  caption.textContent = take.time + ' · ' + take.name;
  figure.append(link, caption);
  return figure;
}

async function refresh() {
  try {
    const answer = await fetch('/takes.json', { cache: 'no-store' });
    const takes = (await answer.json()).takes;
    const names = new Set(takes.map(take => take.name));
    for (const [name, figure] of tiles) {
      if (!names.has(name)) { figure.remove(); tiles.delete(name); }
    }
    takes.forEach((take, index) => {
      let figure = tiles.get(take.name);
      if (!figure) { figure = tile(take); tiles.set(take.name, figure); }
      if (grid.children[index] !== figure) grid.insertBefore(figure, grid.children[index] || null);
    });
    empty.hidden = takes.length > 0;
  } catch (error) {
    // The booth's network comes and goes; the next look tries again.
  }
  setTimeout(refresh, 2000);
}
refresh();
)";

QByteArray page(const QString& title, const QString& body, const QString& script = QString())
{
    QString text = QStringLiteral("<!DOCTYPE html>\n<html lang=\"fr\"><head><meta charset=\"utf-8\">"
                                  "<meta name=\"viewport\" content=\"width=device-width, "
                                  "initial-scale=1\"><title>%1</title><style>%2</style></head>"
                                  "<body>%3")
                       .arg(html(title), QString::fromUtf8(style), body);
    if (!script.isEmpty())
        text += QStringLiteral("<script>%1</script>").arg(script);
    text += QStringLiteral("</body></html>\n");
    return text.toUtf8();
}

QString header(const QString& title, const QString& line)
{
    return QStringLiteral("<header><h1>%1</h1><p>%2</p></header>").arg(html(title), html(line));
}

} // namespace

QString take_page_path(const QString& take)
{
    return QStringLiteral("/take/") + path_segment(take);
}

QString take_file_path(const QString& take, const QString& file)
{
    return take_page_path(take) + QLatin1Char('/') + path_segment(file);
}

QString take_download_path(const QString& take, const QString& file)
{
    return QStringLiteral("/download/%1/%2").arg(path_segment(take), path_segment(file));
}

QString take_qr_path(const QString& take)
{
    return take_page_path(take) + QStringLiteral("/qr.svg");
}

QByteArray gallery_html(const QString& title)
{
    const QString body =
        header(title, QStringLiteral("Touchez une vidéo pour afficher son code QR")) +
        QStringLiteral("<main><div id=\"takes\"></div>"
                       "<p id=\"empty\" hidden>Aucune vidéo pour l'instant : la prochaine "
                       "apparaîtra ici.</p></main>"
                       "<div id=\"overlay\" hidden><img alt=\"Code QR\">"
                       "<p>Scannez ce code avec votre téléphone pour récupérer votre vidéo</p>"
                       "<p class=\"name\"></p><a href=\"/\">Ouvrir la page de la vidéo</a></div>");
    return page(title, body, QString::fromUtf8(gallery_script));
}

QByteArray gallery_json(const std::vector<ServedTake>& takes)
{
    QJsonArray list;
    for (const ServedTake& take : takes) {
        const QString video = take.gallery_video();
        list.append(QJsonObject{
            {QStringLiteral("name"), take.name},
            {QStringLiteral("page"), take_page_path(take.name)},
            {QStringLiteral("video"), video.isEmpty() ? QString() : take_file_path(take.name, video)},
            {QStringLiteral("poster"),
             take.still.isEmpty() ? QString() : take_file_path(take.name, take.still)},
            {QStringLiteral("qr"), take_qr_path(take.name)},
            {QStringLiteral("time"), take.finished.toLocalTime().toString(QStringLiteral("HH:mm"))},
        });
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("takes"), list}})
        .toJson(QJsonDocument::Compact);
}

QByteArray take_html(const QString& title, const ServedTake& take, const QByteArray& qr_svg)
{
    QString body = header(title, take.name);
    body += QStringLiteral("<main class=\"take-page\">");
    const QString shown = take.video.isEmpty() ? take.boomerang : take.video;
    const QString poster = take.still.isEmpty()
                               ? QString()
                               : QStringLiteral(" poster=\"%1\"").arg(
                                     html(take_file_path(take.name, take.still)));
    if (!shown.isEmpty())
        body += QStringLiteral("<video src=\"%1\"%2 controls playsinline muted loop autoplay>"
                               "</video>")
                    .arg(html(take_file_path(take.name, shown)), poster);
    else if (!take.still.isEmpty())
        body += QStringLiteral("<img class=\"still\" src=\"%1\" alt=\"%2\">")
                    .arg(html(take_file_path(take.name, take.still)), html(take.name));
    body += QStringLiteral("<div class=\"qr\">%1</div><p>Scannez ce code avec votre téléphone "
                           "pour ouvrir cette page</p><ul class=\"downloads\">")
                .arg(QString::fromUtf8(qr_svg));
    const std::pair<QString, QString> downloads[] = {
        {take.video, QStringLiteral("Télécharger la vidéo")},
        {take.boomerang, QStringLiteral("Télécharger le boomerang")},
        {take.gif, QStringLiteral("Télécharger le GIF")},
        {take.boomerang_gif, QStringLiteral("Télécharger le GIF boomerang")},
        {take.still, QStringLiteral("Télécharger la photo")},
    };
    for (const auto& [file, label] : downloads) {
        if (!file.isEmpty())
            body += QStringLiteral("<li><a href=\"%1\" download>%2</a></li>")
                        .arg(html(take_download_path(take.name, file)), html(label));
    }
    for (int i = 0; i < take.frames.size(); ++i)
        body += QStringLiteral("<li><a href=\"%1\" download>Image %2</a></li>")
                    .arg(html(take_download_path(take.name, take.frames[i])))
                    .arg(i + 1);
    body += QStringLiteral("</ul><a class=\"back\" href=\"/\">← Toutes les vidéos</a></main>");
    return page(title, body);
}

QByteArray not_found_html(const QString& title)
{
    return page(title, header(title, QStringLiteral("Cette page n'existe pas, ou la vidéo n'est "
                                                     "pas encore prête.")) +
                           QStringLiteral("<main><a class=\"back\" href=\"/\">← Toutes les "
                                          "vidéos</a></main>"));
}
