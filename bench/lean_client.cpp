// LeanClient over the two sockets.
#include "lean_client.h"

#include <sys/socket.h>

namespace PevraNUV::bench {

LeanClient::LeanClient()
    : m_push(ConnectPipe(PipeAddress(kPushPipe))), m_request(ConnectPipe(PipeAddress(kRequestPipe))) {}

bool LeanClient::Receive(int fd, Units& message) {
    const ssize_t got = ::recv(fd, m_buffer, kBufferBytes, MSG_TRUNC);
    if (got <= 0 || static_cast<std::size_t>(got) > kBufferBytes) return false;
    message = View(m_buffer, static_cast<std::size_t>(got));
    return true;
}

bool LeanClient::Exchange(const Request& request, Units& value) {
    const ssize_t size = static_cast<ssize_t>(request.bytes.size());
    if (::send(m_request.get(), request.bytes.data(), request.bytes.size(), MSG_NOSIGNAL) != size) return false;
    Units reply;
    return Receive(m_request.get(), reply) && Judge(request.kind, reply, value);
}

bool LeanClient::ReceivePush(Units& key, Units& value) {
    Units push;
    return Receive(m_push.get(), push) && CutPush(push, key, value);
}

}  // namespace PevraNUV::bench
