// The tests that visit every colour, code or sum take a long time under an
// emulator. There .ci/run sets PIXFOLD_TEST_SAMPLED, and they visit every
// 17th value of their outer loop instead; every value still runs natively,
// and every colour runs through the tools on every host (.ci/run compares
// their records with the native build's).
#pragma once

#include <cstdlib>

namespace pixfold::testing_support {

inline int sampleStride() {
    static const int stride = std::getenv("PIXFOLD_TEST_SAMPLED") != nullptr ? 17 : 1;
    return stride;
}

} // namespace pixfold::testing_support
