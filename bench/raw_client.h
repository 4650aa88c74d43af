// The floor for the benchmarks: a client of the two pipes with nothing but
// blocking system calls, one message in, one message out.
#pragma once

#include <string>

namespace PevraNUV::bench {

class RawClient {
public:
    RawClient();  // connects both pipes of this session
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const;
    // One request and its whole reply.
    bool Exchange(const std::u16string& request, std::u16string& reply);
    // One whole push.
    bool ReceivePush(std::u16string& push);

private:
    struct Pipes;
    Pipes* m_pipes;
};

}  // namespace PevraNUV::bench
