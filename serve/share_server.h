#pragma once

#include "serve/listen_address.h"
#include "serve/take_catalogue.h"

#include <QString>

#include <cstdio>
#include <memory>

// What the sharing page serves and where.
struct ShareSettings
{
    QString root;          // the booth's output root; its finished takes are served
    ListenAddress listen;  // where to listen
    QString title;         // on top of every page
    TakeFileRules rules;   // which files of a take may be handed out
};

// Limits that keep a booth answering its guests when one client misbehaves (a
// slow or stuck phone, a scanner). A header larger than the memory limit is
// answered 431; a client that has not sent its whole request within the
// deadline, even one byte at a time, is disconnected.
constexpr unsigned share_connection_limit = 256;
constexpr unsigned share_idle_timeout_s = 15;
constexpr int share_request_deadline_s = 10;
constexpr std::size_t share_connection_memory = 32 * 1024;
constexpr unsigned share_threads = 4;

// The HTTP server of the sharing page: GET and HEAD only, the gallery, each
// finished take's page, QR code and files by exact name, ranges for the videos,
// one access line per request on `log`. Runs on threads of its own from start()
// until stop() or destruction.
class ShareServer
{
public:
    ShareServer(ShareSettings settings, std::FILE* log);
    ~ShareServer();
    ShareServer(const ShareServer&) = delete;
    ShareServer& operator=(const ShareServer&) = delete;

    // Opens ROOT and starts listening; returns why it could not, or empty.
    QString start();
    // The port listened on (the one the system chose for port 0).
    int port() const;
    // Closes every connection and stops; idempotent.
    void stop();

    struct State;

private:
    std::unique_ptr<State> state;
};
