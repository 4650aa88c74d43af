// The floor of the link: both pipes and nothing else. An exchange is one
// send of the prepared bytes and one receive into a buffer kept for the
// client's life; the reply is judged and cut where it lies. No thread, no
// wait but the receive, no allocation per message.
#pragma once

#include "raw_link.h"
#include "request.h"

namespace PevraNUV::bench {

class LeanClient {
public:
    LeanClient();  // connects both pipes of this session
    bool Connected() const { return m_push.valid() && m_request.valid(); }
    // One request and its reply; value is a read reply's value, in the buffer.
    bool Exchange(const Request& request, Units& value);
    // One whole push, cut into key and value in the buffer.
    bool ReceivePush(Units& key, Units& value);

private:
    // Received into whole: a record longer than this fails (MSG_TRUNC).
    static constexpr std::size_t kBufferBytes = 1 << 16;
    bool Receive(int fd, Units& message);

    Fd m_push, m_request;
    alignas(char16_t) char m_buffer[kBufferBytes];
};

}  // namespace PevraNUV::bench
