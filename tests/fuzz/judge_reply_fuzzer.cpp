// Judging a reply against each kind of request.
#include "client/messages.h"
#include "fuzz_input.h"

namespace wire = PevraNUV::wire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const std::u16string requests[] = {
        wire::kHandshakeRequest,
        wire::ComposeReadRequest(uR"(ComponentsDriver\\ServiceVersion)"),
        wire::ComposeWriteRequest(uR"(ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity)", u"7"),
    };
    const std::u16string& request = requests[data[0] % 3];
    const std::u16string reply = PevraNUV::fuzz::Units(data + 1, size - 1);
    const wire::Judgement judgement = wire::JudgeReply(request, reply);
    if (judgement.ok && reply.empty()) __builtin_trap();  // an empty reply always fails
    if (judgement.hasValue && judgement.value.size() > reply.size()) __builtin_trap();
    return 0;
}
