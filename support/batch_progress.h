#pragma once

#include <atomic>

// How far a batch of images processed on worker threads has come, and whether
// the user asked to stop. Workers count each finished image and check for a
// stop before taking the next one; the window reads the count from its own
// thread. Every member is safe to use from any thread.
class BatchProgress
{
public:
    virtual ~BatchProgress() = default;

    // Called by a worker once an image is finished.
    virtual void image_done() { finished.fetch_add(1, std::memory_order_relaxed); }
    int done() const { return finished.load(std::memory_order_relaxed); }

    void request_stop() { stop.store(true, std::memory_order_relaxed); }
    bool stop_requested() const { return stop.load(std::memory_order_relaxed); }

private:
    std::atomic<int> finished{0};
    std::atomic<bool> stop{false};
};
