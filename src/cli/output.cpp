#include "output.h"

#include "cleanup.h"
#include "core/text.h"
#include "wide.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/statfs.h>
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

std::string temporaryNameFor(unsigned attempt, std::uint64_t salt) {
    const auto now = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    char name[cleanupNameBytes];
    std::snprintf(name, sizeof name, ".pixfold-%016llx.tmp",
                  static_cast<unsigned long long>(mix(now ^ mix(salt + attempt))));
    return name;
}

// The bytes of from, from its start, to to: over it from its start, then cut
// to size, or at to's own position.
bool copyAll(int from, int to, bool atPosition);

void abandon(OutputFile& output);

#ifdef _WIN32
// ---------------------------------------------------------------- Windows
int closeDescriptor(int descriptor) {
    return _close(descriptor);
}

std::wstring folderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"/\\");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

// Devices (NUL, CON, COM1, a pipe) are found by what the path opens, not by
// its name.
bool namesDevice(const std::wstring& path) {
    const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool device = GetFileType(handle) != FILE_TYPE_DISK;
    CloseHandle(handle);
    return device;
}

Result openPlaced(const char* path, OutputFile& output) {
    const std::wstring full = fullPath(path);
    if (full.empty()) {
        return failure(ErrorCode::cantOpenOutput, path);
    }
    output.target = identifyPath(path);
    if (namesDevice(full)) {
        output.descriptor = _wopen(widen(path).c_str(), _O_WRONLY | _O_BINARY);
        return output.descriptor >= 0 ? Result{} : failure(ErrorCode::cantOpenOutput, path);
    }
    // Windows compares names without case, after the full path is resolved.
    output.name = narrow(full);
    const std::wstring folder = folderOf(full);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            narrow(folder) + "\\" + temporaryNameFor(attempt, GetCurrentProcessId());
        const CleanupSignalsBlocked blocked;
        output.descriptor =
            _wopen(widen(candidate).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                   _S_IREAD | _S_IWRITE);
        if (output.descriptor >= 0) {
            output.placement = OutputPlacement::replace;
            output.temporaryName = candidate;
            output.cleanupSlot = armCleanup(output.descriptor, candidate.c_str());
            if (output.cleanupSlot < 0) { // can't be cleaned up: not used
                _close(output.descriptor);
                output.descriptor = -1;
                _wunlink(widen(candidate).c_str());
                break;
            }
            return {};
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return failure(ErrorCode::cantOpenOutput, path);
}

bool sameName(const std::string& first, const std::string& second) {
    const std::wstring a = widen(first);
    const std::wstring b = widen(second);
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool removeTemporary(const OutputFile& output) {
    return _wunlink(widen(output.temporaryName).c_str()) == 0;
}

// A read-only file is replaced and stays read-only, as its mode bits do on
// POSIX: the flag comes off for the move and goes back on the new file.
bool renameIntoPlace(const OutputFile& output) {
    const std::wstring target = widen(output.name);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) {
        SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    const bool moved = MoveFileExW(widen(output.temporaryName).c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING) != 0;
    if (readOnly) {
        SetFileAttributesW(target.c_str(),
                           moved ? (GetFileAttributesW(target.c_str()) | FILE_ATTRIBUTE_READONLY)
                                 : attributes);
    }
    return moved;
}

int openTargetForCopy(const OutputFile& output) {
    return _wopen(widen(output.name).c_str(), _O_WRONLY | _O_BINARY);
}

int openTemporaryForCopy(const OutputFile& output) {
    return _wopen(widen(output.temporaryName).c_str(), _O_RDONLY | _O_BINARY);
}

long long readSome(int descriptor, std::uint8_t* into, std::size_t count) {
    return _read(descriptor, into, static_cast<unsigned>(std::min<std::size_t>(count, 1u << 30)));
}

bool rewind(int descriptor) {
    return _lseeki64(descriptor, 0, SEEK_SET) == 0;
}

bool cutTo(int descriptor, long long size) {
    return _chsize_s(descriptor, size) == 0;
}
#else
// ------------------------------------------------------------------ POSIX
int closeDescriptor(int descriptor) {
    return ::close(descriptor);
}

// On POSIX only '/' separates folders; every other byte belongs to the name.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int openFolder(const std::string& folder) {
#ifdef O_PATH
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    return ::open(folder.c_str(), flags);
}

// The kernel's protected_symlinks rule: in a sticky, world-writable folder a
// link is followed only by its owner or when the folder's owner owns it. The
// rule is assumed on when the setting can't be read.
bool kernelWouldFollow(const std::string& link, const struct stat& linkStatus) {
    std::FILE* setting = std::fopen("/proc/sys/fs/protected_symlinks", "r");
    int enabled = 1;
    if (setting != nullptr) {
        if (std::fscanf(setting, "%d", &enabled) != 1) {
            enabled = 1;
        }
        std::fclose(setting);
    }
    struct stat folder {};
    if (enabled == 0 || ::stat(folderOf(link).c_str(), &folder) != 0) {
        return true;
    }
    const bool stickyAndOpen = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !stickyAndOpen || linkStatus.st_uid == ::geteuid() || linkStatus.st_uid == folder.st_uid;
}

// A link in /proc (/proc/self/fd/1, reached from /dev/stdout or /dev/fd/1)
// names an open descriptor, not a path: what it names is written in place.
bool isDescriptorLink(const std::string& link) {
#ifdef __linux__
    struct statfs system {};
    constexpr long procSuperMagic = 0x9fa0;
    return ::statfs(folderOf(link).c_str(), &system) == 0 &&
           static_cast<long>(system.f_type) == procSuperMagic;
#else
    (void)link;
    return false;
#endif
}

enum class Resolution { missing, regular, inPlace, descriptor, refused };

// Follows path's links one by one, as the kernel would, to the final target.
Resolution resolveTarget(const char* path, std::string& target, struct stat& status) {
    target = path;
    for (int hop = 0; hop <= 40; ++hop) { // the kernel's own limit
        if (::lstat(target.c_str(), &status) != 0) {
            return errno == ENOENT ? Resolution::missing : Resolution::refused;
        }
        if (!S_ISLNK(status.st_mode)) {
            return S_ISREG(status.st_mode) ? Resolution::regular : Resolution::inPlace;
        }
        if (!kernelWouldFollow(target, status)) {
            return Resolution::refused;
        }
        if (isDescriptorLink(target)) {
            return ::stat(target.c_str(), &status) == 0 ? Resolution::descriptor
                                                        : Resolution::refused;
        }
        std::string link(static_cast<std::size_t>(status.st_size) + 256, '\0');
        const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) {
            return Resolution::refused;
        }
        link.resize(static_cast<std::size_t>(length));
        if (link[0] != '/') {
            link.insert(0, folderOf(target) + "/");
        }
        target = link;
    }
    return Resolution::refused; // a loop
}

// Creates a new temporary file in folder and arms its cleanup.
bool createTemporary(int folder, int flags, OutputFile& output) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            temporaryNameFor(attempt, static_cast<std::uint64_t>(::getpid()) << 20);
        const CleanupSignalsBlocked blocked;
        const int descriptor =
            ::openat(folder, candidate.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (descriptor >= 0) {
            output.cleanupSlot = armCleanup(folder, candidate.c_str());
            if (output.cleanupSlot < 0) { // can't be cleaned up: not used
                ::unlinkat(folder, candidate.c_str(), 0);
                ::close(descriptor);
                return false;
            }
            output.descriptor = descriptor;
            output.temporaryFolder = folder;
            output.temporaryName = candidate;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// Whether rename can put a new file over the existing one in folder: not when
// the file is a mount point (a bind-mounted file), nor when a sticky folder
// reserves the rename for the file's or the folder's owner.
bool renameAllowed(int folder, const struct stat& file, const std::string& target) {
    struct stat folderStatus {};
    if (::fstat(folder, &folderStatus) != 0 || folderStatus.st_dev != file.st_dev) {
        return false;
    }
#if defined(__linux__) && defined(STATX_BASIC_STATS)
    constexpr unsigned mountIdMask = 0x1000; // STATX_MNT_ID, Linux 5.8
    struct statx folderMount {};
    struct statx fileMount {};
    if (::statx(folder, "", AT_EMPTY_PATH, mountIdMask, &folderMount) == 0 &&
        ::statx(AT_FDCWD, target.c_str(), AT_SYMLINK_NOFOLLOW, mountIdMask, &fileMount) == 0 &&
        (folderMount.stx_mask & fileMount.stx_mask & mountIdMask) != 0 &&
        folderMount.stx_mnt_id != fileMount.stx_mnt_id) {
        return false;
    }
#endif
    const uid_t user = ::geteuid();
    return (folderStatus.st_mode & S_ISVTX) == 0 || user == 0 || user == file.st_uid ||
           user == folderStatus.st_uid;
}

// The new file gets the permission bits of the file it replaces (and its
// owner, where we may set it), or those a new file would get.
void giveModeOf(int descriptor, bool exists, const struct stat& status) {
    mode_t mode = 0;
    if (exists) {
        mode = status.st_mode & 07777;
        if (::fchown(descriptor, status.st_uid, status.st_gid) != 0) {
            mode &= 0777; // no set-id bits on a file whose owner could not be kept
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(descriptor, mode);
}

// A temporary file for a copy-in: in TMPDIR, or /tmp when that is unset or
// takes no file.
bool createTemporaryElsewhere(OutputFile& output) {
    const char* variable = std::getenv("TMPDIR");
    for (const char* folder : {variable, "/tmp"}) {
        if (folder == nullptr || *folder == '\0') {
            continue;
        }
        output.temporaryFolder = openFolder(folder);
        if (output.temporaryFolder >= 0 &&
            createTemporary(output.temporaryFolder, O_RDWR, output)) {
            output.placement = OutputPlacement::copyIn;
            return true;
        }
        if (output.temporaryFolder >= 0) {
            ::close(output.temporaryFolder);
            output.temporaryFolder = -1;
        }
    }
    return false;
}

// The existing file is written in place after the conversion, from a
// complete copy in the temporary folder. O_CREAT lets the kernel apply its
// protected_regular rule, as it would to a plain "> file".
Result openCopyIn(const std::string& target, OutputFile& output) {
    output.existing = ::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (output.existing < 0 || !createTemporaryElsewhere(output)) {
        return failure(ErrorCode::cantOpenOutput, output.path);
    }
    return {};
}

// The descriptor number a /proc or /dev/fd link names, or -1.
int descriptorNumber(const std::string& name) {
    std::int32_t number = 0;
    return readPositiveDecimal(name, number) || name == "0" ? number : -1;
}

bool sameObject(const FileIdentity& first, const FileIdentity& second) {
    return first.known && second.known && first.device == second.device &&
           first.inode == second.inode;
}

// An open descriptor of this process, named through /proc or /dev/fd: written
// through a copy of it, so its position and append mode hold, as for "-".
// Another process's descriptor is opened anew by its path.
int openDescriptorLink(const char* path, const std::string& target, const FileIdentity& identity,
                       bool& own) {
    const int number = descriptorNumber(nameOf(target));
    own = number >= 0 && sameObject(identifyDescriptor(number), identity);
    if (own) {
        return ::fcntl(number, F_DUPFD_CLOEXEC, 3);
    }
    int descriptor = -1;
    do {
        descriptor = ::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

// An empty regular file written at its own position, as "> file" gives:
// straight through, with a second descriptor kept to cut it back to nothing on
// failure or a signal (copying through a temporary file would double the
// bytes moved). Not a file with bytes in it, nor one open for appending
// (>>): other writers may add to it meanwhile, and a SIGKILL would leave
// part of the records after its bytes.
bool placeAppended(int descriptor, OutputFile& output) {
    struct stat status {};
    const int flags = ::fcntl(descriptor, F_GETFL);
    const off_t position = ::lseek(descriptor, 0, SEEK_CUR);
    if (::fstat(descriptor, &status) != 0 || flags < 0 || position < 0 || (flags & O_APPEND) != 0 ||
        status.st_size != 0) {
        return false;
    }
#ifdef F_GET_SEALS
    const int seals = ::fcntl(descriptor, F_GET_SEALS); // a memfd that may not shrink
    if (seals > 0 && (seals & (F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE)) != 0) {
        return false;
    }
#endif
    const int keeper = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    if (keeper < 0) {
        return false;
    }
    output.cleanupSlot = armCutBack(keeper, status.st_size, position);
    if (output.cleanupSlot < 0) {
        ::close(keeper);
        return false;
    }
    output.placement = OutputPlacement::appended;
    output.descriptor = descriptor;
    output.existing = keeper;
    output.keptLength = status.st_size;
    output.keptPosition = position;
    return true;
}

// A descriptor written in place. A regular file behind it (standard output
// redirected to one) is written straight through if empty, as above;
// otherwise it gets the bytes only at the end, from a complete temporary
// file, at its own position (atPosition) or, for a descriptor opened anew,
// over it; without a temporary folder it is written as the bytes come.
Result placeDescriptor(int descriptor, bool atPosition, OutputFile& output) {
    if (isRegularFile(descriptor)) {
        if (atPosition && placeAppended(descriptor, output)) {
            return {};
        }
        output.existing = descriptor;
        output.atPosition = atPosition;
        if (createTemporaryElsewhere(output)) {
            return {};
        }
        output.existing = -1;
        output.atPosition = false;
    }
    output.placement = OutputPlacement::inPlace;
    output.descriptor = descriptor;
    return {};
}

Result openPlaced(const char* path, OutputFile& output) {
    std::string target;
    struct stat status {};
    const Resolution resolution =
        path[0] == '\0' ? Resolution::refused : resolveTarget(path, target, status);
    if (resolution == Resolution::refused) {
        return failure(ErrorCode::cantOpenOutput, path);
    }
    if (resolution != Resolution::missing) {
        output.target = identifyPath(target.c_str());
        for (int descriptor = 0; descriptor <= 2; ++descriptor) {
            if (isClosedStandardDescriptor(descriptor) &&
                sameFile(output.target, identifyDescriptor(descriptor))) {
                return failure(ErrorCode::cantOpenOutput, path);
            }
        }
    }
    if (resolution == Resolution::descriptor) {
        bool own = false;
        const int descriptor = openDescriptorLink(path, target, output.target, own);
        return descriptor >= 0 ? placeDescriptor(descriptor, own, output)
                               : failure(ErrorCode::cantOpenOutput, path);
    }
    if (resolution == Resolution::inPlace) {
        do {
            // O_CREAT as a plain "> path" has it: the kernel's protected_fifos rule applies.
            output.descriptor =
                ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
        } while (output.descriptor < 0 && errno == EINTR);
        return output.descriptor >= 0 ? Result{} : failure(ErrorCode::cantOpenOutput, path);
    }
    output.name = nameOf(target);
    output.folder = openFolder(folderOf(target));
    if (output.folder < 0) {
        return failure(ErrorCode::cantOpenOutput, path);
    }
    output.folderId = identifyDescriptor(output.folder);
    const bool exists = resolution == Resolution::regular;
    if ((!exists || renameAllowed(output.folder, status, target)) &&
        createTemporary(output.folder, O_WRONLY, output)) {
        output.placement = OutputPlacement::replace;
        giveModeOf(output.descriptor, exists, status);
        return {};
    }
    if (!exists) {
        return failure(ErrorCode::cantOpenOutput, path);
    }
    return openCopyIn(target, output);
}

bool sameName(const std::string& first, const std::string& second) {
    return first == second;
}

bool removeTemporary(const OutputFile& output) {
    return ::unlinkat(output.temporaryFolder, output.temporaryName.c_str(), 0) == 0;
}

bool renameIntoPlace(const OutputFile& output) {
    return ::renameat(output.folder, output.temporaryName.c_str(), output.folder,
                      output.name.c_str()) == 0;
}

int openTargetForCopy(const OutputFile& output) {
    return ::openat(output.folder, output.name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
}

int openTemporaryForCopy(const OutputFile& output) {
    return ::openat(output.temporaryFolder, output.temporaryName.c_str(), O_RDONLY | O_CLOEXEC);
}

long long readSome(int descriptor, std::uint8_t* into, std::size_t count) {
    return ::read(descriptor, into, count);
}

bool rewind(int descriptor) {
    return ::lseek(descriptor, 0, SEEK_SET) == 0;
}

bool cutTo(int descriptor, long long size) {
    return ::ftruncate(descriptor, static_cast<off_t>(size)) == 0;
}
#endif

bool copyAll(int from, int to, bool atPosition) {
    if (!rewind(from) || (!atPosition && !rewind(to))) {
        return false;
    }
    std::vector<std::uint8_t> block(1 << 20);
    long long total = 0;
    while (true) {
        const long long got = readSome(from, block.data(), block.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return atPosition || cutTo(to, total);
        }
        if (!writeAll(to, block.data(), static_cast<std::size_t>(got))) {
            return false;
        }
        total += got;
    }
}

// Cuts back what a failed run appended, closes what is still open and
// removes the temporary file.
void abandon(OutputFile& output) {
#ifndef _WIN32
    if (output.keptLength >= 0 && output.existing >= 0) {
        cutBack(output.existing, output.keptLength, output.keptPosition);
        output.keptLength = -1;
        disarmCleanup(output.cleanupSlot); // before the descriptor it names is closed
        output.cleanupSlot = -1;
    }
#endif
    for (int* descriptor : {&output.descriptor, &output.existing}) {
        if (*descriptor >= 0) {
            closeDescriptor(*descriptor);
            *descriptor = -1;
        }
    }
    if (!output.temporaryName.empty()) {
        removeTemporary(output);
        output.temporaryName.clear();
    }
    disarmCleanup(output.cleanupSlot);
    output.cleanupSlot = -1;
    if (output.temporaryFolder >= 0 && output.temporaryFolder != output.folder) {
        closeDescriptor(output.temporaryFolder);
    }
    if (output.folder >= 0) {
        closeDescriptor(output.folder);
    }
    output.folder = -1;
    output.temporaryFolder = -1;
}

// The complete temporary file over the file in place.
bool copyIntoPlace(OutputFile& output) {
    if (output.existing < 0) {
        output.existing = openTargetForCopy(output);
    }
    const int from = output.placement == OutputPlacement::copyIn ? output.descriptor
                                                                 : openTemporaryForCopy(output);
    const bool copied =
        output.existing >= 0 && from >= 0 && copyAll(from, output.existing, output.atPosition);
    if (from >= 0 && from != output.descriptor) {
        closeDescriptor(from);
    }
    const bool closed = output.existing < 0 || closeDescriptor(output.existing) == 0;
    output.existing = -1;
    return copied && closed;
}

// "-": standard output, written in place through a descriptor of its own.
Result openStandardOutput(OutputFile& output) {
    output.target = identifyDescriptor(standardOutput);
    if (isClosedStandardDescriptor(standardOutput)) {
        return failure(ErrorCode::cantOpenOutput, output.path);
    }
#ifdef _WIN32
    output.descriptor = _dup(standardOutput);
    return output.descriptor >= 0 ? Result{} : failure(ErrorCode::cantOpenOutput, output.path);
#else
    const int descriptor = ::fcntl(standardOutput, F_DUPFD_CLOEXEC, 3);
    return descriptor >= 0 ? placeDescriptor(descriptor, true, output)
                           : failure(ErrorCode::cantOpenOutput, output.path);
#endif
}

} // namespace

// Standard output has a message of its own.
Result writeFailure(const OutputFile& output) {
    return output.path == "-" ? failure(ErrorCode::cantWriteStdout)
                              : failure(ErrorCode::cantWriteOutput, output.path);
}

FileIdentity identifyOutput(const char* path) {
    return path[0] == '-' && path[1] == '\0' ? identifyDescriptor(standardOutput)
                                             : identifyPath(path);
}

Result openOutput(const char* path, OutputFile& output) {
    output.path = path;
    const bool standard = path[0] == '-' && path[1] == '\0';
    Result result = standard ? openStandardOutput(output) : openPlaced(path, output);
    if (!succeeded(result)) {
        abandon(output);
    }
    return result;
}

Result writeOutput(OutputFile& output, const std::uint8_t* bytes, std::size_t count) {
    return writeAll(output.descriptor, bytes, count) ? Result{} : writeFailure(output);
}

bool sameOutputTarget(const OutputFile& first, const OutputFile& second) {
    if (first.target.known && second.target.known) {
        return sameFile(first.target, second.target);
    }
#ifdef _WIN32
    // The full path stands for the folder: Windows has no folder descriptor.
    return !first.target.known && !second.target.known && !first.name.empty() &&
           sameName(first.name, second.name);
#else
    return !first.target.known && !second.target.known && first.folderId.known &&
           sameFile(first.folderId, second.folderId) && sameName(first.name, second.name);
#endif
}

Result finishOutputs(OutputFile* const* outputs, std::size_t count, Result runResult) {
    for (std::size_t i = 0; i < count; ++i) {
        OutputFile& output = *outputs[i];
        // A copy-in source stays open: it is read back below.
        if (output.descriptor < 0 || output.placement == OutputPlacement::copyIn) {
            continue;
        }
        const bool closed = closeDescriptor(output.descriptor) == 0;
        output.descriptor = -1;
        if (!closed && succeeded(runResult)) {
            runResult = writeFailure(output);
        }
    }
    // Copies first: they are what can still fail half-way, and a failure then
    // leaves every output that a rename would have replaced as it was.
    for (const OutputPlacement placement : {OutputPlacement::copyIn, OutputPlacement::replace}) {
        for (std::size_t i = 0; i < count && succeeded(runResult); ++i) {
            OutputFile& output = *outputs[i];
            if (output.placement != placement || output.temporaryName.empty()) {
                continue;
            }
            bool placed = false;
            if (placement == OutputPlacement::replace && renameIntoPlace(output)) {
                disarmCleanup(output.cleanupSlot); // the name is the target's now
                output.cleanupSlot = -1;
                output.temporaryName.clear();
                placed = true;
            } else {
                placed = copyIntoPlace(output); // the temporary file is removed below
            }
            if (!placed) {
                runResult = writeFailure(output);
            }
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (succeeded(runResult) && outputs[i]->placement == OutputPlacement::appended) {
            outputs[i]->keptLength = -1; // what was appended stays
            disarmCleanup(outputs[i]->cleanupSlot);
            outputs[i]->cleanupSlot = -1;
        }
        abandon(*outputs[i]);
    }
    return runResult;
}

} // namespace pixfold
