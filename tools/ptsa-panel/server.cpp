#include "server.h"

#include <chrono>
#include <memory>
#include <stdexcept>

#include "connection.h"
#include "bounds.h"

namespace ptsa_panel {
namespace {

// The port is the panel's alone: no second listener may share it, since
// the kernel would split the requests (and their tokens) between the two.
// Windows lets a later socket with SO_REUSEADDR take over a bound port
// unless the first asked for SO_EXCLUSIVEADDRUSE. On POSIX SO_REUSEADDR
// never lets a second socket listen on a listened port; it only lets a
// restarted panel bind while the old one's connections sit in TIME_WAIT.
tcp::acceptor Listen(net::io_context& io, int port) {
    const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port));
    tcp::acceptor acceptor(io);
    acceptor.open(endpoint.protocol());
#ifdef _WIN32
    acceptor.set_option(net::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true));
#else
    acceptor.set_option(tcp::acceptor::reuse_address(true));
#endif
    boost::system::error_code error;
    acceptor.bind(endpoint, error);
    if (error == net::error::address_in_use)
        throw std::runtime_error("127.0.0.1:" + std::to_string(port) + " is taken: another program listens on it");
    if (error) throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + error.message());
    acceptor.listen(net::socket_base::max_listen_connections);
    return acceptor;
}

}  // namespace

Server::Server(net::io_context& io, Hub& hub, Link& link, int port)
    : m_acceptor(Listen(io, port)), m_retry(io),
      m_context(std::make_shared<Context>(Context{hub, link, Guard(m_acceptor.local_endpoint().port())})) {
    Accept();
}

std::string Server::url() const { return "http://" + m_context->guard.host() + "/?token=" + m_context->guard.token(); }

void Server::Accept() {
    m_acceptor.async_accept([this](boost::system::error_code error, tcp::socket socket) {
        if (error == net::error::operation_aborted) return;
        if (error) {
            // Out of descriptors, most likely: try again a little later
            // rather than spin.
            m_retry.expires_after(std::chrono::milliseconds(100));
            m_retry.async_wait([this](boost::system::error_code e) {
                if (!e) Accept();
            });
            return;
        }
        if (m_context->connections < kMaxConnections) std::make_shared<Connection>(std::move(socket), m_context)->Start();
        Accept();
    });
}

}  // namespace ptsa_panel
