// Where each output goes: decided once, from what its path finally names,
// never from how the path is spelled; and what the bytes are written to
// until the commit.
#include "output/output.h"

#include "cleanup.h"
#include "wide.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace pixfold {

namespace {

// The random part of a temporary name: the process, the time and an attempt
// counter, mixed so that neighbouring values give unrelated names.
std::uint64_t mix(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

std::uint64_t processNumber() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<std::uint64_t>(::getpid());
#endif
}

OutputRoute routeOf(const Target& target) {
    switch (target.kind) {
    case TargetKind::missing:
        // A folder that removes no name gets the new file only at the end.
        return target.folderKeepsFiles ? OutputRoute::create : OutputRoute::replace;
    case TargetKind::regular:
        return target.renamable && !target.folderKeepsFiles ? OutputRoute::replace
                                                            : OutputRoute::copyIn;
    case TargetKind::special:
        return OutputRoute::stream;
    case TargetKind::descriptor:
        if (!target.regularFile) {
            return OutputRoute::stream;
        }
        if (target.descriptor < 0) { // another process's: opened anew, written over
            return OutputRoute::copyIn;
        }
#ifdef _WIN32
        return OutputRoute::atPosition; // no cut-back on a signal there: always from a temporary
                                        // file
#endif
        // > file: nothing to keep, and a failure or a signal cuts it back.
        return fileLength(target.descriptor) == 0 && !isAppending(target.descriptor) &&
                       mayShrink(target.descriptor)
                   ? OutputRoute::straight
                   : OutputRoute::atPosition;
    case TargetKind::refused:
        break;
    }
    return OutputRoute::none;
}

bool namesMatch(const std::string& first, const std::string& second) {
#ifdef _WIN32
    const std::wstring a = widen(first);
    const std::wstring b = widen(second);
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
#else
    return first == second;
#endif
}

// The file the bytes go to until the commit, written in place at the commit.
Result openTemporaryElsewhere(OutputFile& output) {
    std::string folder;
    SystemError why;
    if (!createTemporaryElsewhere(output.temporary, folder, why)) {
        return failure(ErrorCode::cantCreateTemporary, folder, why);
    }
    output.descriptor = output.temporary.descriptor;
    return {};
}

// The commit saves the bytes an in-place write overwrites, to put them back:
// a file whose bytes can't be read back is refused before converting.
bool canReadBack(int descriptor, SystemError& why) {
    int reader = openForReading(descriptor, why);
    const bool readable = reader >= 0;
    closeChecked(reader);
    return readable;
}

int takeDescriptor(Target& target, SystemError& why) {
    const int descriptor = target.descriptor;
    target.descriptor = -1;
    return descriptor >= 0 ? descriptor : openTargetForWriting(target, why);
}

} // namespace

std::string temporaryName(unsigned attempt) {
    const auto now = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    char name[32];
    std::snprintf(
        name, sizeof name, ".pixfold-%016llx.tmp",
        static_cast<unsigned long long>(mix(now ^ mix((processNumber() << 20) + attempt))));
    return name;
}

Result resolveOutput(const char* path, OutputFile& output) {
    output.path = path;
    const bool standard = path[0] == '-' && path[1] == '\0';
    Result result =
        standard ? resolveStandardOutput(output.target) : resolveTarget(path, output.target);
    const Target& target = output.target;
    output.route = succeeded(result) ? routeOf(target) : OutputRoute::none;
    // An immutable or append-only file can't take new contents, and a folder
    // that takes no new file no new output: refused as the kernel refuses them.
    if (succeeded(result) && (output.route == OutputRoute::none || target.fixedFile ||
                              (target.kind == TargetKind::missing && !target.folderTakesFiles))) {
        result = failure(ErrorCode::cantOpenOutput, path,
                         output.route == OutputRoute::none ? SystemError{} : errnoError(EPERM));
    }
    if (!succeeded(result)) {
        output.route = OutputRoute::none;
    }
    return result;
}

FileIdentity outputIdentity(const OutputFile& output) {
    return output.target.identity;
}

bool sameOutputTarget(const OutputFile& first, const OutputFile& second) {
    const Target& a = first.target;
    const Target& b = second.target;
    if (a.identity.known || b.identity.known) {
        return sameFile(a.identity, b.identity);
    }
    return a.folderIdentity.known && b.folderIdentity.known &&
           a.folderIdentity.device == b.folderIdentity.device &&
           a.folderIdentity.inode == b.folderIdentity.inode && namesMatch(a.name, b.name);
}

Result prepareOutput(OutputFile& output) {
    Target& target = output.target;
    SystemError why;
    switch (output.route) {
    case OutputRoute::none:
        return failure(ErrorCode::cantOpenOutput, output.path);
    case OutputRoute::stream:
        output.descriptor = takeDescriptor(target, why);
        return output.descriptor >= 0 ? Result{}
                                      : failure(ErrorCode::cantOpenOutput, output.path, why);
    case OutputRoute::replace:
        if (createTemporaryBeside(target, output.temporary, why)) {
            output.descriptor = output.temporary.descriptor;
            return {};
        }
        if (target.kind != TargetKind::regular) {
            return failure(ErrorCode::cantOpenOutput, output.path, why);
        }
        output.route = OutputRoute::copyIn; // a folder that takes no new file
        [[fallthrough]];
    case OutputRoute::copyIn:
        output.inPlace.descriptor = takeDescriptor(target, why);
        if (output.inPlace.descriptor < 0 || !canReadBack(output.inPlace.descriptor, why)) {
            return failure(ErrorCode::cantOpenOutput, output.path, why);
        }
        return openTemporaryElsewhere(output);
    case OutputRoute::create:
        return openTemporaryElsewhere(output);
    case OutputRoute::atPosition: {
        const int descriptor = takeDescriptor(target, why);
        output.inPlace.descriptor = descriptor;
        const bool overwrites =
            !isAppending(descriptor) && currentPosition(descriptor) < fileLength(descriptor);
        if (overwrites && !canReadBack(descriptor, why)) {
            return failure(ErrorCode::cantOpenOutput, output.path, why);
        }
        return openTemporaryElsewhere(output);
    }
    case OutputRoute::straight: {
#ifdef _WIN32
        break; // not taken there
#else
        InPlaceState& state = output.inPlace;
        output.descriptor = takeDescriptor(target, why);
        state.descriptor = duplicate(output.descriptor); // cuts back, after the writer is closed
        why = state.descriptor < 0 ? lastErrno() : why;
        state.oldLength = fileLength(output.descriptor);
        why = state.oldLength < 0 ? lastErrno() : why;
        state.position = currentPosition(output.descriptor);
        why = state.position < 0 ? lastErrno() : why;
        state.cleanupSlot = state.descriptor < 0 || state.oldLength < 0 || state.position < 0
                                ? -1
                                : armCutBack(state.descriptor, state.oldLength, state.position);
        return state.cleanupSlot >= 0 ? Result{}
                                      : failure(ErrorCode::cantOpenOutput, output.path, why);
#endif
    }
    }
    return failure(ErrorCode::cantOpenOutput, output.path);
}

Result writeFailure(const OutputFile& output, SystemError why) {
    return output.path == "-" ? failure(ErrorCode::cantWriteStdout, {}, why)
                              : failure(ErrorCode::cantWriteOutput, output.path, why);
}

Result writeOutput(OutputFile& output, const std::uint8_t* bytes, std::size_t count) {
    SystemError why;
    if (!writeAll(output.descriptor, bytes, count, why)) {
        return writeFailure(output, why);
    }
    output.written += static_cast<long long>(count);
    return {};
}

} // namespace pixfold
