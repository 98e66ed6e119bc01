#include "core/text.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace pixfold {
namespace {

TEST(HexValue, ReadsLikeScanfHex) {
    struct Case {
        const char* text;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"ff00ff", 0xFF00FF},
        {"FF00FF", 0xFF00FF},
        {"0x1234", 0x1234},
        {"0XaB", 0xAB},
        {"  \t7", 7},
        {"+10", 0x10},
        {"-1", 0xFFFFFFFFu},
        {"-0x2", 0xFFFFFFFEu},
        {"0", 0},
        {"12zz", 0x12},
        {"123456789", 0x23456789u},
        {"ffffffffff", 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        std::uint32_t value = 0xDEAD;
        EXPECT_TRUE(readHexValue(c.text, value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(HexValue, NoDigitLeavesTheValueAlone) {
    for (const char* text : {"", "zz", "0x", "0X", "#ff00ff", "-", " ", "0xg", "+-1"}) {
        std::uint32_t value = 0xDEAD;
        EXPECT_FALSE(readHexValue(text, value)) << text;
        EXPECT_EQ(value, 0xDEADu) << text;
    }
}

TEST(Decimal, PositiveDecimalsUpToTheLargestField) {
    std::int32_t value = 0;
    EXPECT_TRUE(readPositiveDecimal("2147483647", value));
    EXPECT_EQ(value, 2147483647);
    EXPECT_TRUE(readPositiveDecimal("007", value));
    EXPECT_EQ(value, 7);
    for (const char* text : {"", "0", "2147483648", "99999999999", "-1", "+1", "1x", " 1"}) {
        value = 5;
        EXPECT_FALSE(readPositiveDecimal(text, value)) << text;
    }
}

} // namespace
} // namespace pixfold
