// Reading the pairs of an option-list value.
#pragma once

#include <cstddef>
#include <string_view>

namespace PevraNUV {

// Calls visit(first, second) for each {"first":"second"} of an option-list
// value. The first character never begins a pair, and the character right
// after a pair's closing brace is skipped, so pairs need a separator. A
// malformed tail ends the reading; the pairs before it count.
template <typename Visit>
void ReadPairs(std::u16string_view value, Visit visit) {
    constexpr std::u16string_view kOpen = u"{\"", kMiddle = u"\":\"", kClose = u"\"}";
    std::size_t from = 1;
    while (true) {
        const std::size_t open = value.find(kOpen, from);
        if (open == std::u16string_view::npos) return;
        const std::size_t first = open + kOpen.size();
        const std::size_t middle = value.find(kMiddle, first);
        if (middle == std::u16string_view::npos) return;
        const std::size_t second = middle + kMiddle.size();
        const std::size_t close = value.find(kClose, second);
        if (close == std::u16string_view::npos) return;
        visit(value.substr(first, middle - first), value.substr(second, close - second));
        from = close + kClose.size() + 1;
    }
}

}  // namespace PevraNUV
