#include "tests/support/file_size_limit.h"

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

bool limit_file_size(qint64 bytes)
{
    // An ignored signal stays ignored across exec, and so does the limit.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return false;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

void FileSizeLimitedProcess::setupChildProcess()
{
    // Between fork and exec: only system calls here.
    if (!limit_file_size(bytes))
        _exit(127);
}
