#include "netpbm/input_stream.h"

#include "core/system_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace pixfold {

namespace {

// Header reads refill this much at a time.
constexpr std::size_t headerBufferBytes = 16384;

// One read into into, resuming after an interruption; notes the end and errors.
std::size_t readOnce(InputStream& stream, std::uint8_t* into, std::size_t count) {
    while (true) {
        const long long got = readSome(stream.descriptor, into, count);
        if (got > 0) {
            return static_cast<std::size_t>(got);
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            stream.failed = true;
            stream.error = errno;
        }
        stream.ended = true;
        return 0;
    }
}

} // namespace

InputStream descriptorInput(int descriptor) {
    InputStream stream;
    stream.descriptor = descriptor;
    stream.buffer.resize(headerBufferBytes);
    return stream;
}

InputStream memoryInput(const std::uint8_t* bytes, std::size_t count) {
    InputStream stream;
    stream.buffer.assign(bytes, bytes + count);
    stream.end = count;
    stream.ended = true;
    return stream;
}

void closeInput(InputStream& stream) {
    if (stream.descriptor >= 0) {
#ifdef _WIN32
        _close(stream.descriptor);
#else
        ::close(stream.descriptor);
#endif
        stream.descriptor = -1;
    }
}

int readByte(InputStream& stream) {
    if (stream.position == stream.end) {
        if (stream.ended) {
            return -1;
        }
        stream.position = 0;
        const std::size_t size = stream.buffer.size();
        const std::size_t wanted =
            stream.refillLimit == 0 ? size : std::min(size, stream.refillLimit);
        stream.end = readOnce(stream, stream.buffer.data(), wanted);
        if (stream.end == 0) {
            return -1;
        }
    }
    return stream.buffer[stream.position++];
}

int peekByte(InputStream& stream) {
    const int c = readByte(stream);
    if (c >= 0) {
        --stream.position; // readByte always hands out a byte of the buffer
    }
    return c;
}

std::size_t peekBytes(InputStream& stream, std::uint8_t* into, std::size_t count) {
    if (stream.end - stream.position < count && !stream.ended) {
        // The bytes held so far moved to the front, the rest read behind them.
        std::memmove(stream.buffer.data(), stream.buffer.data() + stream.position,
                     stream.end - stream.position);
        stream.end -= stream.position;
        stream.position = 0;
        stream.buffer.resize(std::max(stream.buffer.size(), count));
        while (stream.end < count && !stream.ended) {
            const std::size_t room = stream.buffer.size() - stream.end;
            const std::size_t wanted =
                stream.refillLimit == 0 ? room : std::min(room, count - stream.end);
            stream.end += readOnce(stream, stream.buffer.data() + stream.end, wanted);
        }
    }
    const std::size_t held = std::min(count, stream.end - stream.position);
    std::memcpy(into, stream.buffer.data() + stream.position, held);
    return held;
}

std::size_t readBytes(InputStream& stream, std::uint8_t* into, std::size_t count) {
    const std::size_t buffered = std::min(count, stream.end - stream.position);
    std::memcpy(into, stream.buffer.data() + stream.position, buffered);
    stream.position += buffered;
    std::size_t done = buffered;
    while (done < count && !stream.ended) {
        done += readOnce(stream, into + done, count - done);
    }
    return done;
}

} // namespace pixfold
