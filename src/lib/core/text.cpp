#include "core/text.h"

namespace pixfold {

namespace {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

bool readPositiveDecimal(std::string_view text, std::int32_t& value) {
    if (text.empty()) {
        return false;
    }
    std::int32_t result = 0;
    for (const char c : text) {
        if (!isDecimalDigit(c) || !appendDecimalDigit(result, c)) {
            return false;
        }
    }
    value = result;
    return result > 0;
}

bool readHexValue(const char* text, std::uint32_t& value) {
    const char* cursor = text;
    while (isWhitespace(*cursor)) {
        ++cursor;
    }
    bool negative = false;
    if (*cursor == '+' || *cursor == '-') {
        negative = *cursor == '-';
        ++cursor;
    }
    if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) {
        cursor += 2;
    }
    if (hexDigitValue(*cursor) < 0) {
        return false;
    }
    // No overflow test, as "%x" has none: the shift drops all but the last 8 digits.
    std::uint32_t result = 0;
    for (; hexDigitValue(*cursor) >= 0; ++cursor) {
        result = (result << 4) | static_cast<std::uint32_t>(hexDigitValue(*cursor));
    }
    value = negative ? 0u - result : result;
    return true;
}

} // namespace pixfold
