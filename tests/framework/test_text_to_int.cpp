#include <gtest/gtest.h>

#include <climits>

#include "framework/text_to_int.h"

namespace {

// What the entry fields accept; the refusals the operator sees are covered with the
// data exchange.
TEST(ParseWholeInt, TakesBlanksAndOneSignAroundAWholeInt) {
    const std::pair<const char*, int> accepted[] = {
        {"\t300\r\n", 300}, {"+7", 7}, {"-2147483648", INT_MIN}, {"2147483647", INT_MAX}};
    for (const auto& [text, expected] : accepted) {
        int value = 0;
        EXPECT_TRUE(ParseWholeInt(QString::fromLatin1(text), value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
    for (const char* text : {"   ", "1 2", "1.5", "-", "+-3", "0x10", "2147483648", "-2147483649",
                             "999999999999999999999999999999"}) {
        int value = 12345;
        EXPECT_FALSE(ParseWholeInt(QString::fromLatin1(text), value)) << text;
        EXPECT_EQ(value, 12345) << text;
    }
}

TEST(LeadingIntLikeAtol, ReadsDigitsUpToTheFirstOtherCharacterAndSaturates) {
    const std::pair<const char*, int> cases[] = {
        {"\t\n+19200x", 19200},
        {"- 5", 0},
        {"--5", 0},
        {"baud 9600", 0},
        {"007", 7},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"123456789012345678901234567890", INT_MAX},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(LeadingIntLikeAtol(QString::fromLatin1(text)), expected) << text;
    }
}

}  // namespace
