// What the panel reads of a request, apart from the HTTP library that
// parsed it.
#pragma once

#include <optional>
#include <string>

namespace ptsa_panel {

struct Request {
    std::string method;
    std::string path;   // the target without its query
    std::string token;  // the query's token parameter
    std::string host;
    std::optional<std::string> origin;
    std::string contentType;
    std::string body;
};

}  // namespace ptsa_panel
