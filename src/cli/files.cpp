#include "files.h"

#include "cleanup.h"
#include "core/system_io.h"
#include "wide.h"

#include <cerrno>
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

#ifdef _WIN32
constexpr int binaryFlag = _O_BINARY;
#else
constexpr int binaryFlag = 0;
#endif

} // namespace

Result openInput(const char* path, InputStream& stream) {
    const bool standard = path[0] == '-' && path[1] == '\0'; // "-": standard input
#ifdef _WIN32
    stream.descriptor = standard ? _dup(0) : _wopen(widen(path).c_str(), _O_RDONLY | binaryFlag);
    SystemError why = stream.descriptor < 0 ? lastErrno() : SystemError{};
    // Windows refuses to open a folder with "Permission denied": say what it is.
    const DWORD attributes =
        standard ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(fullPath(path).c_str());
    if (stream.descriptor < 0 && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        why = errnoError(EISDIR);
    }
#else
    SystemError why;
    if (standard) {
        stream.descriptor = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
        why = stream.descriptor < 0 ? lastErrno() : why;
    }
    while (!standard && stream.descriptor < 0) {
        stream.descriptor = ::open(path, O_RDONLY | O_CLOEXEC | binaryFlag);
        why = stream.descriptor < 0 ? lastErrno() : why;
        if (stream.descriptor < 0 && errno != EINTR) {
            break;
        }
    }
#endif
    if (stream.descriptor < 0) {
        return failure(ErrorCode::cantOpenInput, path, why);
    }
    // /dev/stdin and its kin name a descriptor that was closed at the start.
    const FileIdentity opened = identifyDescriptor(stream.descriptor);
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (isClosedStandardDescriptor(descriptor) &&
            sameFile(opened, identifyDescriptor(descriptor))) {
            closeInput(stream);
            return failure(ErrorCode::cantOpenInput, path, errnoError(EBADF));
        }
    }
    stream = descriptorInput(stream.descriptor);
    return {};
}

bool writeAll(int descriptor, const std::uint8_t* bytes, std::size_t count, SystemError& why) {
    while (count > 0) {
        const long long written = writeSome(descriptor, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            why = written < 0 ? lastErrno() : SystemError{};
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

#ifdef _WIN32
FileIdentity identifyHandle(HANDLE handle) {
    FileIdentity identity;
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &information) == 0) {
        identity.isDevice = handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR;
        return identity;
    }
    identity.known = true;
    identity.device = information.dwVolumeSerialNumber;
    identity.inode =
        (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return identity;
}

FileIdentity identifyDescriptor(int descriptor) {
    return identifyHandle(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)));
}

bool isRegularFile(int descriptor) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
}

FileIdentity identifyPath(const char* path) {
    const HANDLE handle = CreateFileW(fullPath(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const FileIdentity identity = identifyHandle(handle);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    return identity;
}
#else
FileIdentity identityOf(const struct stat& status) {
    FileIdentity identity;
    identity.known = true;
    identity.isDevice = S_ISCHR(status.st_mode);
    identity.isSocket = S_ISSOCK(status.st_mode);
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    return identity;
}

FileIdentity identifyDescriptor(int descriptor) {
    struct stat status {};
    return ::fstat(descriptor, &status) == 0 ? identityOf(status) : FileIdentity{};
}

bool isRegularFile(int descriptor) {
    struct stat status {};
    return ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

FileIdentity identifyPath(const char* path) {
    struct stat status {};
    return ::stat(path, &status) == 0 ? identityOf(status) : FileIdentity{};
}
#endif

bool sameObject(const FileIdentity& first, const FileIdentity& second) {
    return first.known && second.known && first.device == second.device &&
           first.inode == second.inode;
}

bool sameFile(const FileIdentity& first, const FileIdentity& second) {
    return !first.isDevice && !second.isDevice && sameObject(first, second);
}

bool inputIsOutput(const FileIdentity& input, const FileIdentity& output) {
    return !input.isSocket && sameFile(input, output);
}

} // namespace pixfold
