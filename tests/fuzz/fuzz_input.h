// Turns fuzzer bytes into what the library receives: UTF-16LE units, an odd
// last byte dropped, as the sync thread does with a piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace PevraNUV::fuzz {

inline std::u16string Units(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    return text;
}

}  // namespace PevraNUV::fuzz
