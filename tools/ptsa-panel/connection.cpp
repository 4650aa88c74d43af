#include "connection.h"

#include "net.h"

#include "event_stream.h"
#include "bounds.h"
#include "reply.h"
#include "routes.h"
#include "server.h"

namespace ptsa_panel {
namespace {

// The parts of a request the guard and the routes read.
Request View(http::request<http::string_body>& message) {
    Request request;
    request.method = std::string(message.method_string());
    const std::string target(message.target());
    const auto query = target.find('?');
    request.path = target.substr(0, query);
    if (query != std::string::npos) {
        const std::string parameters = "&" + target.substr(query + 1);
        const auto at = parameters.find("&token=");
        if (at != std::string::npos) request.token = parameters.substr(at + 7, parameters.find('&', at + 7) - (at + 7));
    }
    request.host = std::string(message[http::field::host]);
    if (message.find(http::field::origin) != message.end()) request.origin = std::string(message[http::field::origin]);
    request.contentType = std::string(message[http::field::content_type]);
    request.body = std::move(message.body());
    return request;
}

}  // namespace

Connection::Connection(net::ip::tcp::socket socket, std::shared_ptr<Context> context)
    : m_context(std::move(context)), m_counted(m_context->connections), m_stream(std::move(socket)) {
    // Each answer goes out as soon as it is written: without this, an
    // answer after the first on a kept-alive connection waits for the
    // client's delayed acknowledgement (about 40 ms).
    boost::system::error_code ignored;
    m_stream.socket().set_option(net::ip::tcp::no_delay(true), ignored);
}

void Connection::ReadRequest() {
    m_parser.emplace();
    m_parser->header_limit(kHeaderLimit);
    m_parser->body_limit(kBodyLimit);
    // Waiting for a request costs nothing but a socket; its deadline starts
    // with its first byte. (The parser would wait for a whole header before
    // it says that anything came, so the first bytes are read by hand.)
    if (m_buffer.size() > 0) return OnFirstBytes({});
    m_stream.expires_after(kIdleLimit);
    m_stream.async_read_some(m_buffer.prepare(1024), [self = shared_from_this()](boost::system::error_code error, std::size_t n) {
        self->m_buffer.commit(n);
        self->OnFirstBytes(error);
    });
}

void Connection::OnFirstBytes(boost::system::error_code error) {
    if (error) return OnRequest(error);
    m_stream.expires_after(kRequestDeadline);
    http::async_read(m_stream, m_buffer, *m_parser, [self = shared_from_this()](boost::system::error_code e, std::size_t) {
        self->OnRequest(e);
    });
}

void Connection::OnRequest(boost::system::error_code error) {
    if (error == http::error::header_limit)
        return Answer(Text(431, "refused: the request's header is larger than " + std::to_string(kHeaderLimit) + " bytes"),
                      false);
    if (error == http::error::body_limit)
        return Answer(Text(413, "refused: the request's body is larger than " + std::to_string(kBodyLimit) + " bytes"),
                      false);
    // Gone, idle too long, or too slow to send a request: closed.
    if (error == http::error::end_of_stream || error == beast::error::timeout || error == net::error::eof ||
        error == net::error::connection_reset || error == net::error::operation_aborted)
        return;
    if (error) return Answer(Text(400, "bad request: " + error.message()), false);

    http::request<http::string_body> message = m_parser->release();
    const bool keepAlive = message.keep_alive();
    Served served = Serve(View(message), m_context->guard, m_context->link, m_context->streams);
    if (!served.stream) return Answer(served.reply, keepAlive);
    m_stream.expires_never();
    std::make_shared<EventStream>(std::move(m_stream), m_context)->Start(served.reply);
}

void Connection::Answer(const Reply& reply, bool keepAlive) {
    m_response = {};
    m_response.result(reply.status);
    m_response.set(http::field::content_type, reply.type);
    for (const auto& [name, value] : kCommonHeaders) m_response.set(name, value);
    for (const auto& [name, value] : reply.headers) m_response.set(name, value);
    m_response.body() = reply.body;
    m_response.keep_alive(keepAlive);
    m_response.prepare_payload();
    m_stream.expires_after(kWriteDeadline);
    http::async_write(m_stream, m_response, [self = shared_from_this(), keepAlive](boost::system::error_code error, std::size_t) {
        if (error) return;
        if (keepAlive) return self->ReadRequest();
        self->Linger();
    });
}

void Connection::Linger() {
    boost::system::error_code ignored;
    m_stream.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
    m_stream.expires_after(std::chrono::seconds(1));
    Discard();
}

void Connection::Discard() {
    m_stream.async_read_some(net::buffer(m_discard), [self = shared_from_this()](boost::system::error_code error, std::size_t) {
        if (!error) self->Discard();
    });
}

}  // namespace ptsa_panel
