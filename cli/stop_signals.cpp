#include "cli/stop_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// A signal handler may only touch these: a flag and a pipe whose read end a
// waiting thread polls (the self-pipe trick).
std::atomic<bool> signalled{false};
int pipe_ends[2] = {-1, -1};

struct sigaction previous_int;
struct sigaction previous_term;

extern "C" void on_stop_signal(int)
{
    const int saved = errno;
    signalled.store(true);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(pipe_ends[1], &byte, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals()
{
    signalled.store(false);
    if (pipe2(pipe_ends, O_CLOEXEC | O_NONBLOCK) != 0)
        pipe_ends[0] = pipe_ends[1] = -1;
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previous_int);
    sigaction(SIGTERM, &action, &previous_term);
}

StopSignals::~StopSignals()
{
    sigaction(SIGINT, &previous_int, nullptr);
    sigaction(SIGTERM, &previous_term, nullptr);
    for (int& end : pipe_ends) {
        if (end >= 0)
            close(end);
        end = -1;
    }
}

bool StopSignals::stop_requested() const
{
    return signalled.load();
}

bool StopSignals::wait_for_stop(int timeout_ms)
{
    if (signalled.load())
        return true;
    if (pipe_ends[0] < 0)
        return false;
    pollfd waiting{pipe_ends[0], POLLIN, 0};
    if (poll(&waiting, 1, timeout_ms) > 0) {
        char bytes[16];
        while (read(pipe_ends[0], bytes, sizeof bytes) > 0) {
        }
    }
    return signalled.load();
}
