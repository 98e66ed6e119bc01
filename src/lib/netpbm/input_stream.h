// Reading a Netpbm stream: a small buffer for headers, and large reads that go
// straight from the operating system into the caller's block.
#pragma once

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
    int error = 0;       // that read error's errno
    bool ended = false;  // the end of the file was reached
    // Bytes a buffer refill asks for; 0 for the whole buffer. 1 reads a header
    // from a pipe without taking anything past it.
    std::size_t refillLimit = 0;
};

// A stream over an open descriptor, which it owns from now on.
InputStream descriptorInput(int descriptor);

// A stream over bytes in memory, for tests and fuzzing: no descriptor, the
// bytes already buffered, and the end of the file right after them.
InputStream memoryInput(const std::uint8_t* bytes, std::size_t count);

void closeInput(InputStream& stream);

// The next byte, or -1 at the end of the file or on a read error.
int readByte(InputStream& stream);

// The next byte without taking it, or -1 at the end of the file or on a read error.
int peekByte(InputStream& stream);

// Copies the next count bytes into into without taking them; fewer only at
// the end of the file or on a read error. With refillLimit set, reads no
// more than the bytes it lacks.
std::size_t peekBytes(InputStream& stream, std::uint8_t* into, std::size_t count);

// Reads up to count bytes; fewer only at the end of the file or on an error.
std::size_t readBytes(InputStream& stream, std::uint8_t* into, std::size_t count);

} // namespace pixfold
