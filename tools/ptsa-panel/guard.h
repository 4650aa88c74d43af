// What a request must show before the panel serves it: the Host the panel
// serves (127.0.0.1 and its port), no Origin but the panel's own, the
// random token of the printed URL (except for the page itself, which holds
// nothing), and a JSON body for a change. A page of another site in the
// same browser knows neither the token nor, through a name that resolves
// to 127.0.0.1, the Host; and it cannot send a request that looks like the
// panel's own page sent it.
#pragma once

#include <optional>
#include <string>

#include "reply.h"
#include "request.h"

namespace ptsa_panel {

// count random bits as hex digits (count a multiple of 16).
std::string RandomHex(int bits);

class Guard {
public:
    explicit Guard(int port);
    const std::string& token() const { return m_token; }
    const std::string& host() const { return m_host; }
    // Nothing when the request may be served; otherwise the refusal.
    std::optional<Reply> Check(const Request& request) const;

private:
    std::string m_token;
    std::string m_host;
    std::string m_origin;
};

}  // namespace ptsa_panel
