#pragma once

// CPU time of the calling thread, and the wall clock: the machine is shared, so throughput
// is measured in CPU seconds, which other processes do not inflate.

#include <chrono>
#include <ctime>

namespace quillonbench
{

inline double threadCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

inline double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace quillonbench
