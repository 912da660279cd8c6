#include "bench/process_usage.h"

#include <sys/resource.h>

namespace {

rusage usage_of(Spender spender)
{
    rusage usage{};
    getrusage(spender == Spender::ThisProcess ? RUSAGE_SELF : RUSAGE_CHILDREN, &usage);
    return usage;
}

} // namespace

double processor_seconds(Spender spender)
{
    const rusage usage = usage_of(spender);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peak_kib(Spender spender)
{
    return usage_of(spender).ru_maxrss;
}
