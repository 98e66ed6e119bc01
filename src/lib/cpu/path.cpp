#include "cpu/path.h"

#include <cstdlib>
#include <cstring>

namespace pixfold {

namespace {

constexpr std::string_view pathNames[] = {"portable", "avx2", "avx512"};
static_assert(std::size(pathNames) == std::size(allPaths), "a name for every path");

struct Processor {
    bool available[std::size(allPaths)] = {true, false, false};
};

Processor askProcessor() {
    Processor processor;
#if PIXFOLD_HAS_X86_PATHS
    __builtin_cpu_init();
    processor.available[static_cast<std::size_t>(Path::avx2)] = __builtin_cpu_supports("avx2") &&
                                                                __builtin_cpu_supports("fma") &&
                                                                __builtin_cpu_supports("ssse3");
    processor.available[static_cast<std::size_t>(Path::avx512)] =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
        __builtin_cpu_supports("fma") && __builtin_cpu_supports("ssse3");
#endif
    return processor;
}

// A function's static is initialised exactly once, the other threads wait:
// detected once, then only read.
const Processor& processor() {
    static const Processor asked = askProcessor();
    return asked;
}

Path fastestAvailable() {
    for (const Path path : {Path::avx512, Path::avx2}) {
        if (pathAvailable(path)) {
            return path;
        }
    }
    return Path::portable;
}

PathChoice choose() {
    PathChoice choice;
    choice.path = fastestAvailable();
    const char* forced = std::getenv("PIXFOLD_FORCE_PATH");
    if (forced == nullptr || *forced == '\0') {
        return choice;
    }
    std::strncpy(choice.forcedName, forced, sizeof choice.forcedName - 1);
    choice.usable = false;
    for (const Path path : allPaths) {
        if (pathName(path) == forced && pathAvailable(path)) {
            choice.path = path;
            choice.usable = true;
        }
    }
    return choice;
}

} // namespace

std::string_view pathName(Path path) {
    return pathNames[static_cast<std::size_t>(path)];
}

bool pathAvailable(Path path) {
    return processor().available[static_cast<std::size_t>(path)];
}

const PathChoice& pathChoice() {
    static const PathChoice choice = choose();
    return choice;
}

Status pathStatus() {
    return pathChoice().usable ? Status::ok : Status::pathUnavailable;
}

Path activePath() {
    const PathChoice& choice = pathChoice();
    return choice.usable ? choice.path : Path::portable;
}

Path runnablePath(Path wanted) {
    return pathAvailable(wanted) ? wanted : Path::portable;
}

} // namespace pixfold
