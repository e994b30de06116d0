#include "platform/numbers.h"

#include "tests/CommaLocale.h"

#include <gtest/gtest.h>

TEST(Numbers, ParseAndFormatIgnoreADecimalCommaLocale) {
    zarntest::CommaLocale comma;
    ASSERT_TRUE(comma.Active()) << "de_DE.UTF-8 could not be generated (package locales)";
    EXPECT_EQ(numbers::ParseDouble("1.5"), 1.5);
    EXPECT_EQ(numbers::ParseDouble("2.6"), 2.6);
    EXPECT_EQ(numbers::ParseDouble("-0.25"), -0.25);
    EXPECT_EQ(numbers::ParseDouble("+4"), 4.0);
    EXPECT_EQ(numbers::ParseDouble("1e3"), 1000.0);
    // The whole text is the number, and a comma is never a decimal point.
    for (const char* bad : {"", "2,6", "1.5x", " 1.5", "1.5 ", "+", "+-1", "--1", "x"})
        EXPECT_FALSE(numbers::ParseDouble(bad)) << bad;
    EXPECT_EQ(numbers::FormatFixed(2.6, 1), "2.6");
    EXPECT_EQ(numbers::FormatFixed(13.0 / 4.0, 2), "3.25");
    EXPECT_EQ(numbers::FormatFixed(7.96, 1), "8.0");
}
