// The pixel loops the library is built with, which of them this processor
// runs, and the one every entry uses: the encoder, the decoder, the Netpbm
// reader's sample spread, the C API and both tools all ask here.
//
// The processor is asked once and PIXFOLD_FORCE_PATH read once, on the first
// call from any thread; the answers are kept and never change.
#pragma once

#include "core/status.h"

#include <cstddef>
#include <iterator>
#include <string_view>

// The x86 loops exist for x86 compilers that take per-function targets.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define PIXFOLD_HAS_X86_PATHS 1
#else
#define PIXFOLD_HAS_X86_PATHS 0
#endif

namespace pixfold {

// portable: plain C++ that compilers vectorise for the target (SSE2, NEON,
// ...); avx2: AVX2 with FMA (and SSSE3); avx512: AVX-512 F, BW, VL and VBMI.
// Every path gives the same bytes.
enum class Path { portable, avx2, avx512 };

inline constexpr Path allPaths[] = {Path::portable, Path::avx2, Path::avx512};

// "portable", "avx2", "avx512": the names PIXFOLD_FORCE_PATH takes.
std::string_view pathName(Path path);

// Whether this processor runs the path; portable always.
bool pathAvailable(Path path);

// The path runs take: PIXFOLD_FORCE_PATH's when it is set (and not empty),
// else the fastest available. When the variable names no path this processor
// runs, usable is false and every entry refuses to run.
struct PathChoice {
    Path path = Path::portable;
    bool usable = true;
    char forcedName[32] = {}; // PIXFOLD_FORCE_PATH as set (cut to 31 bytes), for messages
};

const PathChoice& pathChoice();

// Status::pathUnavailable when PIXFOLD_FORCE_PATH names no path this
// processor runs: every entry then refuses to run.
Status pathStatus();

// The path a plan takes by default: the choice when usable, else portable
// (the entries have refused to run by then; this keeps tests and plans safe).
Path activePath();

// The path a caller asked for where this processor runs it, else portable.
Path runnablePath(Path wanted);

} // namespace pixfold
