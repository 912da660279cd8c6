#pragma once

#include "pipeline/run_step.h"

#include <functional>

class StopSignals;

// Runs `work` on a worker thread while this thread shows `step()` as one
// updating line on standard error (a new line for each new step) when standard
// error is a terminal, and nothing otherwise. A SIGINT or SIGTERM caught by
// `stop_signals` calls `request_stop` once; the work is expected to end soon after.
// Returns once the work has finished.
void run_with_progress(const std::function<void()>& work, const std::function<RunStep()>& step,
                       const std::function<void()>& request_stop, StopSignals& stop_signals);
