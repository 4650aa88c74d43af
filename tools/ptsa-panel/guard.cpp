#include "guard.h"

#include <random>

namespace ptsa_panel {
namespace {

// Compares in a time that does not depend on where the texts differ.
bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

// application/json, with or without parameters (charset).
bool IsJson(const std::string& type) {
    const std::string json = "application/json";
    return type.compare(0, json.size(), json) == 0 && (type.size() == json.size() || type[json.size()] == ';' ||
                                                       type[json.size()] == ' ');
}

}  // namespace

std::string RandomHex(int bits) {
    std::random_device random;
    std::string hex;
    const char* const digits = "0123456789abcdef";
    for (int i = 0; i < bits / 16; ++i) {
        const unsigned word = random() & 0xFFFF;
        for (int shift = 12; shift >= 0; shift -= 4) hex += digits[(word >> shift) & 0xF];
    }
    return hex;
}

Guard::Guard(int port)
    : m_token(RandomHex(128)), m_host("127.0.0.1:" + std::to_string(port)), m_origin("http://" + m_host) {}

std::optional<Reply> Guard::Check(const Request& request) const {
    // 421: the request names another server than this one (a foreign page
    // reaching 127.0.0.1 under a name of its own).
    if (request.host != m_host) return Text(421, "refused: the Host must be " + m_host);
    // A browser names the page that sent a request; curl and scripts name
    // none and show the token instead.
    if (request.origin && *request.origin != m_origin)
        return Text(403, "refused: a request from another site (Origin " + *request.origin + ")");
    if (request.method == "GET" && request.path == "/") return std::nullopt;
    if (!SameText(request.token, m_token)) return Text(403, "refused: the token of the panel's URL is missing or wrong");
    // A form or a text/plain fetch of another site's page reaches no
    // setter, even with a leaked token: a browser sends JSON across sites
    // only after asking (a preflight), which the panel never allows.
    if (request.method == "POST" && !IsJson(request.contentType))
        return Text(415, "refused: a change must be sent as application/json");
    return std::nullopt;
}

}  // namespace ptsa_panel
