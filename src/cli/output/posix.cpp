// The transaction's steps on POSIX hosts, each relative to the target's final
// folder and following no link.
#ifndef _WIN32
#include "cleanup.h"
#include "output/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pixfold {

namespace {

bool createIn(int folder, TemporaryFile& file, SystemError& why) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporaryName(attempt);
        const CleanupSignalsBlocked blocked;
        const int descriptor = ::openat(folder, name.c_str(),
                                        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        why = descriptor < 0 ? lastErrno() : SystemError{};
        if (descriptor < 0 && errno == EEXIST) {
            continue;
        }
        if (descriptor < 0) {
            return false;
        }
        file.cleanupSlot = armCleanup(folder, name.c_str());
        if (file.cleanupSlot < 0) { // can't be cleaned up: not used
            ::unlinkat(folder, name.c_str(), 0);
            ::close(descriptor);
            return false;
        }
        file.descriptor = descriptor;
        file.folder = folder;
        file.name = name;
        file.identity = identifyDescriptor(descriptor);
        return true;
    }
    return false;
}

// A name in folder that holds nothing now.
std::string freeName(int folder) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporaryName(attempt);
        struct stat status {};
        if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
            return name;
        }
    }
    return {};
}

} // namespace

bool createTemporaryBeside(const Target& target, TemporaryFile& file, SystemError& why) {
    return createIn(target.folder, file, why);
}

bool createTemporaryElsewhere(TemporaryFile& file, std::string& folderName, SystemError& why) {
    const char* variable = std::getenv("TMPDIR");
    folderName = variable != nullptr && *variable != '\0' ? variable : "/tmp";
    int folder = ::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    why = folder < 0 ? lastErrno() : SystemError{};
    const bool created = folder >= 0 && createIn(folder, file, why);
    if (created) { // read back through its descriptor alone
        ::unlinkat(folder, file.name.c_str(), 0);
        file.name.clear();
        disarmCleanup(file.cleanupSlot);
        file.cleanupSlot = -1;
        file.folder = -1;
    }
    closeChecked(folder);
    return created;
}

void dropTemporary(TemporaryFile& file) {
    closeChecked(file.descriptor);
    if (!file.name.empty()) {
        ::unlinkat(file.folder, file.name.c_str(), 0);
        file.name.clear();
    }
    disarmCleanup(file.cleanupSlot);
    file.cleanupSlot = -1;
    file.folder = -1;
}

int openTargetForWriting(const Target& target, SystemError& why) {
    // Another process's descriptor, named in /proc, is reached through its link.
    const int follow = target.kind == TargetKind::descriptor ? 0 : O_NOFOLLOW;
    int descriptor = -1;
    do {
        descriptor =
            ::openat(target.folder, target.name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | follow);
        why = descriptor < 0 ? lastErrno() : SystemError{};
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor >= 0 && !sameObject(identifyDescriptor(descriptor), target.identity)) {
        ::close(descriptor); // not what was resolved: replaced meanwhile
        return -1;
    }
    return descriptor;
}

int createTargetFile(const Target& target, SystemError& why) {
    const int descriptor =
        ::openat(target.folder, target.name.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    why = descriptor < 0 ? lastErrno() : SystemError{};
    return descriptor;
}

bool keepOwnerAndMode(const Target& target, const TemporaryFile& file, SystemError& why) {
    why = {};
    struct stat old {};
    if (::fstatat(target.folder, target.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            why = lastErrno();
            return false;
        }
        const mode_t mask = ::umask(0);
        ::umask(mask);
        const bool set = ::fchmod(file.descriptor, 0666 & ~mask) == 0;
        why = set ? why : lastErrno();
        return set;
    }
    struct stat now {};
    if (!S_ISREG(old.st_mode)) {
        return false; // replaced by something else meanwhile
    }
    if (::fstat(file.descriptor, &now) != 0) {
        why = lastErrno();
        return false;
    }
    mode_t mode = old.st_mode & 07777;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(file.descriptor, old.st_uid, old.st_gid) != 0) {
        if (errno != EPERM) {
            why = lastErrno();
            return false;
        }
        // Not this user's to give: the owner stays this user, and the group
        // stays where this user is in it.
        mode &= ~static_cast<mode_t>(S_ISUID);
        if (now.st_gid != old.st_gid &&
            ::fchown(file.descriptor, static_cast<uid_t>(-1), old.st_gid) != 0) {
            mode &= ~static_cast<mode_t>(S_ISGID);
        }
    }
    const bool set = ::fchmod(file.descriptor, mode) == 0;
    why = set ? why : lastErrno();
    return set;
}

bool makeBackup(const Target& target, Backup& backup, SystemError& why) {
    why = {};
    struct stat old {};
    if (::fstatat(target.folder, target.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return true; // nothing to keep
        }
        why = lastErrno();
        return false;
    }
    if (!S_ISREG(old.st_mode)) {
        return false; // replaced by something else meanwhile
    }
    backup.oldExists = true;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        backup.name = temporaryName(attempt);
        if (::linkat(target.folder, target.name.c_str(), target.folder, backup.name.c_str(), 0) ==
            0) {
            backup.kept = true;
            return true;
        }
        if (errno == EXDEV) { // a mount point that the resolution could not tell
            backup.mounted = true;
            return false;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    // No links here (or none to this file): the rename keeps it.
    backup.name = freeName(target.folder);
    backup.byRename = true;
    return !backup.name.empty();
}

bool placeNewFile(const Target& target, TemporaryFile& file, Backup& backup, SystemError& why) {
    why = {};
    const int folder = target.folder;
    if (backup.byRename) {
        if (::renameat(folder, target.name.c_str(), folder, backup.name.c_str()) != 0) {
            why = lastErrno();
            return false;
        }
        backup.kept = true;
    }
    if (::renameat(folder, file.name.c_str(), folder, target.name.c_str()) != 0) {
        why = lastErrno();
        return false;
    }
    disarmCleanup(file.cleanupSlot); // the name is the target's now
    file.cleanupSlot = -1;
    file.name.clear();
    return true;
}

bool restoreOldFile(const Target& target, const TemporaryFile& file, const Backup& backup) {
    if (backup.kept) {
        return ::renameat(target.folder, backup.name.c_str(), target.folder, target.name.c_str()) ==
               0;
    }
    return backup.oldExists || !nameHolds(target, file.identity) ||
           ::unlinkat(target.folder, target.name.c_str(), 0) == 0;
}

void removeBackup(const Target& target, Backup& backup) {
    if (backup.kept) {
        ::unlinkat(target.folder, backup.name.c_str(), 0);
        backup.kept = false;
    }
}

bool nameHolds(const Target& target, const FileIdentity& identity) {
    struct stat status {};
    if (::fstatat(target.folder, target.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    FileIdentity now;
    now.known = true;
    now.device = static_cast<std::uint64_t>(status.st_dev);
    now.inode = static_cast<std::uint64_t>(status.st_ino);
    return sameObject(now, identity);
}

bool reserveSpace(int descriptor, long long offset, long long length, SystemError& why) {
    why = {};
#ifdef __linux__
    if (length <= 0) {
        return true;
    }
    int result = 0;
    do {
        result = ::fallocate(descriptor, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                             static_cast<off_t>(length));
    } while (result != 0 && errno == EINTR);
    if (result == 0 || errno == EOPNOTSUPP || errno == ENOSYS) {
        return true;
    }
    why = lastErrno();
    return false;
#else
    (void)descriptor;
    (void)offset;
    (void)length;
    return true;
#endif
}

bool copyBytes(int from, long long fromOffset, int to, long long toOffset, long long length,
               SystemError& why) {
    why = {};
    std::vector<unsigned char> block(static_cast<std::size_t>(std::min(length, 1LL << 20)));
    while (length > 0) {
        const auto wanted = static_cast<std::size_t>(std::min<long long>(length, 1LL << 20));
        const ssize_t got = ::pread(from, block.data(), wanted, static_cast<off_t>(fromOffset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            why = got < 0 ? lastErrno() : SystemError{}; // 0: the file is shorter than it was
            return false;
        }
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(got)) {
            const ssize_t put =
                ::pwrite(to, block.data() + done, static_cast<std::size_t>(got) - done,
                         static_cast<off_t>(toOffset) + static_cast<off_t>(done));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                why = put < 0 ? lastErrno() : SystemError{};
                return false;
            }
            done += static_cast<std::size_t>(put);
        }
        fromOffset += got;
        toOffset += got;
        length -= got;
    }
    return true;
}

long long fileLength(int descriptor) {
    struct stat status {};
    return ::fstat(descriptor, &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

long long currentPosition(int descriptor) {
    return static_cast<long long>(::lseek(descriptor, 0, SEEK_CUR));
}

bool setPosition(int descriptor, long long position) {
    return ::lseek(descriptor, static_cast<off_t>(position), SEEK_SET) == position;
}

bool setLength(int descriptor, long long length) {
    return ::ftruncate(descriptor, static_cast<off_t>(length)) == 0;
}

bool isAppending(int descriptor) {
    const int flags = ::fcntl(descriptor, F_GETFL);
    return flags >= 0 && (flags & O_APPEND) != 0;
}

bool mayShrink(int descriptor) {
#ifdef F_GET_SEALS
    const int seals = ::fcntl(descriptor, F_GET_SEALS); // a memfd that may not shrink
    return seals <= 0 || (seals & (F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE)) == 0;
#else
    (void)descriptor;
    return true;
#endif
}

int openForReading(int descriptor, SystemError& why) {
    const int flags = ::fcntl(descriptor, F_GETFL);
    // The same open file, through its link in /proc: no path is looked up.
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    const int reader = flags >= 0 && (flags & O_ACCMODE) == O_RDWR
                           ? duplicate(descriptor)
                           : ::open(link.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    why = reader < 0 ? lastErrno() : SystemError{};
    return reader;
}

int duplicate(int descriptor) {
    return ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
}

bool closeChecked(int& descriptor) {
    if (descriptor < 0) {
        return true;
    }
    const bool closed = ::close(descriptor) == 0;
    descriptor = -1;
    return closed;
}

FolderLock lockFolder(const Target& target) {
    FolderLock lock;
    lock.descriptor = ::openat(target.folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (lock.descriptor >= 0 && ::flock(lock.descriptor, LOCK_EX) != 0) {
        if (errno != EINTR) {
            closeChecked(lock.descriptor); // a folder that takes no lock: unlocked
        }
    }
    return lock;
}

void unlockFolder(FolderLock& lock) {
    closeChecked(lock.descriptor);
}

} // namespace pixfold
#endif
