// The one rule by which the handlers read numbers out of a received text.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include "PTabletSettingsAPI.h"

namespace PevraNUV {

// A decimal int32 from the start of the text: leading white space skipped,
// an optional sign, then at least one digit; reading stops at the first
// character that is not a digit ("12abc" reads 12, "0x10" reads 0). No
// digits, or a number outside int32, is a read failure: nullopt.
inline std::optional<std::int32_t> ReadNumber(std::u16string_view text) {
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;  // the magnitude of INT32_MIN
    const auto isSpace = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    const auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };

    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    if (i == text.size() || !isDigit(text[i])) return std::nullopt;

    std::int64_t magnitude = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude > kLimit) return std::nullopt;
    }
    if (!negative && magnitude == kLimit) return std::nullopt;
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

// A zoom map: the text split at every brace and comma, empty tokens
// dropped ("1,2,3,4" and "{1,,2,3,4}" read as "{1,2,3,4}"); exactly four
// tokens, each a number by the rule above, or nullopt.
inline std::optional<PevraNUV_ZoomMap> ReadZoomMap(std::u16string_view text) {
    std::int32_t numbers[4];
    std::size_t count = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of(u"{,}"), text.size());
        if (end > 0) {
            if (count == 4) return std::nullopt;
            const std::optional<std::int32_t> number = ReadNumber(text.substr(0, end));
            if (!number) return std::nullopt;
            numbers[count++] = *number;
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    if (count != 4) return std::nullopt;
    return PevraNUV_ZoomMap{numbers[0], numbers[1], numbers[2], numbers[3]};
}

}  // namespace PevraNUV
