#include "core/system_io.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace pixfold {

#ifdef _WIN32
namespace {
unsigned oneCall(std::size_t count) {
    return count > (1u << 30) ? (1u << 30) : static_cast<unsigned>(count);
}
} // namespace

long long readSome(int descriptor, std::uint8_t* into, std::size_t count) {
    return _read(descriptor, into, oneCall(count));
}

long long writeSome(int descriptor, const std::uint8_t* bytes, std::size_t count) {
    return _write(descriptor, bytes, oneCall(count));
}
#else
long long readSome(int descriptor, std::uint8_t* into, std::size_t count) {
    return ::read(descriptor, into, count);
}

long long writeSome(int descriptor, const std::uint8_t* bytes, std::size_t count) {
    return ::write(descriptor, bytes, count);
}
#endif

} // namespace pixfold
