#include "serve/share_server.h"

#include "serve/byte_range.h"
#include "serve/qr_svg.h"
#include "serve/request_path.h"
#include "serve/share_pages.h"

#include <QHash>
#include <QUrl>
#include <QRegularExpression>

#include <microhttpd.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The takes as last read from ROOT, shared by every request while it is fresh.
struct Catalogue
{
    std::vector<ServedTake> takes;
    QHash<QString, int> index; // name to position in takes
};

// ROOT is read again this long after the last reading ended: a new take shows
// within about this time, and no request ever waits for the disk to list ROOT.
constexpr auto catalogue_interval = std::chrono::milliseconds(1000);

// A connection known to the deadline watch: its socket, and since when it has
// been waiting for a request's headers (none while a request is being answered).
struct Watched
{
    int fd = -1;
    std::optional<Clock::time_point> waiting_since;
};

QString content_type(const QString& file)
{
    const QString suffix = file.section(QLatin1Char('.'), -1).toLower();
    if (suffix == QLatin1String("mp4"))
        return QStringLiteral("video/mp4");
    if (suffix == QLatin1String("gif"))
        return QStringLiteral("image/gif");
    if (suffix == QLatin1String("png"))
        return QStringLiteral("image/png");
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return QStringLiteral("image/jpeg");
    return QStringLiteral("application/octet-stream");
}

// The request line as the log shows it: bytes that are not printable ASCII as
// \xHH, so that no request can write lines of its own into the log.
QByteArray printable(const char* text)
{
    QByteArray shown;
    for (const char* c = text; c && *c; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (byte < 0x21 || byte > 0x7e || byte == '"' || byte == '\\')
            shown += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            shown += char(byte);
    }
    return shown;
}

// `file` as a download's file name: "filename" in ASCII for old clients and
// "filename*" in UTF-8 for the rest.
QByteArray attachment(const QString& take, const QString& file)
{
    const QString wanted = take + QLatin1Char('_') + file;
    QByteArray ascii;
    for (const QChar c : wanted)
        ascii += (c.unicode() > 0x20 && c.unicode() < 0x7f && c != QLatin1Char('"') &&
                  c != QLatin1Char('\\') && c != QLatin1Char('%') && c != QLatin1Char(';'))
                     ? char(c.unicode())
                     : '_';
    return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" +
           QUrl::toPercentEncoding(wanted);
}

} // namespace

struct ShareServer::State
{
    ShareSettings settings;
    std::FILE* log = nullptr;
    int root_fd = -1;
    MHD_Daemon* daemon = nullptr;
    int port = 0;

    std::mutex catalogue_mutex;
    std::shared_ptr<const Catalogue> catalogue;
    std::thread catalogue_reader;

    std::mutex watch_mutex;
    std::condition_variable watch_wake;
    std::map<MHD_Connection*, Watched> watched;
    bool stopping = false;
    std::thread deadline_watch;

    std::mutex start_mutex;
    QString start_message; // the library's last complaint while starting

    std::shared_ptr<const Catalogue> current_catalogue()
    {
        std::lock_guard<std::mutex> lock(catalogue_mutex);
        return catalogue;
    }

    void read_catalogue()
    {
        auto fresh = std::make_shared<Catalogue>();
        fresh->takes = read_finished_takes(root_fd, settings.rules);
        for (int i = 0; i < int(fresh->takes.size()); ++i)
            fresh->index.insert(fresh->takes[i].name, i);
        std::lock_guard<std::mutex> lock(catalogue_mutex);
        catalogue = std::move(fresh);
    }

    // Reads ROOT again and again until the server stops.
    void keep_catalogue()
    {
        std::unique_lock<std::mutex> lock(watch_mutex);
        while (!stopping) {
            watch_wake.wait_for(lock, catalogue_interval);
            if (stopping)
                break;
            lock.unlock();
            read_catalogue();
            lock.lock();
        }
    }

    void write_log(const QByteArray& line)
    {
        if (!log)
            return;
        // One locked write per line: the booth's own lines may share the stream.
        flockfile(log);
        std::fwrite(line.constData(), 1, size_t(line.size()), log);
        std::fputc('\n', log);
        std::fflush(log);
        funlockfile(log);
    }

    // Disconnects every client that has waited past the deadline for a request's
    // headers. The socket is only shut down, never closed: the library closes it
    // and tells on_connection, which cannot run while the lock is held.
    void watch_deadlines()
    {
        std::unique_lock<std::mutex> lock(watch_mutex);
        while (!stopping) {
            watch_wake.wait_for(lock, std::chrono::seconds(1));
            const Clock::time_point now = Clock::now();
            for (auto& [connection, entry] : watched) {
                if (entry.waiting_since &&
                    now - *entry.waiting_since > std::chrono::seconds(share_request_deadline_s)) {
                    shutdown(entry.fd, SHUT_RDWR);
                    entry.waiting_since.reset();
                    write_log(client_of(connection) + " closed: no whole request within " +
                              QByteArray::number(share_request_deadline_s) + " s");
                }
            }
        }
    }

    static QByteArray client_of(MHD_Connection* connection)
    {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        if (!info || !info->client_addr)
            return "-";
        char text[INET6_ADDRSTRLEN] = "-";
        const sockaddr* address = info->client_addr;
        if (address->sa_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                      sizeof text);
        else if (address->sa_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                      sizeof text);
        return text;
    }

    // The address guests reach this page at: the Host the request came to when
    // it is a plain host name or address, else the address of this end of the
    // connection.
    QString authority(MHD_Connection* connection)
    {
        static const QRegularExpression plain_host(QStringLiteral(
            "^([A-Za-z0-9.-]{1,253}|\\[[0-9A-Fa-f:.]{2,45}\\])(:[0-9]{1,5})?$"));
        const char* host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host");
        if (host && plain_host.match(QString::fromLatin1(host)).hasMatch())
            return QString::fromLatin1(host);
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        char text[INET6_ADDRSTRLEN] = "";
        if (info && getsockname(info->connect_fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
            if (local.ss_family == AF_INET)
                inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&local)->sin_addr, text,
                          sizeof text);
            else if (local.ss_family == AF_INET6)
                inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr, text,
                          sizeof text);
        }
        QString address = QString::fromLatin1(text);
        if (address.startsWith(QLatin1String("::ffff:")))
            address = address.mid(7);
        return url_authority(address.isEmpty() ? settings.listen.host : address, port);
    }

    MHD_Result answer(MHD_Connection* connection, const char* method, const char* url,
                      unsigned status, MHD_Response* response, qint64 bytes)
    {
        MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
        MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
        const MHD_Result queued = MHD_queue_response(connection, status, response);
        MHD_destroy_response(response);
        write_log(client_of(connection) + " \"" + printable(method) + " " + printable(url) +
                  "\" " + QByteArray::number(status) + " " + QByteArray::number(bytes));
        return queued;
    }

    MHD_Result answer_document(MHD_Connection* connection, const char* method, const char* url,
                               unsigned status, const QByteArray& body, const char* type)
    {
        MHD_Response* response = MHD_create_response_from_buffer(
            size_t(body.size()), const_cast<char*>(body.constData()), MHD_RESPMEM_MUST_COPY);
        MHD_add_response_header(response, "Content-Type", type);
        MHD_add_response_header(response, "Cache-Control", "no-store");
        if (QByteArray(type).startsWith("text/html"))
            MHD_add_response_header(response, "Content-Security-Policy",
                                    "default-src 'self'; style-src 'unsafe-inline'; script-src "
                                    "'unsafe-inline' 'self'; img-src 'self' data:; frame-ancestors "
                                    "'none'");
        return answer(connection, method, url, status, response, body.size());
    }

    MHD_Result answer_text(MHD_Connection* connection, const char* method, const char* url,
                           unsigned status, const char* text)
    {
        return answer_document(connection, method, url, status, QByteArray(text) + "\n",
                               "text/plain; charset=utf-8");
    }

    MHD_Result answer_file(MHD_Connection* connection, const char* method, const char* url,
                           const QString& take, const QString& file, bool download)
    {
        const int fd = open_take_file(root_fd, take, file, settings.rules.done_marker);
        if (fd < 0)
            return answer_document(connection, method, url, MHD_HTTP_NOT_FOUND,
                                   not_found_html(settings.title), "text/html; charset=utf-8");
        struct stat status{};
        fstat(fd, &status);
        const std::uint64_t size = std::uint64_t(status.st_size);
        const char* asked = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Range");
        const ByteRange range = byte_range(asked ? QByteArray(asked) : QByteArray(), size);
        if (range.kind == ByteRange::Kind::Unsatisfiable) {
            close(fd);
            MHD_Response* response =
                MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
            MHD_add_response_header(response, "Content-Range",
                                    ("bytes */" + QByteArray::number(qulonglong(size))).constData());
            MHD_add_response_header(response, "Accept-Ranges", "bytes");
            return answer(connection, method, url, MHD_HTTP_RANGE_NOT_SATISFIABLE, response, 0);
        }
        const bool part = range.kind == ByteRange::Kind::Part;
        const std::uint64_t first = part ? range.first : 0;
        const std::uint64_t length = part ? range.last - range.first + 1 : size;
        // The library sends from the descriptor (sendfile) and closes it: a
        // download costs no memory of its size.
        MHD_Response* response = MHD_create_response_from_fd_at_offset64(length, fd, int64_t(first));
        if (!response) {
            close(fd);
            return MHD_NO;
        }
        MHD_add_response_header(response, "Content-Type", content_type(file).toLatin1().constData());
        MHD_add_response_header(response, "Accept-Ranges", "bytes");
        // The booth may redo a take under the same name.
        MHD_add_response_header(response, "Cache-Control", "no-cache");
        if (part)
            MHD_add_response_header(response, "Content-Range",
                                    ("bytes " + QByteArray::number(qulonglong(range.first)) + "-" +
                                     QByteArray::number(qulonglong(range.last)) + "/" +
                                     QByteArray::number(qulonglong(size)))
                                        .constData());
        if (download)
            MHD_add_response_header(response, "Content-Disposition",
                                    attachment(take, file).constData());
        return answer(connection, method, url, part ? MHD_HTTP_PARTIAL_CONTENT : MHD_HTTP_OK,
                      response, qint64(length));
    }

    // Called once when a request's headers are in (`first`), then again once
    // its body is: answering at the second call keeps the connection alive for
    // the next request, as a phone loading a gallery wants.
    MHD_Result on_request(MHD_Connection* connection, const char* url, const char* method,
                          bool first, size_t* upload_size)
    {
        const QByteArray verb(method);
        const bool readable = verb == "GET" || verb == "HEAD";
        if (first) {
            {
                std::lock_guard<std::mutex> lock(watch_mutex);
                const auto found = watched.find(connection);
                if (found != watched.end())
                    found->second.waiting_since.reset();
            }
            // No browser sends a body with GET: refused at once rather than read.
            const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
            const bool body =
                (length && QByteArray(length).trimmed() != "0") ||
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Transfer-Encoding");
            if (readable && body)
                return answer_text(connection, method, url, MHD_HTTP_BAD_REQUEST, "Bad request");
            if (readable)
                return MHD_YES;
        }
        if (!readable) {
            // Answered before any body is read; the connection is then closed.
            MHD_Response* response =
                MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
            MHD_add_response_header(response, "Allow", "GET, HEAD");
            return answer(connection, method, url, MHD_HTTP_METHOD_NOT_ALLOWED, response, 0);
        }
        *upload_size = 0;
        const std::optional<QStringList> segments = request_path_segments(QByteArray(url));
        if (!segments)
            return answer_text(connection, method, url, MHD_HTTP_BAD_REQUEST, "Bad request");
        const QStringList& path = *segments;
        if (path.isEmpty())
            return answer_document(connection, method, url, MHD_HTTP_OK,
                                   gallery_html(settings.title), "text/html; charset=utf-8");
        const std::shared_ptr<const Catalogue> known = current_catalogue();
        if (path == QStringList{QStringLiteral("takes.json")})
            return answer_document(connection, method, url, MHD_HTTP_OK,
                                   gallery_json(known->takes), "application/json");
        const bool take_path = path.front() == QLatin1String("take");
        const bool download_path = path.front() == QLatin1String("download");
        // The take is looked up among the names read from ROOT, never joined
        // from the request.
        const int position = path.size() >= 2 ? known->index.value(path[1], -1) : -1;
        if (position >= 0 && (take_path || download_path)) {
            const ServedTake& take = known->takes[size_t(position)];
            if (take_path && path.size() == 2) {
                const QString address = QStringLiteral("http://%1%2").arg(
                    authority(connection), take_page_path(take.name));
                return answer_document(connection, method, url, MHD_HTTP_OK,
                                       take_html(settings.title, take, qr_svg(address)),
                                       "text/html; charset=utf-8");
            }
            if (take_path && path.size() == 3 && path[2] == QLatin1String("qr.svg")) {
                const QString address = QStringLiteral("http://%1%2").arg(
                    authority(connection), take_page_path(take.name));
                return answer_document(connection, method, url, MHD_HTTP_OK, qr_svg(address),
                                       "image/svg+xml");
            }
            if (path.size() == 3 && take.serves(path[2]))
                return answer_file(connection, method, url, take.name, path[2], download_path);
        }
        return answer_document(connection, method, url, MHD_HTTP_NOT_FOUND,
                               not_found_html(settings.title), "text/html; charset=utf-8");
    }

    void on_connection(MHD_Connection* connection, MHD_ConnectionNotificationCode code)
    {
        std::lock_guard<std::mutex> lock(watch_mutex);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (info)
                watched[connection] = Watched{info->connect_fd, Clock::now()};
        } else {
            watched.erase(connection);
        }
    }

    void on_completed(MHD_Connection* connection)
    {
        // A kept-alive connection waits for its next request from now on.
        std::lock_guard<std::mutex> lock(watch_mutex);
        const auto found = watched.find(connection);
        if (found != watched.end())
            found->second.waiting_since = Clock::now();
    }
};

namespace {

MHD_Result request_callback(void* cls, MHD_Connection* connection, const char* url,
                            const char* method, const char*, const char*, size_t* upload_size,
                            void** request_context)
{
    // Any non-null value marks the request as seen.
    static char seen;
    const bool first = *request_context == nullptr;
    *request_context = &seen;
    return static_cast<ShareServer::State*>(cls)->on_request(connection, url, method, first,
                                                             upload_size);
}

void connection_callback(void* cls, MHD_Connection* connection, void**,
                         MHD_ConnectionNotificationCode code)
{
    static_cast<ShareServer::State*>(cls)->on_connection(connection, code);
}

void completed_callback(void* cls, MHD_Connection* connection, void**,
                        MHD_RequestTerminationCode)
{
    static_cast<ShareServer::State*>(cls)->on_completed(connection);
}

// The path is kept exactly as sent: request_path_segments decodes it once,
// segment by segment, so that "%2F" or "%00" can never become a separator or
// cut a name short.
size_t keep_escapes(void*, MHD_Connection*, char* text)
{
    return std::strlen(text);
}

void library_message(void* cls, const char* format, va_list arguments)
{
    auto* state = static_cast<ShareServer::State*>(cls);
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::lock_guard<std::mutex> lock(state->start_mutex);
    state->start_message = QString::fromLocal8Bit(text).trimmed();
}

} // namespace

ShareServer::ShareServer(ShareSettings settings, std::FILE* log) : state(std::make_unique<State>())
{
    state->settings = std::move(settings);
    state->log = log;
}

ShareServer::~ShareServer()
{
    stop();
}

QString ShareServer::start()
{
    State& s = *state;
    s.root_fd = open(s.settings.root.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (s.root_fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    // Read before the first request can come.
    s.read_catalogue();

    const ListenAddress& listen = s.settings.listen;
    sockaddr_in address4{};
    sockaddr_in6 address6{};
    const sockaddr* address = nullptr;
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
    if (listen.host.isEmpty()) {
        flags |= MHD_USE_DUAL_STACK;
    } else if (listen.ipv6) {
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(uint16_t(listen.port));
        inet_pton(AF_INET6, listen.host.toLatin1().constData(), &address6.sin6_addr);
        address = reinterpret_cast<const sockaddr*>(&address6);
        flags |= MHD_USE_IPv6;
    } else {
        address4.sin_family = AF_INET;
        address4.sin_port = htons(uint16_t(listen.port));
        inet_pton(AF_INET, listen.host.toLatin1().constData(), &address4.sin_addr);
        address = reinterpret_cast<const sockaddr*>(&address4);
    }
    const auto start_daemon = [&](unsigned with_flags) {
        return MHD_start_daemon(
            with_flags, uint16_t(listen.port), nullptr, nullptr, &request_callback, &s,
            MHD_OPTION_EXTERNAL_LOGGER, &library_message, &s,
            MHD_OPTION_CONNECTION_LIMIT, share_connection_limit,
            MHD_OPTION_CONNECTION_TIMEOUT, share_idle_timeout_s,
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, share_connection_memory,
            MHD_OPTION_THREAD_POOL_SIZE, share_threads,
            MHD_OPTION_NOTIFY_CONNECTION, &connection_callback, &s,
            MHD_OPTION_NOTIFY_COMPLETED, &completed_callback, &s,
            MHD_OPTION_UNESCAPE_CALLBACK, &keep_escapes, nullptr,
            address ? MHD_OPTION_SOCK_ADDR : MHD_OPTION_END, address, MHD_OPTION_END);
    };
    s.daemon = start_daemon(flags);
    // A machine without IPv6 still listens on every IPv4 interface.
    if (!s.daemon && listen.host.isEmpty())
        s.daemon = start_daemon(flags & ~unsigned(MHD_USE_DUAL_STACK));
    if (!s.daemon) {
        close(s.root_fd);
        s.root_fd = -1;
        std::lock_guard<std::mutex> lock(s.start_mutex);
        return s.start_message.isEmpty() ? QStringLiteral("le serveur n'a pas démarré")
                                         : s.start_message;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(s.daemon, MHD_DAEMON_INFO_BIND_PORT);
    s.port = info ? info->port : listen.port;
    s.stopping = false;
    s.deadline_watch = std::thread([&s] { s.watch_deadlines(); });
    s.catalogue_reader = std::thread([&s] { s.keep_catalogue(); });
    return {};
}

int ShareServer::port() const
{
    return state->port;
}

void ShareServer::stop()
{
    State& s = *state;
    if (s.deadline_watch.joinable()) {
        {
            std::lock_guard<std::mutex> lock(s.watch_mutex);
            s.stopping = true;
        }
        s.watch_wake.notify_all();
        s.deadline_watch.join();
        s.catalogue_reader.join();
    }
    if (s.daemon) {
        MHD_stop_daemon(s.daemon);
        s.daemon = nullptr;
    }
    if (s.root_fd >= 0) {
        close(s.root_fd);
        s.root_fd = -1;
    }
}
