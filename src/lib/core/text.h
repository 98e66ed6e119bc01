// Reading numbers from untrusted text: the command line and file headers.
#pragma once

#include <cstdint>
#include <string_view>

namespace pixfold {

// The largest value any header field or dimension may hold.
constexpr std::int32_t largestDecimal = 2147483647;

// The C locale's white space: space, tab, newline, vertical tab, form feed,
// carriage return. PPM headers and "%x" use the same set.
constexpr bool isWhitespace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool isDecimalDigit(int c) {
    return c >= '0' && c <= '9';
}

// Adds one decimal digit to value; false, value unchanged, when the result
// would exceed largestDecimal.
constexpr bool appendDecimalDigit(std::int32_t& value, int digitCharacter) {
    const std::int32_t digit = digitCharacter - '0';
    if (value > (largestDecimal - digit) / 10) {
        return false;
    }
    value = value * 10 + digit;
    return true;
}

// A decimal number from 1 to largestDecimal, digits only.
bool readPositiveDecimal(std::string_view text, std::int32_t& value);

// Reads text the way "%x" does: optional leading whitespace, an optional sign,
// an optional 0x or 0X, then hexadecimal digits up to the first other
// character. Only the last 8 digits count; "-" negates modulo 2^32.
// Returns false, leaving value alone, when there is no digit.
bool readHexValue(const char* text, std::uint32_t& value);

} // namespace pixfold
