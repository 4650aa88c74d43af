// The page's way to the setters: POST /api/<setting> with a JSON object.
// Every field is checked before any setter is called, and the setter checks
// texts and numbers by the face's rule; a bad request gets 400 with the
// reason and changes nothing. A good one gets 202: the change
// is queued, and the service's answer reaches the pages as an event.
#pragma once

#include <string>

#include "reply.h"

namespace ptsa_panel {

class Link;

// The answer to POST /api/<name> with body; 404 for an unknown name.
Reply CallApi(Link& link, const std::string& name, const std::string& body);

}  // namespace ptsa_panel
