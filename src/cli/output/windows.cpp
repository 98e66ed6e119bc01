// The transaction's steps on Windows. Paths are resolved once to their full
// form; the final folder is held open (not shared for deletion, so it can't
// be moved or renamed meanwhile) and read for its identity, and the
// existing target is held for its own. Windows has no backup links and
// replaces no file that another program holds open without sharing its
// deletion: the old file is first renamed to a backup name, which fails and
// changes nothing when it is held so.
#ifdef _WIN32
#include "cleanup.h"
#include "output/platform.h"
#include "wide.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <vector>
#include <windows.h>

namespace pixfold {

namespace {

// GetLastError's code, as the Win32 call that just failed left it.
SystemError lastWindowsError() {
    SystemError error;
    error.windowsCode = GetLastError();
    return error;
}

HANDLE handleOf(int descriptor) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

void closeHandle(void*& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    handle = nullptr;
}

// A folder's path as CreateFile takes it: a drive's root keeps its backslash.
std::wstring folderPart(const std::wstring& full, std::size_t slash) {
    std::wstring folder = full.substr(0, slash);
    if (!folder.empty() && folder.back() == L':') {
        folder += L'\\';
    }
    return folder;
}

std::wstring inFolder(const std::wstring& folder, const std::string& name) {
    const bool separated = !folder.empty() && folder.back() == L'\\';
    return folder + (separated ? L"" : L"\\") + widen(name);
}

bool createIn(const std::wstring& folder, int extraFlags, TemporaryFile& file, SystemError& why) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporaryName(attempt);
        const std::wstring path = inFolder(folder, name);
        const CleanupSignalsBlocked blocked;
        const int descriptor =
            _wopen(path.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | extraFlags,
                   _S_IREAD | _S_IWRITE);
        why = descriptor < 0 ? lastErrno() : SystemError{};
        if (descriptor < 0 && errno == EEXIST) {
            continue;
        }
        if (descriptor < 0) {
            return false;
        }
        file.descriptor = descriptor;
        file.identity = identifyHandle(handleOf(descriptor));
        if ((extraFlags & _O_TEMPORARY) != 0) {
            return true; // removed by the system when closed, even on a crash
        }
        file.fullPath = path;
        file.cleanupSlot = armCleanup(descriptor, file.fullPath.c_str());
        if (file.cleanupSlot < 0) {
            _close(descriptor);
            _wunlink(path.c_str());
            file = TemporaryFile{};
            return false;
        }
        file.name = name;
        file.folderPath = folder;
        return true;
    }
    return false;
}

std::wstring backupPath(const Target& target, const Backup& backup) {
    return inFolder(target.folderPath, backup.name);
}

} // namespace

// Devices (NUL, CON, COM1, a pipe) are found by what the path opens, not by
// its name.
Result resolveTarget(const char* path, Target& target) {
    const std::wstring full = fullPath(path);
    const std::size_t slash = full.find_last_of(L"\\/");
    if (full.empty() || slash == std::wstring::npos) {
        return failure(ErrorCode::cantOpenOutput, path, errnoError(ENOENT));
    }
    if (slash + 1 == full.size()) { // ends in a separator: a folder
        return failure(ErrorCode::cantOpenOutput, path, errnoError(EISDIR));
    }
    target.fullPath = full;
    const HANDLE existing =
        CreateFileW(full.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const DWORD openError = existing == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (existing != INVALID_HANDLE_VALUE && GetFileType(existing) != FILE_TYPE_DISK) {
        target.kind = TargetKind::special;
        target.identity.isDevice = GetFileType(existing) == FILE_TYPE_CHAR;
        CloseHandle(existing);
        return {};
    }
    target.folderPath = folderPart(full, slash);
    target.name = narrow(full.substr(slash + 1));
    target.folder = CreateFileW(target.folderPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target.folder == INVALID_HANDLE_VALUE) {
        const SystemError why = lastWindowsError();
        target.folder = nullptr;
        if (existing != INVALID_HANDLE_VALUE) {
            CloseHandle(existing);
        }
        return failure(ErrorCode::cantOpenOutput, path, why);
    }
    target.folderIdentity = identifyHandle(target.folder);
    if (existing == INVALID_HANDLE_VALUE) {
        target.kind = TargetKind::missing;
        SystemError why;
        why.windowsCode = openError;
        return openError == ERROR_FILE_NOT_FOUND ? Result{}
                                                 : failure(ErrorCode::cantOpenOutput, path, why);
    }
    target.held = existing;
    target.identity = identifyHandle(existing);
    BY_HANDLE_FILE_INFORMATION information;
    const bool folder = GetFileInformationByHandle(existing, &information) != 0 &&
                        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    target.kind = folder ? TargetKind::refused : TargetKind::regular;
    return folder ? failure(ErrorCode::cantOpenOutput, path, errnoError(EISDIR)) : Result{};
}

Result resolveStandardOutput(Target& target) {
    target.kind = TargetKind::descriptor;
    const HANDLE handle = handleOf(standardOutput);
    target.identity = identifyHandle(handle);
    target.identity.isDevice =
        handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR;
    target.regularFile = handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
    target.descriptor = _dup(standardOutput);
    return target.descriptor >= 0 ? Result{} : failure(ErrorCode::cantOpenOutput, "-", lastErrno());
}

void releaseTarget(Target& target) {
    closeChecked(target.descriptor);
    closeHandle(target.folder);
    closeHandle(target.held);
}

bool createTemporaryBeside(const Target& target, TemporaryFile& file, SystemError& why) {
    return createIn(target.folderPath, 0, file, why);
}

bool createTemporaryElsewhere(TemporaryFile& file, std::string& folderName, SystemError& why) {
    const DWORD length = GetTempPathW(0, nullptr);
    std::wstring folder(length, L'\0');
    folder.resize(GetTempPathW(length, folder.data()));
    why = folder.empty() ? lastWindowsError() : SystemError{};
    folderName = narrow(folder);
    return !folder.empty() && createIn(folder, _O_TEMPORARY, file, why);
}

void dropTemporary(TemporaryFile& file) {
    closeChecked(file.descriptor);
    if (!file.name.empty()) {
        _wunlink(file.fullPath.c_str());
        file.name.clear();
    }
    disarmCleanup(file.cleanupSlot); // before the path it points at goes
    file.cleanupSlot = -1;
    file.fullPath.clear();
}

int openTargetForWriting(const Target& target, SystemError& why) {
    const int descriptor = _wopen(target.fullPath.c_str(), _O_WRONLY | _O_BINARY);
    why = descriptor < 0 ? lastErrno() : SystemError{};
    if (descriptor >= 0 && target.kind != TargetKind::special &&
        !sameObject(identifyHandle(handleOf(descriptor)), target.identity)) {
        _close(descriptor); // not what was resolved: replaced meanwhile
        return -1;
    }
    return descriptor;
}

int createTargetFile(const Target& /*target*/, SystemError& why) {
    why = {};
    return -1; // no folder keeps its files on Windows
}

bool keepOwnerAndMode(const Target& /*target*/, const TemporaryFile& /*file*/, SystemError& why) {
    why = {};
    return true; // the read-only flag is kept as the file is placed
}

bool makeBackup(const Target& target, Backup& backup, SystemError& why) {
    why = {};
    backup.oldExists = GetFileAttributesW(target.fullPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    backup.byRename = true;
    for (unsigned attempt = 0; backup.oldExists && attempt < 100; ++attempt) {
        backup.name = temporaryName(attempt);
        if (GetFileAttributesW(backupPath(target, backup).c_str()) == INVALID_FILE_ATTRIBUTES) {
            return true;
        }
    }
    return !backup.oldExists;
}

// A read-only file is replaced and stays read-only, as its mode bits do on
// POSIX: the new file gets the flag once in place.
bool placeNewFile(const Target& target, TemporaryFile& file, Backup& backup, SystemError& why) {
    why = {};
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (backup.oldExists) {
        attributes = GetFileAttributesW(target.fullPath.c_str());
        if (MoveFileExW(target.fullPath.c_str(), backupPath(target, backup).c_str(), 0) == 0) {
            why = lastWindowsError();
            return false; // held open by another program, say: nothing changed
        }
        backup.kept = true;
    }
    if (MoveFileExW(file.fullPath.c_str(), target.fullPath.c_str(), 0) == 0) {
        why = lastWindowsError();
        return false;
    }
    disarmCleanup(file.cleanupSlot); // the name is the target's now
    file.cleanupSlot = -1;
    file.name.clear();
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(target.fullPath.c_str(),
                           GetFileAttributesW(target.fullPath.c_str()) | FILE_ATTRIBUTE_READONLY);
    }
    return true;
}

bool restoreOldFile(const Target& target, const TemporaryFile& file, const Backup& backup) {
    if (backup.kept) {
        SetFileAttributesW(target.fullPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        return MoveFileExW(backupPath(target, backup).c_str(), target.fullPath.c_str(),
                           MOVEFILE_REPLACE_EXISTING) != 0;
    }
    return backup.oldExists || !nameHolds(target, file.identity) ||
           DeleteFileW(target.fullPath.c_str()) != 0;
}

void removeBackup(const Target& target, Backup& backup) {
    if (backup.kept) {
        const std::wstring path = backupPath(target, backup);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        backup.kept = false;
    }
}

bool nameHolds(const Target& target, const FileIdentity& identity) {
    const HANDLE handle = CreateFileW(target.fullPath.c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool holds = sameObject(identifyHandle(handle), identity);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    return holds;
}

// The file's allocation grows to hold the new bytes; its length stays.
bool reserveSpace(int descriptor, long long offset, long long length, SystemError& why) {
    why = {};
    FILE_ALLOCATION_INFO allocation;
    allocation.AllocationSize.QuadPart = offset + length;
    if (length <= 0 || SetFileInformationByHandle(handleOf(descriptor), FileAllocationInfo,
                                                  &allocation, sizeof allocation) != 0) {
        return true;
    }
    if (GetLastError() != ERROR_DISK_FULL) {
        return true; // reserves nothing ahead: a full disk then fails the write
    }
    why = lastWindowsError();
    return false;
}

bool copyBytes(int from, long long fromOffset, int to, long long toOffset, long long length,
               SystemError& why) {
    why = {};
    if (_lseeki64(from, fromOffset, SEEK_SET) != fromOffset ||
        _lseeki64(to, toOffset, SEEK_SET) != toOffset) {
        why = lastErrno();
        return false;
    }
    std::vector<unsigned char> block(static_cast<std::size_t>(std::min(length, 1LL << 20)));
    while (length > 0) {
        const auto wanted = static_cast<unsigned>(std::min<long long>(length, 1LL << 20));
        const int got = _read(from, block.data(), wanted);
        if (got <= 0) {
            why = got < 0 ? lastErrno() : SystemError{}; // 0: the file is shorter than it was
            return false;
        }
        if (!writeAll(to, block.data(), static_cast<std::size_t>(got), why)) {
            return false;
        }
        length -= got;
    }
    return true;
}

long long fileLength(int descriptor) {
    return _filelengthi64(descriptor);
}

long long currentPosition(int descriptor) {
    return _telli64(descriptor);
}

bool setPosition(int descriptor, long long position) {
    return _lseeki64(descriptor, position, SEEK_SET) == position;
}

bool setLength(int descriptor, long long length) {
    return _chsize_s(descriptor, length) == 0;
}

// A handle's append mode can't be read on Windows (nor, under wine, told from
// a shell's 1<>), and the bytes it would overwrite can't always be read back
// through it: a file with bytes behind standard output gets the new ones at
// its end, where nothing old is overwritten.
bool isAppending(int /*descriptor*/) {
    return true;
}

bool mayShrink(int /*descriptor*/) {
    return true;
}

int openForReading(int descriptor, SystemError& why) {
    why = {};
    const HANDLE reader = ReOpenFile(handleOf(descriptor), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (reader == INVALID_HANDLE_VALUE) {
        why = lastWindowsError();
        return -1;
    }
    const int opened = _open_osfhandle(reinterpret_cast<intptr_t>(reader), _O_RDONLY | _O_BINARY);
    if (opened < 0) {
        why = lastErrno();
        CloseHandle(reader);
    }
    return opened;
}

int duplicate(int descriptor) {
    return _dup(descriptor);
}

bool closeChecked(int& descriptor) {
    if (descriptor < 0) {
        return true;
    }
    const bool closed = _close(descriptor) == 0;
    descriptor = -1;
    return closed;
}

// Windows locks no folder: runs on one path at once are not put in turn there.
FolderLock lockFolder(const Target& /*target*/) {
    return {};
}

void unlockFolder(FolderLock& /*lock*/) {}

} // namespace pixfold
#endif
