// A buffer whose last byte sits right before a page no one may touch: a loop
// that reads or writes one byte past it stops the test with a fault, in every
// build, not only under the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace pixfold::testing_support {

class GuardedBuffer {
  public:
    explicit GuardedBuffer(std::size_t bytes) : size(bytes) {
#ifdef _WIN32
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        page = system.dwPageSize;
#else
        page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
        mapped = (bytes + page - 1) / page * page + page;
#ifdef _WIN32
        base = static_cast<std::uint8_t*>(
            VirtualAlloc(nullptr, mapped, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(base + mapped - page, page, PAGE_NOACCESS, &old);
#else
        base = static_cast<std::uint8_t*>(
            mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base + mapped - page, page, PROT_NONE);
#endif
    }
    ~GuardedBuffer() {
#ifdef _WIN32
        VirtualFree(base, 0, MEM_RELEASE);
#else
        munmap(base, mapped);
#endif
    }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    std::uint8_t* data() {
        return base + mapped - page - size;
    }
    void fill(const std::uint8_t* bytes) {
        if (size != 0) { // an empty vector's data() may be null, which memcpy may not take
            std::memcpy(data(), bytes, size);
        }
    }

  private:
    std::size_t size;
    std::size_t page = 4096;
    std::size_t mapped = 0;
    std::uint8_t* base = nullptr;
};

} // namespace pixfold::testing_support
