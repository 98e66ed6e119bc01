#include "colour/inverse.h"

#include "colour/coefficients.h"

#include <cstdint>

namespace pixfold {

namespace {

// (code - offset) / divisor for every 8-bit code, worked out when compiled:
// the correctly rounded quotient the division gives when run, without its
// cost in the pixels the decode loops send here.
struct Components {
    double at[256];
};

constexpr Components componentsOf(int offset, double divisor) {
    Components table{};
    for (int code = 0; code < 256; ++code) {
        table.at[code] = static_cast<double>(code - offset) / divisor;
    }
    return table;
}

constexpr Components lumaComponents = componentsOf(lumaOffset, lumaRange);
constexpr Components differenceComponents = componentsOf(differenceOffset, differenceRange);

// std::round, inline where the library's is a call: truncation, then a step
// away from zero where the remainder (exact: x - trunc(x)) is a half or
// more. The sums here stay far inside the 32-bit range.
double roundHalfAwayFromZero(double value) {
    const double truncated = static_cast<double>(static_cast<std::int32_t>(value));
    const double remainder = value - truncated;
    return remainder >= 0.5 ? truncated + 1.0 : (remainder <= -0.5 ? truncated - 1.0 : truncated);
}

std::uint8_t toSample(double normalised) {
    const double scaled = roundHalfAwayFromZero(normalised * 255.0);
    return static_cast<std::uint8_t>(scaled < 0.0 ? 0.0 : (scaled > 255.0 ? 255.0 : scaled));
}

} // namespace

RgbPixel codesToRgb(YCrCbCodes codes) {
    const double components[3] = {lumaComponents.at[static_cast<std::uint8_t>(codes.y)],
                                  differenceComponents.at[static_cast<std::uint8_t>(codes.cr)],
                                  differenceComponents.at[static_cast<std::uint8_t>(codes.cb)]};
    double channels[3] = {};
    for (int channel = 0; channel < 3; ++channel) {
        for (int component = 0; component < 3; ++component) {
            channels[channel] += inverseCoefficient(channel, component) * components[component];
        }
    }
    return {toSample(channels[0]), toSample(channels[1]), toSample(channels[2])};
}

} // namespace pixfold
