#include "pipeline.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace pixfold {

bool secondProcessorAvailable() {
#if !PIXFOLD_HAS_THREADS
    return false;
#elif defined(__linux__)
    // The processors this process may run on (taskset, cgroups), not all the
    // machine has.
    cpu_set_t processors;
    CPU_ZERO(&processors);
    if (::sched_getaffinity(0, sizeof processors, &processors) == 0) {
        return CPU_COUNT(&processors) >= 2;
    }
    return std::thread::hardware_concurrency() >= 2;
#else
    return std::thread::hardware_concurrency() >= 2;
#endif
}

} // namespace pixfold
