// The requests a setting travels in: composed from its key and value text,
// inserted verbatim (nothing is escaped). Pure functions over UTF-16 strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace PevraNUV::wire {

inline const std::u16string kHandshakeRequest = uR"({"Connected":"?"})";
inline const std::u16string kReadRequestOpen = uR"({"GetVal":")";

// {"GetVal":"KEY"}
std::u16string ComposeReadRequest(std::u16string_view key);
// {"KEY":"VALUE"}
std::u16string ComposeWriteRequest(std::u16string_view key, std::u16string_view value);
// {"KEY":"{A,B,C,D}"}
std::u16string ComposeZoomMapWrite(std::u16string_view key, std::int32_t a, std::int32_t b, std::int32_t c,
                                   std::int32_t d);

// Plain decimal text, no leading zeros; "-" before a negative number.
std::u16string FormatUnsigned(std::uint32_t number);
std::u16string FormatSigned(std::int32_t number);

}  // namespace PevraNUV::wire
