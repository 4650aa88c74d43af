// The host-facing text fields: fixed arrays of UTF-16 units, always
// terminated by a zero unit inside the array.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "PTabletSettingsAPI.h"

namespace PevraNUV {

// What a field of N units holds for a text: the text up to its first zero
// unit, cut to N - 1 units so that the terminating zero always fits. A longer
// text is truncated, never written past the field.
template <std::size_t N>
std::u16string_view FieldText(std::u16string_view text) {
    return text.substr(0, std::min(text.find(u'\0'), N - 1));
}

// Stores a text in a field and fills the rest of the field with zeros.
template <std::size_t N>
void StoreText(PevraNUV_Char (&field)[N], std::u16string_view text) {
    std::u16string_view stored = FieldText<N>(text);
    std::fill(std::copy(stored.begin(), stored.end(), field), field + N, PevraNUV_Char{0});
}

// Whether the field already holds what StoreText would store: compared unit
// by unit up to the first zero unit, never past the field.
template <std::size_t N>
bool HoldsText(const PevraNUV_Char (&field)[N], std::u16string_view text) {
    std::u16string_view stored = FieldText<N>(text);
    for (std::size_t i = 0; i < N; ++i) {
        const char16_t held = static_cast<char16_t>(field[i]);
        const char16_t wanted = i < stored.size() ? stored[i] : u'\0';
        if (held != wanted) return false;
        if (held == u'\0') return true;
    }
    return true;
}

}  // namespace PevraNUV
