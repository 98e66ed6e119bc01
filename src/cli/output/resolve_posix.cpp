// Resolving an output path on POSIX hosts: one component at a time from the
// folder the walk stands in, each link's text put in place of its component
// as the kernel walks a path. No joined text is handed to the system, so a
// chain of links whose joined text passes PATH_MAX resolves as the kernel
// resolves it, and the final folder is held open for every later step.
#ifndef _WIN32
#include "cleanup.h"
#include "core/text.h"
#include "output/platform.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#endif

namespace pixfold {

namespace {

// Every component is opened as a handle that follows nothing and read
// through it, so what is read of one is what the next step starts from.
constexpr int folderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr int componentFlags = O_PATH | O_NOFOLLOW | O_CLOEXEC;

constexpr int linkLimit = 40; // the kernel's own

// The root folder, reached through /proc where it can be: an emulator that
// runs the tools with a prefix for the guest's own files (qemu-user's -L)
// hands "/" itself over to that prefix.
int openRoot() {
    const int root = ::open("/proc/self/root", folderFlags);
    return root >= 0 ? root : ::open("/", folderFlags);
}

void replaceFolder(int& folder, int next) {
    if (folder >= 0) {
        ::close(folder);
    }
    folder = next;
}

// A kernel setting read as a number; assumed on when it can't be read.
int kernelSetting(const char* path) {
    int value = 1;
    if (std::FILE* setting = std::fopen(path, "re")) {
        if (std::fscanf(setting, "%d", &value) != 1) {
            value = 1;
        }
        std::fclose(setting);
    }
    return value;
}

// The protected_symlinks rule: in a sticky, world-writable folder a link is
// followed only by its owner or when the folder's owner owns it.
bool kernelWouldFollow(int folder, const struct stat& link) {
    struct stat status {};
    if (kernelSetting("/proc/sys/fs/protected_symlinks") == 0 || ::fstat(folder, &status) != 0) {
        return true;
    }
    const bool stickyAndOpen = (status.st_mode & S_ISVTX) != 0 && (status.st_mode & S_IWOTH) != 0;
    return !stickyAndOpen || link.st_uid == ::geteuid() || link.st_uid == status.st_uid;
}

// The protected_fifos and protected_regular rules, as a plain "> path" meets
// them: in a sticky folder, writable by others (and, at level 2, by its group),
// a FIFO or regular file owned by neither this user nor the folder's owner is
// not opened.
bool kernelWouldOpen(int folder, const struct stat& file) {
    const int level = S_ISFIFO(file.st_mode)  ? kernelSetting("/proc/sys/fs/protected_fifos")
                      : S_ISREG(file.st_mode) ? kernelSetting("/proc/sys/fs/protected_regular")
                                              : 0;
    struct stat status {};
    if (level == 0 || ::geteuid() == 0 || ::fstat(folder, &status) != 0) {
        return true;
    }
    const bool open =
        (status.st_mode & S_IWOTH) != 0 || (level >= 2 && (status.st_mode & S_IWGRP) != 0);
    return (status.st_mode & S_ISVTX) == 0 || !open || file.st_uid == ::geteuid() ||
           file.st_uid == status.st_uid;
}

bool onProc(int folder) {
#ifdef __linux__
    struct statfs system {};
    constexpr long procSuperMagic = 0x9fa0;
    return ::fstatfs(folder, &system) == 0 && static_cast<long>(system.f_type) == procSuperMagic;
#else
    (void)folder;
    return false;
#endif
}

// The components of text pushed so that the first is walked next. A trailing
// slash asks for a folder: it becomes a final ".".
void pushComponents(const std::string& text, std::vector<std::string>& pending) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const std::size_t slash = std::min(text.find('/', begin), text.size());
        if (slash > begin) {
            parts.push_back(text.substr(begin, slash - begin));
        }
        begin = slash + 1;
    }
    if (!text.empty() && text.back() == '/') {
        parts.emplace_back(".");
    }
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

bool readLink(int link, std::size_t size, std::string& text, SystemError& why) {
    text.assign(size + 1, '\0');
    const ssize_t length = ::readlinkat(link, "", text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
        why = length < 0 ? lastErrno() : SystemError{}; // else changed meanwhile
        return false;
    }
    text.resize(static_cast<std::size_t>(length));
    return true;
}

// A link in /proc (/proc/self/fd/1, reached from /dev/stdout or /dev/fd/1)
// names an open descriptor: this process's own is written through a copy of
// it, at its position; another process's is opened anew through the link.
Result resolveDescriptorLink(const char* path, Target& target) {
    struct stat status {};
    if (::fstatat(target.folder, target.name.c_str(), &status, 0) != 0) {
        return failure(ErrorCode::cantOpenOutput, path, lastErrno());
    }
    if (S_ISDIR(status.st_mode)) {
        return failure(ErrorCode::cantOpenOutput, path, errnoError(EISDIR));
    }
    target.kind = TargetKind::descriptor;
    target.identity = identityOf(status);
    target.regularFile = S_ISREG(status.st_mode);
    for (int standard = 0; standard <= 2; ++standard) {
        if (isClosedStandardDescriptor(standard) &&
            sameObject(target.identity, identifyDescriptor(standard))) {
            return failure(ErrorCode::cantOpenOutput, path, errnoError(EBADF));
        }
    }
    std::int32_t number = 0;
    struct stat folder {};
    struct stat own {};
    const bool ownFolder = ::fstat(target.folder, &folder) == 0 &&
                           ::stat("/proc/self/fd", &own) == 0 && folder.st_ino == own.st_ino &&
                           folder.st_dev == own.st_dev;
    const bool numbered = readPositiveDecimal(target.name, number) || target.name == "0";
    if (ownFolder && numbered && sameObject(identifyDescriptor(number), target.identity)) {
        target.descriptor = ::fcntl(number, F_DUPFD_CLOEXEC, 3);
        if (target.descriptor < 0) {
            return failure(ErrorCode::cantOpenOutput, path, lastErrno());
        }
    }
    return {};
}

// What the folder lets be done with the names in it: Linux's append-only and
// immutable flags on the folder and on the file; a mount point or a sticky
// folder's rule keeps a file from being renamed over.
void readFolderRules(Target& target, const struct stat& file) {
#ifdef __linux__
    const int readable = ::openat(target.folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (readable >= 0 && ::ioctl(readable, FS_IOC_GETFLAGS, &flags) == 0) {
        target.folderKeepsFiles = (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
        target.folderTakesFiles = (flags & FS_IMMUTABLE_FL) == 0;
    }
    if (readable >= 0) {
        ::close(readable);
    }
    const int content = target.kind != TargetKind::regular
                            ? -1
                            : ::openat(target.folder, target.name.c_str(),
                                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    flags = 0;
    if (content >= 0 && sameObject(identifyDescriptor(content), target.identity) &&
        ::ioctl(content, FS_IOC_GETFLAGS, &flags) == 0) {
        target.fixedFile = (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
    }
    if (content >= 0) {
        ::close(content);
    }
#endif
    struct stat folder {};
    if (target.kind != TargetKind::regular) {
        return;
    }
    if (::fstat(target.folder, &folder) != 0 || folder.st_dev != file.st_dev) {
        target.renamable = false;
        return;
    }
#if defined(__linux__) && defined(STATX_BASIC_STATS)
    constexpr unsigned mountIdMask = 0x1000; // STATX_MNT_ID, Linux 5.8
    struct statx folderMount {};
    struct statx fileMount {};
    if (::statx(target.folder, "", AT_EMPTY_PATH, mountIdMask, &folderMount) == 0 &&
        ::statx(target.folder, target.name.c_str(), AT_SYMLINK_NOFOLLOW, mountIdMask, &fileMount) ==
            0 &&
        (folderMount.stx_mask & fileMount.stx_mask & mountIdMask) != 0 &&
        folderMount.stx_mnt_id != fileMount.stx_mnt_id) {
        target.renamable = false;
        return;
    }
#endif
    const uid_t user = ::geteuid();
    target.renamable = (folder.st_mode & S_ISVTX) == 0 || user == 0 || user == file.st_uid ||
                       user == folder.st_uid;
}

// The final component, found and held: what is there. A folder and a file
// the kernel would not open are refused as the kernel refuses them.
Result settle(const char* path, const struct stat& status, Target& target) {
    if (S_ISDIR(status.st_mode)) {
        return failure(ErrorCode::cantOpenOutput, path, errnoError(EISDIR));
    }
    if (!kernelWouldOpen(target.folder, status)) {
        return failure(ErrorCode::cantOpenOutput, path, errnoError(EACCES));
    }
    target.kind = S_ISREG(status.st_mode) ? TargetKind::regular : TargetKind::special;
    target.identity = identityOf(status);
    readFolderRules(target, status);
    return {};
}

// A step of the walk that opens a folder: the reason is kept where it fails.
int openFolder(int folder, const char* name, SystemError& why) {
    const int opened = ::openat(folder, name, folderFlags);
    why = opened < 0 ? lastErrno() : why;
    return opened;
}

} // namespace

// Each way the walk stops short keeps its reason in why: a failed call's, or
// the errno the kernel would give (a folder EISDIR, too many links ELOOP, a
// link it would not follow EACCES, a file where a folder is due ENOTDIR).
Result resolveTarget(const char* path, Target& target) {
    const std::string text = path;
    if (text.empty()) {
        return failure(ErrorCode::cantOpenOutput, path, errnoError(ENOENT));
    }
    SystemError why;
    int folder = text[0] == '/' ? openRoot() : ::open(".", folderFlags);
    why = folder < 0 ? lastErrno() : why;
    std::vector<std::string> pending;
    pushComponents(text, pending);
    int links = 0;
    Result result = failure(ErrorCode::cantOpenOutput, path);
    while (folder >= 0 && !pending.empty()) {
        const std::string component = pending.back();
        pending.pop_back();
        const bool last = pending.empty();
        if (component == "." || component == "..") {
            if (last) {
                why = errnoError(EISDIR);
                break;
            }
            if (component == "..") {
                replaceFolder(folder, openFolder(folder, "..", why));
            }
            continue;
        }
        int handle = ::openat(folder, component.c_str(), componentFlags);
        struct stat status {};
        if (handle < 0 || ::fstat(handle, &status) != 0) {
            why = lastErrno();
            if (handle < 0 && errno == ENOENT && last) {
                target.kind = TargetKind::missing;
                std::swap(target.folder, folder);
                target.name = component;
                result = {};
                readFolderRules(target, status);
            }
            replaceFolder(handle, -1);
            break;
        }
        if (S_ISLNK(status.st_mode) && onProc(folder)) {
            replaceFolder(handle, -1);
            if (last) {
                std::swap(target.folder, folder);
                target.name = component;
                result = resolveDescriptorLink(path, target);
                break;
            }
            replaceFolder(folder, openFolder(folder, component.c_str(), why)); // as the kernel
            continue;
        }
        if (S_ISLNK(status.st_mode)) {
            std::string link;
            const bool withinLimit = ++links <= linkLimit;
            const bool allowed = withinLimit && kernelWouldFollow(folder, status);
            why = !withinLimit ? errnoError(ELOOP) : !allowed ? errnoError(EACCES) : why;
            const bool followed =
                allowed && readLink(handle, static_cast<std::size_t>(status.st_size), link, why);
            replaceFolder(handle, -1);
            if (!followed) {
                break;
            }
            if (link[0] == '/') {
                replaceFolder(folder, openRoot());
                why = folder < 0 ? lastErrno() : why;
            }
            pushComponents(link, pending);
            continue;
        }
        if (!last) {
            replaceFolder(folder, S_ISDIR(status.st_mode) ? handle : -1);
            if (!S_ISDIR(status.st_mode)) {
                why = errnoError(ENOTDIR);
                replaceFolder(handle, -1);
            }
            continue;
        }
        std::swap(target.folder, folder);
        target.held = handle;
        target.name = component;
        result = settle(path, status, target);
    }
    replaceFolder(folder, -1);
    if (target.folder >= 0) {
        target.folderIdentity = identifyDescriptor(target.folder);
    }
    if (!succeeded(result) && result.reason.errnoValue == 0) {
        result.reason = why; // the walk's own; settle and /proc's links name theirs
    }
    return result;
}

Result resolveStandardOutput(Target& target) {
    target.kind = TargetKind::descriptor;
    target.identity = identifyDescriptor(standardOutput);
    if (isClosedStandardDescriptor(standardOutput)) {
        return failure(ErrorCode::cantOpenOutput, "-", errnoError(EBADF));
    }
    target.descriptor = ::fcntl(standardOutput, F_DUPFD_CLOEXEC, 3);
    const SystemError why = target.descriptor < 0 ? lastErrno() : SystemError{};
    target.regularFile = isRegularFile(standardOutput);
    return target.descriptor >= 0 ? Result{} : failure(ErrorCode::cantOpenOutput, "-", why);
}

void releaseTarget(Target& target) {
    for (int* descriptor : {&target.descriptor, &target.folder, &target.held}) {
        if (*descriptor >= 0) {
            ::close(*descriptor);
            *descriptor = -1;
        }
    }
}

} // namespace pixfold
#endif
