// Cutting a push into key and value: any text, any length.
#include "client/messages.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string push = PevraNUV::fuzz::Units(data, size);
    std::u16string_view key, value;
    if (PevraNUV::wire::CutPush(push, key, value)) {
        // What is cut lies within the text.
        const auto within = [&](std::u16string_view part) {
            return part.empty() || (part.data() >= push.data() && part.data() + part.size() <= push.data() + push.size());
        };
        if (!within(key) || !within(value)) __builtin_trap();
    }
    return 0;
}
