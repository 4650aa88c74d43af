// An answer to one request, apart from the HTTP library that writes it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ptsa_panel {

struct Reply {
    unsigned status = 200;
    std::string type;  // Content-Type
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // besides the ones every answer carries
};

// Headers every answer carries: none is to be cached, read as another
// type than it says, or name the page it came from.
inline constexpr const char* kCommonHeaders[][2] = {
    {"Cache-Control", "no-store"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
};

// A plain-text answer: a refusal or an error, with its reason.
inline Reply Text(unsigned status, const std::string& text) {
    return Reply{status, "text/plain; charset=utf-8", text + "\n", {}};
}

}  // namespace ptsa_panel
