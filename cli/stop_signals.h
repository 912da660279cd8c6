#pragma once

// SIGINT and SIGTERM turned into a request to stop: while an object lives, the
// signals no longer end the process; each one is remembered, and wakes a thread
// waiting in wait_for_stop(). Create one at a time, on the main thread.
class StopSignals
{
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // True once a signal arrived.
    bool stop_requested() const;
    // Waits up to `timeout_ms` for a signal; true once one arrived.
    bool wait_for_stop(int timeout_ms);
};
