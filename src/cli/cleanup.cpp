#include "cleanup.h"

#include "wide.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace pixfold {

namespace {

// A signal handler can reach nothing but static storage, so the temporary
// files it must remove, and the files it must cut back, are listed here: the
// tools' one process-wide state. A slot is free (armed == 0) or armed; its
// fields are written only while it is free, and a signal fence orders them
// before the flag.
struct CleanupSlot {
    int folder = -1;         // or the descriptor to cut back
    long long length = -1;   // the length to cut back to; -1: remove name
    long long position = -1; // with length: where the descriptor's position goes back to
#ifdef _WIN32
    const wchar_t* path = nullptr; // owned by the output, which disarms before freeing it
#else
    char name[cleanupNameBytes] = {};
#endif
    volatile std::sig_atomic_t armed = 0;
};

constexpr int cleanupSlotCount = 4; // two outputs, and each a spare
CleanupSlot cleanupSlots[cleanupSlotCount];

#ifndef _WIN32
constexpr int cleanupSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};
#else
constexpr int cleanupSignals[] = {SIGINT, SIGTERM, SIGBREAK};
#endif

void removeArmed() {
    for (CleanupSlot& slot : cleanupSlots) {
#ifndef _WIN32
        if (slot.armed != 0 && slot.length >= 0) {
            cutBack(slot.folder, slot.length, slot.position); // nothing more to try on failure
            continue;
        }
#endif
        if (slot.armed != 0) {
#ifdef _WIN32
            // Windows removes no file that is open: the slot's folder field
            // holds the descriptor, closed first.
            _close(slot.folder);
            _wunlink(slot.path);
#else
            ::unlinkat(slot.folder, slot.name, 0);
#endif
        }
    }
}

// 32-bit x86 code keeps 64-bit values in SSE registers and spills them with
// aligned stores; qemu's i386 emulation enters handlers on a stack aligned to
// 4 bytes only, so the handler realigns its own.
#if defined(__i386__) && (defined(__GNUC__) || defined(__clang__))
#define PIXFOLD_REALIGNED_STACK __attribute__((force_align_arg_pointer))
#else
#define PIXFOLD_REALIGNED_STACK
#endif

#ifdef _WIN32
// Windows has no signal mask: while a block is in force, the handler (on the
// console's thread) notes the signal and the end of the block acts on it.
volatile std::sig_atomic_t blockDepth = 0;
volatile std::sig_atomic_t deferredSignal = 0;
#endif

extern "C" PIXFOLD_REALIGNED_STACK void removeTemporariesAndEnd(int signalNumber) {
#ifdef _WIN32
    if (blockDepth > 0) {
        deferredSignal = signalNumber;
        std::signal(signalNumber, removeTemporariesAndEnd); // the runtime reset it
        return;
    }
#endif
    removeArmed();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

#ifndef _WIN32
// A descriptor inherited across exec never carries FD_CLOEXEC (it would have
// been closed), so the flag marks the placeholders prepareProcess makes.
void fillClosedStandardDescriptor(int descriptor) {
    int ends[2];
    if (::pipe(ends) != 0) {
        return;
    }
    // Standard input gets a pipe's write end and the others a read end: a
    // read or write in the usual direction fails, and no file lands there.
    const int keep = descriptor == 0 ? ends[1] : ends[0];
    if (keep != descriptor) {
        ::dup2(keep, descriptor);
    }
    for (const int end : ends) {
        if (end != descriptor) {
            ::close(end);
        }
    }
    ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
}
#endif

} // namespace

bool isClosedStandardDescriptor(int descriptor) {
#ifdef _WIN32
    (void)descriptor;
    return false;
#else
    const int flags = ::fcntl(descriptor, F_GETFD);
    return descriptor >= 0 && descriptor <= 2 && flags >= 0 && (flags & FD_CLOEXEC) != 0;
#endif
}

namespace {
int freeSlot() {
    for (int index = 0; index < cleanupSlotCount; ++index) {
        if (cleanupSlots[index].armed == 0) {
            return index;
        }
    }
    return -1;
}

int arm(int index) {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    cleanupSlots[index].armed = 1;
    return index;
}

#ifndef _WIN32
int armSlot(int descriptor, long long cutLength, long long position, const char* name) {
    const std::size_t length = std::strlen(name);
    const int index = freeSlot();
    if (length >= cleanupNameBytes || index < 0) {
        return -1;
    }
    CleanupSlot& slot = cleanupSlots[index];
    slot.folder = descriptor;
    slot.length = cutLength;
    slot.position = position;
    std::memcpy(slot.name, name, length + 1);
    return arm(index);
}
#endif
} // namespace

#ifdef _WIN32
int armCleanup(int descriptor, const wchar_t* path) {
    const int index = freeSlot();
    if (index < 0) {
        return -1;
    }
    cleanupSlots[index].folder = descriptor;
    cleanupSlots[index].path = path;
    return arm(index);
}
#else
int armCleanup(int folderDescriptor, const char* name) {
    return armSlot(folderDescriptor, -1, -1, name);
}

int armCutBack(int descriptor, long long length, long long position) {
    return armSlot(descriptor, length, position, "");
}

// lseek and ftruncate are async-signal-safe. Only a file that grew is cut:
// one another program emptied meanwhile is not filled back with zeros.
bool cutBack(int descriptor, long long length, long long position) {
    const off_t size = ::lseek(descriptor, 0, SEEK_END);
    const bool cut =
        size >= 0 && (size <= length || ::ftruncate(descriptor, static_cast<off_t>(length)) == 0);
    return ::lseek(descriptor, static_cast<off_t>(position), SEEK_SET) == position && cut;
}
#endif

void disarmCleanup(int slot) {
    if (slot >= 0 && slot < cleanupSlotCount) {
        cleanupSlots[slot].armed = 0;
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
}

#ifdef _WIN32
CleanupSignalsBlocked::CleanupSignalsBlocked() {
    blockDepth = blockDepth + 1;
}

CleanupSignalsBlocked::~CleanupSignalsBlocked() {
    if (!release) {
        return; // the depth stays above 0: a signal is noted and never acted on
    }
    blockDepth = blockDepth - 1;
    const int signalNumber = deferredSignal;
    if (blockDepth == 0 && signalNumber != 0) {
        deferredSignal = 0;
        removeTemporariesAndEnd(signalNumber);
    }
}

bool cleanupSignalPending() {
    return deferredSignal != 0;
}

void prepareProcess() {
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
    for (const int signalNumber : cleanupSignals) {
        std::signal(signalNumber, removeTemporariesAndEnd);
    }
}
#else
namespace {
sigset_t cleanupSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : cleanupSignals) {
        sigaddset(&set, signalNumber);
    }
    return set;
}
} // namespace

CleanupSignalsBlocked::CleanupSignalsBlocked() : before() {
    const sigset_t set = cleanupSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &set, &before);
}

CleanupSignalsBlocked::~CleanupSignalsBlocked() {
    if (release) {
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
}

bool cleanupSignalPending() {
    sigset_t pending;
    sigemptyset(&pending);
    if (::sigpending(&pending) != 0) {
        return false;
    }
    return std::any_of(
        std::begin(cleanupSignals), std::end(cleanupSignals),
        [&pending](int signalNumber) { return sigismember(&pending, signalNumber) == 1; });
}

void prepareProcess() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) < 0 && errno == EBADF) {
            fillClosedStandardDescriptor(descriptor);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    for (const int signalNumber : cleanupSignals) {
        // A signal the caller chose to ignore (nohup) stays ignored.
        struct sigaction current {};
        if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            struct sigaction handler {};
            handler.sa_handler = removeTemporariesAndEnd;
            sigemptyset(&handler.sa_mask);
            ::sigaction(signalNumber, &handler, nullptr);
        }
    }
}
#endif

} // namespace pixfold
