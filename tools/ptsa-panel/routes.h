// Which answer a request gets: a refusal of the guard, the page, the
// shared worker's script, an event stream, or a setter's answer.
#pragma once

#include <cstddef>

#include "reply.h"
#include "request.h"

namespace ptsa_panel {

class Guard;
class Link;

struct Served {
    Reply reply;          // with stream, the head of the event stream
    bool stream = false;  // the connection becomes an event stream
};

Served Serve(const Request& request, const Guard& guard, Link& link, std::size_t openStreams);

}  // namespace ptsa_panel
