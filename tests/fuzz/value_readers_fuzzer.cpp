// The readers of received values: the number rule, the zoom map, and the
// pairs of an option list. The first byte chooses the reader.
#include "dispatch/number.h"
#include "dispatch/option_pairs.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::u16string text = PevraNUV::fuzz::Units(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        if (const auto number = PevraNUV::ReadNumber(text)) {
            // A number read back from its own text reads the same.
            const std::string decimal = std::to_string(*number);
            const std::u16string again = u"  " + std::u16string(decimal.begin(), decimal.end());
            if (PevraNUV::ReadNumber(again) != number) __builtin_trap();
        }
        break;
    case 1:
        PevraNUV::ReadZoomMap(text);
        break;
    case 2: {
        std::size_t units = 0;
        PevraNUV::ReadPairs(text, [&](std::u16string_view first, std::u16string_view second) {
            units += first.size() + second.size();
        });
        if (units > text.size()) __builtin_trap();  // pairs are views into the text
        break;
    }
    }
    return 0;
}
