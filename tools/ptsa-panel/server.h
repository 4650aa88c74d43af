// The HTTP server: Boost.Beast on Asio, asynchronous, on the one thread that
// runs the io_context (the panel's I/O thread). No thread per connection or
// stream: an open event stream costs a socket and a few hundred bytes.
#pragma once

#include "net.h"

#include <cstddef>
#include <memory>
#include <string>

#include "guard.h"

namespace ptsa_panel {

class Hub;
class Link;

// What every connection of the server shares. Lives on the I/O thread.
// The hub must outlive the io_context: a stream leaves it when destroyed.
struct Context {
    Hub& hub;
    Link& link;
    Guard guard;
    std::size_t connections = 0;
    std::size_t streams = 0;
};

class Server {
public:
    // Listens on 127.0.0.1:port (0: a free one) and starts accepting on io.
    // Throws std::runtime_error when the port is taken.
    Server(net::io_context& io, Hub& hub, Link& link, int port);
    std::string url() const;

private:
    void Accept();

    tcp::acceptor m_acceptor;
    net::steady_timer m_retry;
    // Shared with every connection: connections outlive the server while
    // the io_context destroys them at the end.
    std::shared_ptr<Context> m_context;
};

}  // namespace ptsa_panel
