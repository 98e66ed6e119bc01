#pragma once

#include <cstddef>
#include <cstdint>

namespace pixfold {

// One read(2) or write(2) call, as much as the host takes at once (Windows'
// _read and _write count in an unsigned int, so a call moves 1 GiB at most).
// What it returns, and errno, are the system call's own.
long long readSome(int descriptor, std::uint8_t* into, std::size_t count);
long long writeSome(int descriptor, const std::uint8_t* bytes, std::size_t count);

} // namespace pixfold
