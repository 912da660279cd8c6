#include "cli/terminal_progress.h"

#include "cli/stop_signals.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

class ProgressLine
{
public:
    ProgressLine() : shown(isatty(STDERR_FILENO) == 1) {}

    void show(const RunStep& step)
    {
        if (!shown)
            return;
        if (!label.isEmpty() && step.label != label)
            std::fputs("\n", stderr);
        label = step.label;
        // Back to the start of the line, the text, then clear what a longer text left.
        std::fprintf(stderr, "\r%s\033[K", step.text().toLocal8Bit().constData());
        std::fflush(stderr);
    }

    void finish()
    {
        if (shown && !label.isEmpty())
            std::fputs("\n", stderr);
        label.clear();
    }

private:
    const bool shown;
    QString label;
};

} // namespace

void run_with_progress(const std::function<void()>& work, const std::function<RunStep()>& step,
                       const std::function<void()>& request_stop, StopSignals& stop_signals)
{
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
    std::thread worker([&] {
        work();
        const std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        ended.notify_all();
    });
    const auto refresh = std::chrono::milliseconds(100);
    ProgressLine line;
    bool stop_passed_on = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (finished)
                break;
            // Once the stop is passed on, only the end of the work matters.
            if (stop_passed_on)
                ended.wait_for(lock, refresh, [&] { return finished; });
        }
        line.show(step());
        // Wakes at once on a signal, otherwise a few times a second.
        if (!stop_passed_on && stop_signals.wait_for_stop(static_cast<int>(refresh.count()))) {
            request_stop();
            stop_passed_on = true;
        }
    }
    worker.join();
    line.show(step());
    line.finish();
}
