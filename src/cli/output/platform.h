// The file-system steps the output transaction is made of, one set for each
// host (posix.cpp and resolve_posix.cpp, windows.cpp). A target is reached
// through its final folder, opened once: no later step looks its path up
// again, and none follows a link.
#pragma once

#include "errors.h"
#include "files.h"

#include <cstdint>
#include <string>

namespace pixfold {

enum class TargetKind {
    missing,    // nothing there yet: a new file
    regular,    // an existing regular file
    special,    // a FIFO, a device or a terminal: written as the bytes come
    descriptor, // an open descriptor ("-", /dev/stdout, /dev/fd/N)
    refused     // nothing this tool can write (a folder, a link loop, ...)
};

// What an output path finally names, read once.
struct Target {
    TargetKind kind = TargetKind::missing;
    FileIdentity identity;         // the target's own (unknown when missing)
    FileIdentity folderIdentity;   // its final folder's
    std::string name;              // its name in that folder
    bool renamable = true;         // a new file can be renamed over it
    bool folderTakesFiles = true;  // new files may be created in the folder
    bool folderKeepsFiles = false; // the folder removes no name (append-only)
    bool fixedFile = false;        // the file itself can't change (immutable, append-only)
    bool regularFile = false;      // descriptor: a regular file behind it
    int descriptor = -1;           // descriptor: a copy of it; -1 to be opened by name
#ifdef _WIN32
    std::wstring folderPath; // the full path of the final folder
    std::wstring fullPath;   // and of the target
    void* folder = nullptr;  // a handle on the folder, held so it can't be moved meanwhile
    void* held = nullptr;    // on the existing target: its identity can't be reused
#else
    int folder = -1; // the final folder (O_PATH)
    int held = -1;   // the existing target (O_PATH): its identity can't be reused
#endif
};

// A temporary file, armed for removal by the signal cleanup until dropped or
// renamed.
struct TemporaryFile {
    int descriptor = -1; // open for reading and writing
    std::string name;    // in its folder
    FileIdentity identity;
    int cleanupSlot = -1;
#ifdef _WIN32
    std::wstring folderPath;
    std::wstring fullPath; // the slot reads it on a signal: it lives as long as the slot
#else
    int folder = -1; // not owned
#endif
};

// A file written in place at the commit: what puts it back.
struct InPlaceState {
    int descriptor = -1;       // the file itself, open for writing
    long long oldLength = -1;  // its length before
    long long offset = 0;      // where the new bytes go
    long long position = -1;   // the descriptor's position before, put back on failure
    bool append = false;       // open for appending: the bytes go at the end
    long long savedLength = 0; // bytes of the old contents kept in saved
    TemporaryFile saved;       // the old bytes the new ones overwrite
    int cleanupSlot = -1;      // straight: the signal cleanup cuts it back
};

// replace: the old file while the commit may still fail.
struct Backup {
    std::string name;       // a second name in the same folder
    bool oldExists = false; // a file was there to replace
    bool byRename = false;  // no link could be made: the old file is renamed to name
    bool kept = false;      // name holds the old file now
    bool mounted = false;   // the old file is a mount point: it can only be written in place
};

// Each step whose failure a message reports fills why with the reason of the
// call that failed, and leaves it unset where no call did (a refusal of the
// steps' own names its errno: a folder EISDIR, a link loop ELOOP). The thin
// wrappers (fileLength to closeChecked) make one call of the C library, whose
// errno tells why they failed.

// A temporary file's name: short and fixed in form, .pixfold-<16 hex digits>.tmp.
std::string temporaryName(unsigned attempt);

// Resolution (resolve_posix.cpp, windows.cpp): path is not "-".
Result resolveTarget(const char* path, Target& target);
Result resolveStandardOutput(Target& target);
void releaseTarget(Target& target);

// A new temporary file in the target's final folder, armed for removal; or
// one in the temporary folder (TMPDIR, else /tmp; on Windows GetTempPath),
// with no name left there, so that nothing can be left behind. The second
// names the folder it could not use in folderName.
bool createTemporaryBeside(const Target& target, TemporaryFile& file, SystemError& why);
bool createTemporaryElsewhere(TemporaryFile& file, std::string& folderName, SystemError& why);
// Closes, removes and disarms it.
void dropTemporary(TemporaryFile& file);

// The existing target opened for writing, its identity checked against the
// one read at resolution; -1 when it can't be.
int openTargetForWriting(const Target& target, SystemError& why);
// A file created at the target's name: only where none exists yet.
int createTargetFile(const Target& target, SystemError& why);

// Gives the new file the owner and permission bits of the file it replaces
// (the owner and group where the system lets this user keep them), or a new
// file's. False when the bits can't be set.
bool keepOwnerAndMode(const Target& target, const TemporaryFile& file, SystemError& why);

// The replaced file's backup: a second name (a link) where the file system
// has links, else nothing yet (byRename: the rename keeps it at commit).
bool makeBackup(const Target& target, Backup& backup, SystemError& why);
bool placeNewFile(const Target& target, TemporaryFile& file, Backup& backup, SystemError& why);
bool restoreOldFile(const Target& target, const TemporaryFile& file, const Backup& backup);
void removeBackup(const Target& target, Backup& backup);

// Same identity as what the name holds now.
bool nameHolds(const Target& target, const FileIdentity& identity);

// Space for length bytes at offset, kept without changing the length; true
// where the file system can't reserve space ahead (it then fails when
// written).
bool reserveSpace(int descriptor, long long offset, long long length, SystemError& why);
// Copies length bytes from one file at one offset to another at another.
bool copyBytes(int from, long long fromOffset, int to, long long toOffset, long long length,
               SystemError& why);
long long fileLength(int descriptor);
long long currentPosition(int descriptor);
bool setPosition(int descriptor, long long position);
bool setLength(int descriptor, long long length);
bool isAppending(int descriptor);
bool mayShrink(int descriptor); // not a sealed memfd
// A descriptor that reads the file open as descriptor, or -1.
int openForReading(int descriptor, SystemError& why);
int duplicate(int descriptor);
bool closeChecked(int& descriptor);

// An exclusive lock on each final folder, taken in the order of identity.
struct FolderLock {
    int descriptor = -1;
};
FolderLock lockFolder(const Target& target);
void unlockFolder(FolderLock& lock);

} // namespace pixfold
