#pragma once

// What a benchmark has spent so far, from getrusage: processor time rather than
// elapsed time, which on a shared machine measures the neighbours' load as much
// as the run.

enum class Spender
{
    ThisProcess,  // every thread of the benchmark
    Children,     // the children waited for so far (ffmpeg, a phase in a child)
};

// User and system seconds.
double processor_seconds(Spender spender);

// The largest resident size, in KiB (of the largest child, for Children).
long peak_kib(Spender spender);
