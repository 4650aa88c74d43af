// One client connection: reads requests within the limits (bounds.h),
// answers them, keeps the connection alive between them, or hands it over
// to an event stream.
#pragma once

#include "net.h"

#include <array>
#include <memory>
#include <optional>

namespace ptsa_panel {

struct Context;
struct Reply;

// Counts a connection or a stream for as long as it lives.
class Counted {
public:
    explicit Counted(std::size_t& count) : m_count(count) { ++m_count; }
    ~Counted() { --m_count; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

private:
    std::size_t& m_count;
};

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, std::shared_ptr<Context> context);
    void Start() { ReadRequest(); }

private:
    void ReadRequest();
    void OnFirstBytes(boost::system::error_code error);
    void OnRequest(boost::system::error_code error);
    // Writes an answer; keepAlive false closes the connection after it.
    void Answer(const Reply& reply, bool keepAlive);
    // After a refusal: stops sending, takes what the client still sends
    // for a moment, then closes (so the refusal is not lost to a reset).
    void Linger();
    void Discard();

    std::shared_ptr<Context> m_context;
    Counted m_counted;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    http::response<http::string_body> m_response;
    std::array<char, 1024> m_discard;
};

}  // namespace ptsa_panel
