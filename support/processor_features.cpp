#include "support/processor_features.h"

bool has_avx2()
{
#if defined(__x86_64__)
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

bool has_byte_permutes()
{
#if defined(__x86_64__)
    static const bool has = __builtin_cpu_supports("avx512f") &&
                            __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vbmi");
    return has;
#else
    return false;
#endif
}
