// Raw file I/O shared by both tools: a read stream with a small buffer for
// headers that hands large reads straight to the operating system, whole
// writes, and file identity for same-file checks.
#pragma once

#include "common/errors.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pixfold {

// Pixels per block of the raster loops: about 1 MiB of buffers whatever the
// image size. 16K to 256K pixels measure alike; 8K and 1M pixels both lose.
constexpr std::size_t blockPixels = 65536;

// Reads go to the descriptor with no stdio layer: bytes a header read buffered
// are handed out first, and a large read goes straight into the caller's block
// with no extra copy.
struct InputStream {
    int descriptor = -1;
    std::vector<std::uint8_t> buffer;
    std::size_t position = 0;
    std::size_t end = 0;
    bool failed = false; // a read error (not the end of the file)
    bool ended = false;  // the end of the file was reached
};

// A stream over bytes in memory, for tests and fuzzing: no descriptor, the
// bytes already buffered, and the end of the file right after them.
InputStream memoryInput(const std::uint8_t* bytes, std::size_t count);

// Opens path for reading; "-" is standard input. Fails with cantOpenInput.
Result openInput(const char* path, InputStream& stream);
void closeInput(InputStream& stream);

// The next byte, or -1 at the end of the file or on a read error.
int readByte(InputStream& stream);

// The next byte without taking it, or -1 at the end of the file or on a read error.
int peekByte(InputStream& stream);

// Reads up to count bytes; fewer only at the end of the file or on an error.
std::size_t readBytes(InputStream& stream, std::uint8_t* into, std::size_t count);

// Writes all count bytes, resuming after interruptions and partial writes.
bool writeAll(int descriptor, const std::uint8_t* bytes, std::size_t count);

constexpr int standardOutput = 1;

// What a same-file check compares: device and inode (on Windows, volume and
// file index) of an open descriptor or of the file a path names.
struct FileIdentity {
    bool known = false;
    bool isDevice = false; // a character device such as /dev/null or a terminal
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

FileIdentity identifyDescriptor(int descriptor);
bool isRegularFile(int descriptor);
FileIdentity identifyPath(const char* path); // follows links; unknown when it names nothing

// True when both name one file. Pipes and FIFOs count; character devices do not,
// since reading one device and writing another of its kind loses nothing.
bool sameFile(const FileIdentity& first, const FileIdentity& second);

} // namespace pixfold
