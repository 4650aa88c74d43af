// One page's event stream (Server-Sent Events) on a connection handed over
// by Connection: the hub's events as they come, a comment line when idle,
// closed when the client goes or stops reading.
#pragma once

#include "net.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>

#include "connection.h"
#include "hub.h"

namespace ptsa_panel {

struct Context;
struct Reply;

class EventStream : public std::enable_shared_from_this<EventStream> {
public:
    EventStream(beast::tcp_stream stream, std::shared_ptr<Context> context);
    ~EventStream();
    // Writes head (the answer's status and headers, and its first body
    // text), then the hub's current state.
    void Start(const Reply& head);

private:
    void Flush();
    void Write(std::string text);
    void Heartbeat();
    void WatchClose();
    void Close();

    std::shared_ptr<Context> m_context;
    Counted m_counted;
    beast::tcp_stream m_stream;
    net::steady_timer m_heartbeat;
    std::shared_ptr<Hub::Page> m_page;
    std::string m_out;
    bool m_writing = false;
    bool m_closed = false;
    std::chrono::steady_clock::time_point m_lastWrite;
    std::array<char, 256> m_discard;
};

}  // namespace ptsa_panel
