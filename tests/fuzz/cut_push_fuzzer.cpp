// Cutting a push into key and value: any text, any length.
#include "client/messages.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string push = PevraNUV::fuzz::Units(data, size);
    std::u16string key, value;
    if (PevraNUV::wire::CutPush(push, key, value)) {
        // A cut never yields more than the text held.
        if (key.size() + value.size() > push.size()) __builtin_trap();
    }
    return 0;
}
