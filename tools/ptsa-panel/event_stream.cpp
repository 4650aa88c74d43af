#include "event_stream.h"

#include "net.h"

#include "bounds.h"
#include "reply.h"
#include "routes.h"
#include "server.h"

namespace ptsa_panel {

EventStream::EventStream(beast::tcp_stream stream, std::shared_ptr<Context> context)
    : m_context(std::move(context)), m_counted(m_context->streams), m_stream(std::move(stream)), m_heartbeat(m_stream.get_executor()) {}

EventStream::~EventStream() {
    if (m_page) m_context->hub.Leave(m_page);
}

void EventStream::Start(const Reply& head) {
    std::weak_ptr<EventStream> weak = shared_from_this();
    m_page = m_context->hub.Open([weak] {
        if (auto self = weak.lock()) self->Flush();
    });
    // The stream's length is unknown: it ends when the connection does.
    std::string text = "HTTP/1.1 200 OK\r\nContent-Type: " + head.type + "\r\n";
    for (const auto& [name, value] : kCommonHeaders) text += std::string(name) + ": " + value + "\r\n";
    text += "Connection: close\r\n\r\n" + head.body + m_context->hub.Take(*m_page);
    Write(std::move(text));
    WatchClose();
    Heartbeat();
}

// Sends what the page has not been sent, unless a write is under way (its
// end calls this again).
void EventStream::Flush() {
    if (m_writing || m_closed) return;
    std::string text = m_context->hub.Take(*m_page);
    if (!text.empty()) Write(std::move(text));
}

void EventStream::Write(std::string text) {
    m_writing = true;
    m_out = std::move(text);
    m_stream.expires_after(kWriteDeadline);
    net::async_write(m_stream, net::buffer(m_out), [self = shared_from_this()](boost::system::error_code error, std::size_t) {
        self->m_writing = false;
        if (error) return self->Close();
        self->m_stream.expires_never();
        self->m_lastWrite = std::chrono::steady_clock::now();
        self->Flush();
    });
}

void EventStream::Heartbeat() {
    m_heartbeat.expires_after(kHeartbeat);
    m_heartbeat.async_wait([self = shared_from_this()](boost::system::error_code error) {
        if (error || self->m_closed) return;
        if (!self->m_writing && std::chrono::steady_clock::now() - self->m_lastWrite >= kHeartbeat) self->Write(":\n\n");
        self->Heartbeat();
    });
}

// The client sends nothing more on a stream: a read ends when it goes. The
// read is on the socket itself, outside the write deadline.
void EventStream::WatchClose() {
    m_stream.socket().async_read_some(net::buffer(m_discard), [self = shared_from_this()](boost::system::error_code error, std::size_t) {
        if (error) return self->Close();
        self->WatchClose();
    });
}

void EventStream::Close() {
    if (m_closed) return;
    m_closed = true;
    m_context->hub.Leave(m_page);
    m_page.reset();
    m_heartbeat.cancel();
    boost::system::error_code ignored;
    m_stream.socket().close(ignored);
}

}  // namespace ptsa_panel
