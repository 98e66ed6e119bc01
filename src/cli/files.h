// Files as the tools open and compare them: inputs by path ("-" is standard
// input), whole writes, and file identity for same-file checks.
#pragma once

#include "errors.h"
#include "netpbm/input_stream.h"

#include <cstddef>
#include <cstdint>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace pixfold {

// Opens path for reading; "-" is standard input. Fails with cantOpenInput
// and the reason.
Result openInput(const char* path, InputStream& stream);

// Writes all count bytes, resuming after interruptions and partial writes;
// false with the failing write's reason in why.
bool writeAll(int descriptor, const std::uint8_t* bytes, std::size_t count, SystemError& why);

constexpr int standardOutput = 1;

// What a same-file check compares: device and inode (on Windows, volume and
// file index) of an open descriptor or of the file a path names.
struct FileIdentity {
    bool known = false;
    bool isDevice = false; // a character device such as /dev/null or a terminal
    bool isSocket = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

FileIdentity identifyDescriptor(int descriptor);
#ifdef _WIN32
FileIdentity identifyHandle(void* handle); // a Win32 HANDLE
#else
FileIdentity identityOf(const struct ::stat& status);
#endif
bool isRegularFile(int descriptor);
FileIdentity identifyPath(const char* path); // follows links; unknown when it names nothing

// True when both name one file. Pipes and FIFOs count; character devices do not,
// since reading one device and writing another of its kind loses nothing.
bool sameFile(const FileIdentity& first, const FileIdentity& second);
// True when both name one object, of whatever kind.
bool sameObject(const FileIdentity& first, const FileIdentity& second);

// True when an output would write the file an input reads. A socket is two
// ways, not a file one side could truncate: the same socket as standard input
// and output (inetd, socat EXEC) is no conflict.
bool inputIsOutput(const FileIdentity& input, const FileIdentity& output);

} // namespace pixfold
