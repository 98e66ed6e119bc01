// Every API call with an allocator that fails: the library promises to
// allocate nothing, so each call must succeed as it would otherwise, and not
// one allocation may be asked for while it runs. A program of its own, as it
// replaces the process's operator new (and where the linker can, the
// library's malloc and its kin), and each call here is the first of its kind
// in the process, so that whatever is set up on first use (the path choice,
// e655's table) is set up under the failing allocator too.
#include "pixfold/pixfold.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

std::atomic<bool> failing{false};
std::atomic<int> asked{0};

// True where the allocation must fail.
bool refuse() {
    if (failing.load()) {
        ++asked;
        return true;
    }
    return false;
}

} // namespace

// The library's own calls of malloc and its kin, redirected here by the
// linker (--wrap, tests/CMakeLists.txt): the library is linked statically.
#if defined(PIXFOLD_WRAPS_MALLOC)
// NOLINTBEGIN(bugprone-reserved-identifier): the names the linker's --wrap gives
extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* pointer, std::size_t size);
void* __real_aligned_alloc(std::size_t alignment, std::size_t size);

void* __wrap_malloc(std::size_t size) {
    return refuse() ? nullptr : __real_malloc(size);
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
    return refuse() ? nullptr : __real_calloc(count, size);
}
void* __wrap_realloc(void* pointer, std::size_t size) {
    return refuse() ? nullptr : __real_realloc(pointer, size);
}
void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size) {
    return refuse() ? nullptr : __real_aligned_alloc(alignment, size);
}
}
// NOLINTEND(bugprone-reserved-identifier)
#endif

void* operator new(std::size_t size) {
    void* pointer = refuse() ? nullptr : std::malloc(size == 0 ? 1 : size);
    if (pointer == nullptr) {
        throw std::bad_alloc();
    }
    return pointer;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return refuse() ? nullptr : std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* pointer) noexcept {
    std::free(pointer);
}
void operator delete[](void* pointer) noexcept {
    std::free(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    std::free(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
    std::free(pointer);
}

namespace {

// Runs call with every allocation failing; the number of allocations it asked for.
template <class Call> int allocationsOf(Call&& call) {
    asked = 0;
    failing = true;
    call();
    failing = false;
    return asked.load();
}

TEST(FailingAllocator, NoCallAllocates) {
    std::vector<std::uint8_t> pixels(std::size_t{64} * 4 * 2);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::vector<std::uint8_t> records(std::size_t{64} * 2 * 4);
    std::vector<std::uint8_t> alpha(std::size_t{64} * 2 * 4);
    std::vector<std::uint8_t> out(std::size_t{64} * 2 * 4);
    std::vector<std::uint8_t> key(std::size_t{64} * 2);
    pixfold_settings settings;
    pixfold_error errors[16] = {};
    size_t bytes = 0;
    const char* texts[4] = {};
    pixfold_format found = PIXFOLD_FORMAT_E655;
    // The first call of the process: the path is chosen here.
    EXPECT_EQ(allocationsOf([&] {
                  texts[0] = pixfold_encode_path();
                  texts[1] = pixfold_version();
                  texts[2] = pixfold_strerror(PIXFOLD_ERROR_OVERLAP);
                  texts[3] = pixfold_format_name(PIXFOLD_FORMAT_E655Z);
                  pixfold_settings_init(&settings);
                  errors[0] = pixfold_format_from_name("e888Alpha", &found);
                  errors[1] = pixfold_records_size(PIXFOLD_FORMAT_E655, 64, 2, &bytes);
                  errors[2] = pixfold_alpha_size(PIXFOLD_FORMAT_E888ALPHA, 64, 2, &bytes);
                  errors[3] = pixfold_pixels_size(PIXFOLD_LAYOUT_RGBA64, 64, 2, 0, &bytes);
                  bytes += pixfold_record_size(PIXFOLD_FORMAT_E888) +
                           pixfold_layout_pixel_size(PIXFOLD_LAYOUT_BGR24);
              }),
              0);
    settings.format = PIXFOLD_FORMAT_E888ALPHA;
    settings.key_transparent = 1;
    EXPECT_EQ(allocationsOf([&] {
                  errors[4] = pixfold_encode(pixels.data(), 256, pixels.size(),
                                             PIXFOLD_LAYOUT_RGBA32, records.data(), records.size(),
                                             alpha.data(), alpha.size(), 64, 2, 255, &settings);
                  errors[5] = pixfold_encode(pixels.data(), 512, pixels.size(),
                                             PIXFOLD_LAYOUT_RGBA64, records.data(), records.size(),
                                             alpha.data(), alpha.size(), 64, 1, 65535, &settings);
              }),
              0);
    settings.format = PIXFOLD_FORMAT_E655Z;
    settings.key_transparent = 0;
    // The first e655 decode sets up e655's table on the portable path.
    EXPECT_EQ(
        allocationsOf([&] {
            errors[6] = pixfold_encode(pixels.data(), 64, 128, PIXFOLD_LAYOUT_GRAY8, records.data(),
                                       records.size(), nullptr, 0, 64, 2, 255, &settings);
            errors[7] = pixfold_decode_to(records.data(), records.size(), nullptr, 0,
                                          PIXFOLD_FORMAT_E655Z, out.data(), PIXFOLD_LAYOUT_BGRA32,
                                          256, out.size(), key.data(), 64, key.size(), 64, 2, 0, 0);
            errors[8] =
                pixfold_decode(records.data(), records.size(), nullptr, 0, PIXFOLD_FORMAT_E655,
                               out.data(), 192, out.size(), nullptr, 0, 0, 64, 2, 1, 5);
            errors[9] = pixfold_decode(nullptr, 0, nullptr, 0, PIXFOLD_FORMAT_E888, out.data(), 192,
                                       out.size(), nullptr, 0, 0, 64, 2, 0,
                                       0); // a failure, too
        }),
        0);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(errors[i], PIXFOLD_OK) << i;
    }
    EXPECT_EQ(errors[9], PIXFOLD_ERROR_NULL_POINTER);
    EXPECT_NE(texts[0], nullptr);
    // The allocator does fail while failing is set.
    EXPECT_EQ(allocationsOf([] { EXPECT_THROW(static_cast<void>(new int(1)), std::bad_alloc); }),
              1);
}

} // namespace
