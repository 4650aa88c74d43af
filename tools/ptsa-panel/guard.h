// What every request must show before the panel serves it: the random
// token of the printed URL, and the Host the panel serves (127.0.0.1 and
// its port). A page of another site in the same browser knows neither the
// token nor, through a name that resolves to 127.0.0.1, the Host.
#pragma once

#include <string>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace ptsa_panel {

class Guard {
public:
    explicit Guard(int port);
    const std::string& token() const { return m_token; }
    const std::string& host() const { return m_host; }
    // True when the request may be served; otherwise res holds the refusal.
    bool Admit(const httplib::Request& req, httplib::Response& res) const;

private:
    std::string m_token;
    std::string m_host;
};

}  // namespace ptsa_panel
