// The affinity of the calling thread, counted.
#include "budget/cores.h"

#include <algorithm>

#include <sched.h>

namespace budget {

int usableCores()
{
    // Sized for the largest machines: a set smaller than the kernel's fails with EINVAL.
    constexpr int kMaxCpus = 8192;
    cpu_set_t *cores = CPU_ALLOC(kMaxCpus);
    if (cores == nullptr)
        return 1;
    const std::size_t size = CPU_ALLOC_SIZE(kMaxCpus);
    CPU_ZERO_S(size, cores);
    const int count = ::sched_getaffinity(0, size, cores) == 0 ? CPU_COUNT_S(size, cores) : 1;
    CPU_FREE(cores);
    return std::max(1, count);
}

}  // namespace budget
