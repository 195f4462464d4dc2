#include "text/textkit.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using text::readDecimal;

TEST(TextKit, ReadDecimalReadsAsPercentD) {
    EXPECT_EQ(readDecimal("12"), 12);
    EXPECT_EQ(readDecimal(" \t\v\f\r\n-3"), -3);
    EXPECT_EQ(readDecimal("+7"), 7);
    EXPECT_EQ(readDecimal("12abc"), 12);
    EXPECT_EQ(readDecimal("0x10"), 0);
    EXPECT_EQ(readDecimal("-0"), 0);
    // No digit where one is due: no value.
    EXPECT_EQ(readDecimal(""), std::nullopt);
    EXPECT_EQ(readDecimal("  "), std::nullopt);
    EXPECT_EQ(readDecimal("x1"), std::nullopt);
    EXPECT_EQ(readDecimal("-"), std::nullopt);
    EXPECT_EQ(readDecimal("+ 1"), std::nullopt);
    EXPECT_EQ(readDecimal("--1"), std::nullopt);
}

TEST(TextKit, ReadDecimalClampsInsteadOfWrapping) {
    EXPECT_EQ(readDecimal("2147483647"), INT_MAX);
    EXPECT_EQ(readDecimal("-2147483648"), INT_MIN);
    EXPECT_EQ(readDecimal("2147483648"), INT_MAX);
    EXPECT_EQ(readDecimal("-2147483649"), INT_MIN);
    // 2^32 + 1 would wrap to 1, a set flag.
    EXPECT_EQ(readDecimal("4294967297"), INT_MAX);
    EXPECT_EQ(readDecimal(std::string(400, '9')), INT_MAX);
    EXPECT_EQ(readDecimal("-" + std::string(400, '9') + "x"), INT_MIN);
}

TEST(TextKit, TrimsTheCWhiteSpaceSetOnly) {
    EXPECT_EQ(text::trimmed(" \t\n\v\f\rA B\r\n"), "A B");
    EXPECT_EQ(text::trimmed(" \t "), "");
    // Other control bytes and 8-bit blanks stay.
    EXPECT_EQ(text::trimmed("\x1c" "A\xA0"), "\x1c" "A\xA0");
    std::string s = "  key = v  ";
    text::trim(s);
    EXPECT_EQ(s, "key = v");
}

TEST(TextKit, ComparesAsciiWithoutCase) {
    EXPECT_TRUE(text::equalsNoCase("Windows", "WINDOWS"));
    EXPECT_FALSE(text::equalsNoCase("WINDOWS", "WINDOWS "));
    // Only ASCII letters fold.
    EXPECT_FALSE(text::equalsNoCase("\xE4", "\xC4"));
    EXPECT_TRUE(text::startsWithNoCase("condition1=x", "CONDITION"));
    EXPECT_FALSE(text::startsWithNoCase("COND", "CONDITION"));
    // Ordering after folding to upper case: the first differing byte decides.
    EXPECT_LT(text::compareNoCase("10", "9"), 0);
    EXPECT_EQ(text::compareNoCase("abc", "ABC"), 0);
    EXPECT_LT(text::compareNoCase("AB", "abc"), 0);
    EXPECT_GT(text::compareNoCase("_", "a"), 0); // '_' (0x5F) is above 'A' (0x41)
    EXPECT_GT(text::compareNoCase("\xE9", "z"), 0); // bytes compare unsigned
}

TEST(TextKit, JoinsPathsWithOneBackslash) {
    EXPECT_EQ(text::joinPath("C:\\TAVRO", "BIN"), "C:\\TAVRO\\BIN");
    EXPECT_EQ(text::joinPath("C:\\", "BIN"), "C:\\BIN");
    EXPECT_EQ(text::joinPath("", "BIN"), "\\BIN");
}
