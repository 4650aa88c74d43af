// The page's way to the setters: POST /api/<setting> with a JSON object.
// Every field is checked before any setter is called; a bad request gets
// 400 with the reason and changes nothing. A good one gets 202: the change
// is queued, and the service's answer reaches the pages as an event.
#pragma once

namespace httplib {
class Server;
}

namespace ptsa_panel {

class Link;

void AddApi(httplib::Server& server, Link& link);

}  // namespace ptsa_panel
