#pragma once

#include <functional>

class ProgressView;

// Runs `work` on a worker thread while the window's thread keeps processing
// events (the window repaints, the progress view stays live). `refresh` runs on
// the window's thread once before the work starts and then every 50 ms, so it
// can update `view` and pass a cancellation on to the work. Returns once the
// work has finished.
void run_in_background(ProgressView& view, const std::function<void()>& work,
                       const std::function<void(ProgressView&)>& refresh);
