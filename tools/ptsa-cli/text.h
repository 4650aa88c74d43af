// Conversions between the library's UTF-16 texts and the UTF-8 of the
// command line and the output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ptsa_cli {

// An unpaired surrogate becomes U+FFFD, so the result is always valid UTF-8.
std::string ToUtf8(std::u16string_view units);

// Nothing when text is not valid UTF-8.
std::optional<std::u16string> ToUtf16(const std::string& text);

}  // namespace ptsa_cli
