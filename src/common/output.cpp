#include "common/output.h"

#include "common/io.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace pixfold {

namespace {

// The signal handler can reach nothing but static storage, so the paths of
// the temporary files it must remove live here: the tools' one mutable state.
constexpr int cleanupSlots = 4;
constexpr std::size_t cleanupPathBytes = 4096;
char cleanupPaths[cleanupSlots][cleanupPathBytes];
volatile std::sig_atomic_t cleanupInUse[cleanupSlots];

void removeFile(const char* path) {
#ifdef _WIN32
    _unlink(path);
#else
    ::unlink(path);
#endif
}

extern "C" void removeTemporariesAndEnd(int signalNumber) {
    for (int slot = 0; slot < cleanupSlots; ++slot) {
        if (cleanupInUse[slot] != 0) {
            removeFile(cleanupPaths[slot]);
        }
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

int claimCleanupSlot() {
    for (int slot = 0; slot < cleanupSlots; ++slot) {
        if (cleanupInUse[slot] == 0 && cleanupPaths[slot][0] == '\0') {
            cleanupPaths[slot][0] = '-'; // taken, not yet armed
            return slot;
        }
    }
    return -1;
}

// Names the temporary file in slot, then arms it; a path too long to store
// can't be cleaned up, so it is not used.
bool armCleanup(int slot, const std::string& path) {
    if (slot < 0 || path.size() >= cleanupPathBytes) {
        return false;
    }
    cleanupInUse[slot] = 0;
    std::memcpy(cleanupPaths[slot], path.c_str(), path.size() + 1);
    cleanupInUse[slot] = 1;
    return true;
}

void releaseCleanup(OutputFile& output) {
    if (output.cleanupSlot >= 0) {
        cleanupInUse[output.cleanupSlot] = 0;
        cleanupPaths[output.cleanupSlot][0] = '\0';
        output.cleanupSlot = -1;
    }
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int closeDescriptor(int descriptor) {
#ifdef _WIN32
    return _close(descriptor);
#else
    return ::close(descriptor);
#endif
}

#ifdef _WIN32
struct Placement {
    std::string target;
    bool inPlace = false;
    bool exists = false;
    int mode = 0;
};

Placement placeOutput(const char* path) {
    Placement placement;
    placement.target = path;
    struct _stat64 status {};
    if (_stat64(path, &status) == 0) {
        placement.exists = true;
        placement.inPlace = (status.st_mode & _S_IFMT) != _S_IFREG;
    }
    return placement;
}

int createExclusive(const std::string& path, const Placement&) {
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}

int openInPlace(const char* path) {
    return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}

bool moveIntoPlace(const std::string& temporary, const std::string& target) {
    return MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

unsigned long processNumber() {
    return GetCurrentProcessId();
}
#else
struct Placement {
    std::string target;
    bool inPlace = false;
    bool exists = false;
    struct stat status {};
};

bool isSpecialFolder(const std::string& path) {
    return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
}

// Follows symbolic links to the file that is really written, so that a link
// keeps pointing where it pointed. Paths through /dev or /proc (/dev/stdout,
// /dev/fd/N) name open descriptors or devices: those are written in place.
Placement placeOutput(const char* path) {
    Placement placement;
    placement.target = path;
    placement.inPlace = isSpecialFolder(placement.target);
    for (int hop = 0; hop < 40 && !placement.inPlace; ++hop) {
        struct stat linkStatus {};
        if (::lstat(placement.target.c_str(), &linkStatus) != 0 || !S_ISLNK(linkStatus.st_mode)) {
            break;
        }
        std::string link(static_cast<std::size_t>(linkStatus.st_size) + 256, '\0');
        const ssize_t length = ::readlink(placement.target.c_str(), link.data(), link.size());
        if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
            break;
        }
        link.resize(static_cast<std::size_t>(length));
        placement.target = link[0] == '/' ? link : folderOf(placement.target) + "/" + link;
        placement.inPlace = isSpecialFolder(placement.target);
    }
    if (::stat(placement.target.c_str(), &placement.status) == 0) {
        placement.exists = true;
        placement.inPlace = placement.inPlace || !S_ISREG(placement.status.st_mode);
    }
    return placement;
}

// The new file gets the permission bits of the file it replaces (and its
// owner, where we may set it), or those a new file would get.
int createExclusive(const std::string& path, const Placement& placement) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        return descriptor;
    }
    mode_t mode = 0;
    if (placement.exists) {
        mode = placement.status.st_mode & 07777;
        if (::fchown(descriptor, placement.status.st_uid, placement.status.st_gid) != 0) {
            mode &= 0777; // no set-id bits on a file whose owner could not be kept
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(descriptor, mode);
    return descriptor;
}

int openInPlace(const char* path) {
    int descriptor = -1;
    do {
        descriptor = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

bool moveIntoPlace(const std::string& temporary, const std::string& target) {
    return std::rename(temporary.c_str(), target.c_str()) == 0;
}

unsigned long processNumber() {
    return static_cast<unsigned long>(::getpid());
}
#endif

// Creates a new, hidden file beside target; false when the folder takes none.
bool createTemporary(const Placement& placement, OutputFile& output) {
    const std::string stem = folderOf(placement.target) + "/." + nameOf(placement.target) + ".";
    output.cleanupSlot = claimCleanupSlot();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, "%lx%lx%x.tmp", processNumber(),
                      static_cast<unsigned long>(std::clock()), attempt);
        const std::string candidate = stem + suffix;
        if (!armCleanup(output.cleanupSlot, candidate)) {
            break;
        }
        output.descriptor = createExclusive(candidate, placement);
        if (output.descriptor >= 0) {
            output.temporary = candidate;
            return true;
        }
        cleanupInUse[output.cleanupSlot] = 0;
        if (errno != EEXIST) {
            break;
        }
    }
    releaseCleanup(output);
    return false;
}

void abandon(OutputFile& output) {
    if (output.descriptor >= 0) {
        closeDescriptor(output.descriptor);
        output.descriptor = -1;
    }
    if (!output.temporary.empty()) {
        removeFile(output.temporary.c_str());
        output.temporary.clear();
    }
    releaseCleanup(output);
}

} // namespace

Result openOutput(const char* path, OutputFile& output) {
    output.path = path;
    const Placement placement = placeOutput(path);
    output.target = placement.target;
    if (!placement.inPlace && createTemporary(placement, output)) {
        return {};
    }
    output.descriptor = openInPlace(path);
    if (output.descriptor < 0) {
        return failure(ErrorCode::cantOpenOutput, path);
    }
    return {};
}

Result writeOutput(OutputFile& output, const std::uint8_t* bytes, std::size_t count) {
    if (!writeAll(output.descriptor, bytes, count)) {
        return failure(ErrorCode::cantWriteOutput, output.path);
    }
    return {};
}

Result finishOutputs(OutputFile* const* outputs, std::size_t count, Result runResult) {
    for (std::size_t i = 0; i < count; ++i) {
        OutputFile& output = *outputs[i];
        if (output.descriptor < 0) {
            continue;
        }
        const bool closed = closeDescriptor(output.descriptor) == 0;
        output.descriptor = -1;
        if (!closed && succeeded(runResult)) {
            runResult = failure(ErrorCode::cantWriteOutput, output.path);
        }
    }
    for (std::size_t i = 0; i < count && succeeded(runResult); ++i) {
        OutputFile& output = *outputs[i];
        if (!output.temporary.empty() && !moveIntoPlace(output.temporary, output.target)) {
            runResult = failure(ErrorCode::cantWriteOutput, output.path);
        } else {
            output.temporary.clear();
            releaseCleanup(output);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        abandon(*outputs[i]);
    }
    return runResult;
}

void prepareProcess() {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    std::signal(SIGINT, removeTemporariesAndEnd);
    std::signal(SIGTERM, removeTemporariesAndEnd);
#else
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) < 0 && errno == EBADF) {
            // open takes the lowest free descriptor: this one.
            ::open("/dev/null", descriptor == 0 ? O_WRONLY : O_RDONLY);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller chose to ignore (nohup) stays ignored.
        struct sigaction current {};
        if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            struct sigaction handler {};
            handler.sa_handler = removeTemporariesAndEnd;
            sigemptyset(&handler.sa_mask);
            ::sigaction(signalNumber, &handler, nullptr);
        }
    }
#endif
}

} // namespace pixfold
