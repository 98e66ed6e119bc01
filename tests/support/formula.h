// The conversion written out step by step, kept apart from the library's
// own copy so that a change to either is caught.
#pragma once

#include "core/types.h"

namespace pixfold::testing_support {

inline YCrCbCodes plainSteps(int r, int g, int b, int maxValue) {
    const double rn = r / static_cast<double>(maxValue);
    const double gn = g / static_cast<double>(maxValue);
    const double bn = b / static_cast<double>(maxValue);
    double y = (0.299 * rn + 0.587 * gn) + 0.114 * bn;
    double cr = (0.5 * rn - 0.419 * gn) - 0.081 * bn;
    double cb = (-0.169 * rn - 0.331 * gn) + 0.5 * bn;
    y = y > 1.0 ? 1.0 : y;
    y = y < 0.0 ? 0.0 : y;
    cr = cr > 0.5 ? 0.5 : cr;
    cr = cr < -0.5 ? -0.5 : cr;
    cb = cb > 0.5 ? 0.5 : cb;
    cb = cb < -0.5 ? -0.5 : cb;
    const double yScaled = y * 219.0;
    const double crScaled = cr * 224.0;
    const double cbScaled = cb * 224.0;
    const double yShifted = yScaled + 0.5;
    const double crShifted = crScaled + 0.5;
    const double cbShifted = cbScaled + 0.5;
    return {static_cast<int>(yShifted) + 16, static_cast<int>(crShifted) + 128,
            static_cast<int>(cbShifted) + 128};
}

} // namespace pixfold::testing_support
