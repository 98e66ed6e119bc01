// The sentences the C API and the tools both say, each written once: the
// tools put them in their messages, pixfold_strerror returns them.
#pragma once

namespace pixfold {

inline constexpr const char sampleAboveMaximumText[] = "Sample value exceeds maximum value";
inline constexpr const char pathUnavailableText[] =
    "not portable, avx2 or avx512, or not on this processor";

} // namespace pixfold
