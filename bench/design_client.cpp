// DesignClient: one thread, one poll per pass, one exchange or one push.
#include "design_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace PevraNUV::bench {

namespace {

constexpr int kReplyTimeoutMs = 1000;

void Signal(const Fd& event) {
    const std::uint64_t one = 1;
    ssize_t ignored = ::write(event.get(), &one, sizeof one);
    (void)ignored;
}

void Drain(const Fd& event) {
    std::uint64_t count;
    ssize_t ignored = ::read(event.get(), &count, sizeof count);
    (void)ignored;
}

}  // namespace

DesignClient::DesignClient(const DesignHost& host) : m_host(host) {
    const sockaddr_un pushAddress = PipeAddress(kPushPipe);
    if (!DirectoryTrusted() || !ProbePipe(pushAddress)) return;
    m_push = ConnectPipe(pushAddress);
    m_request = ConnectPipe(PipeAddress(kRequestPipe));
    if (!m_push.valid() || !m_request.valid() || !PeerTrusted(m_push.get()) || !PeerTrusted(m_request.get())) return;
    // The time limit of a reply, set once: the receive itself waits.
    const timeval limit{kReplyTimeoutMs / 1000, (kReplyTimeoutMs % 1000) * 1000};
    if (::setsockopt(m_request.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return;
    m_thread = std::thread([this] { Run(); });
}

DesignClient::~DesignClient() {
    if (!m_thread.joinable()) return;
    Signal(m_stopEvent);
    m_thread.join();
}

void DesignClient::Enqueue(const std::vector<Request>& batch) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (const Request& request : batch) m_queue.push_back(&request);
    Signal(m_sendEvent);
}

void DesignClient::Run() {
    // A stop goes before sending, sending before a push.
    pollfd waits[3] = {{m_stopEvent.get(), POLLIN, 0}, {m_sendEvent.get(), POLLIN, 0}, {m_push.get(), POLLIN, 0}};
    for (;;) {
        if (::poll(waits, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waits[0].revents) return;
        if (waits[1].revents) {
            if (!SendNext()) return;
            continue;
        }
        if (waits[2].revents && !ReceivePush()) return;
    }
}

bool DesignClient::Receive(int fd, Units& message) {
    const ssize_t got = ::recv(fd, m_buffer, kBufferBytes, MSG_TRUNC);
    if (got <= 0 || static_cast<std::size_t>(got) > kBufferBytes) return false;
    message = View(m_buffer, static_cast<std::size_t>(got));
    return true;
}

bool DesignClient::SendNext() {
    const Request* request;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (m_queue.empty()) {
            Drain(m_sendEvent);
            return true;
        }
        request = m_queue.front();
        m_queue.pop_front();
        if (m_queue.empty()) Drain(m_sendEvent);
    }
    const ssize_t size = static_cast<ssize_t>(request->bytes.size());
    if (::send(m_request.get(), request->bytes.data(), request->bytes.size(), MSG_NOSIGNAL) != size) return false;
    Units reply, value;
    if (!Receive(m_request.get(), reply) || !Judge(request->kind, reply, value)) return false;
    if (request->kind == Kind::Read) {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_host.onReply(m_host.context, value);
    }
    return true;
}

bool DesignClient::ReceivePush() {
    Units push, key, value;
    if (!Receive(m_push.get(), push)) return false;
    if (!CutPush(push, key, value)) return true;  // dropped, as a text that cannot be cut
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_host.onPush(m_host.context, key, value);
    return true;
}

}  // namespace PevraNUV::bench
