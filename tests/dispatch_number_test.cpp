// The number rule every handler reads with.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

#include "dispatch/number.h"

namespace {

struct NumberCase {
    std::u16string text;
    std::optional<std::int32_t> number;
};

class ReadNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ReadNumberTest, ReadsTheLeadingDecimalInt32) {
    EXPECT_EQ(PevraNUV::ReadNumber(GetParam().text), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, ReadNumberTest,
    ::testing::Values(NumberCase{u"0", 0}, NumberCase{u"7", 7}, NumberCase{u"12abc", 12}, NumberCase{u"0x10", 0},
                      NumberCase{u"007", 7}, NumberCase{u"+5", 5}, NumberCase{u"-5", -5},
                      NumberCase{u" \t\r\n\v\f42", 42}, NumberCase{u"3 4", 3}, NumberCase{u"9}", 9},
                      NumberCase{u"2147483647", INT32_MAX}, NumberCase{u"-2147483648", INT32_MIN},
                      NumberCase{u"00000000000000000001", 1}));

INSTANTIATE_TEST_SUITE_P(
    ReadFailures, ReadNumberTest,
    ::testing::Values(NumberCase{u"", std::nullopt}, NumberCase{u" ", std::nullopt}, NumberCase{u"-", std::nullopt},
                      NumberCase{u"+", std::nullopt}, NumberCase{u"- 5", std::nullopt},
                      NumberCase{u"+-5", std::nullopt}, NumberCase{u"abc", std::nullopt},
                      NumberCase{u"x12", std::nullopt}, NumberCase{u"\u00A05", std::nullopt},
                      NumberCase{u"2147483648", std::nullopt}, NumberCase{u"-2147483649", std::nullopt},
                      NumberCase{u"99999999999999999999", std::nullopt},
                      NumberCase{u"4294967295", std::nullopt}));

}  // namespace
