#include "guard.h"

#include <httplib.h>

#include <random>

namespace ptsa_panel {
namespace {

// 128 random bits as hex.
std::string RandomToken() {
    std::random_device random;
    std::string token;
    const char* const digits = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) {
        const unsigned bits = random() & 0xFFFF;
        for (int shift = 12; shift >= 0; shift -= 4) token += digits[(bits >> shift) & 0xF];
    }
    return token;
}

// Compares in a time that does not depend on where the texts differ.
bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

void Refuse(httplib::Response& res, int status, const std::string& why) {
    res.status = status;
    res.set_content(why + "\n", "text/plain; charset=utf-8");
}

}  // namespace

Guard::Guard(int port) : m_token(RandomToken()), m_host("127.0.0.1:" + std::to_string(port)) {}

bool Guard::Admit(const httplib::Request& req, httplib::Response& res) const {
    // 421: the request names another server than this one (a foreign page
    // reaching 127.0.0.1 under a name of its own).
    if (req.get_header_value("Host") != m_host) {
        Refuse(res, 421, "refused: the Host must be " + m_host);
        return false;
    }
    if (!SameText(req.get_param_value("token"), m_token)) {
        Refuse(res, 403, "refused: the token of the panel's URL is missing or wrong");
        return false;
    }
    return true;
}

}  // namespace ptsa_panel
