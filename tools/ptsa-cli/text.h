// Conversions between the library's UTF-16 texts and the UTF-8 of the
// command line and the output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "PTabletSettingsAPI.h"

namespace ptsa_cli {

// Reads units up to the first zero, at most capacity of them. An unpaired
// surrogate becomes U+FFFD, so the result is always valid UTF-8.
std::string ToUtf8(const PevraNUV_Char* units, std::size_t capacity);

// Nothing when text is not valid UTF-8.
std::optional<std::u16string> ToUtf16(const std::string& text);

}  // namespace ptsa_cli
