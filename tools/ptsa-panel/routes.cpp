#include "routes.h"

#include <chrono>
#include <string>

#include "api.h"
#include "guard.h"
#include "bounds.h"
#include "page.h"

namespace ptsa_panel {

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The page's one style and one script run under a nonce new with every
// answer: no inline handler, no script or style of anyone else. It talks to
// this server only (its events through a shared worker of this origin), and
// no other site may frame it or submit a form from it.
Reply Page() {
    const std::string nonce = RandomHex(128);
    Reply reply{200, "text/html; charset=utf-8", ReplaceAll(kPage, "@nonce@", nonce), {}};
    reply.headers.emplace_back("Content-Security-Policy",
                               "default-src 'none'; script-src 'nonce-" + nonce + "'; style-src 'nonce-" + nonce +
                                   "'; connect-src 'self'; worker-src 'self'; img-src data:; base-uri 'none'; "
                                   "form-action 'none'; frame-ancestors 'none'");
    return reply;
}

// The shared worker that holds the one event stream of a browser's tabs.
Reply Worker() {
    Reply reply{200, "text/javascript; charset=utf-8", kWorker, {}};
    reply.headers.emplace_back("Content-Security-Policy", "default-src 'none'; connect-src 'self'");
    return reply;
}

// A refusal or an error: a text that nothing may run or frame.
Reply Locked(Reply reply) {
    reply.headers.emplace_back("Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'");
    return reply;
}
Reply Refusal(unsigned status, const std::string& why) { return Locked(Text(status, why)); }

}  // namespace

Served Serve(const Request& request, const Guard& guard, Link& link, std::size_t openStreams) {
    if (auto refusal = guard.Check(request)) return {Locked(*refusal)};
    const bool get = request.method == "GET";
    const std::string api = "/api/";
    if (request.path == "/") return {get ? Page() : Refusal(405, "only GET")};
    if (request.path == "/worker.js") return {get ? Worker() : Refusal(405, "only GET")};
    if (request.path == "/events") {
        if (!get) return {Refusal(405, "only GET")};
        if (openStreams >= kMaxStreams) {
            Reply busy = Refusal(503, "refused: " + std::to_string(kMaxStreams) + " event streams are open");
            busy.headers.emplace_back("Retry-After", std::to_string(kRetryAfter.count()));
            return {busy};
        }
        // A stream that ends (the panel restarts) is opened again by the
        // browser a second later, and starts from the current state.
        return {Reply{200, "text/event-stream", "retry: 1000\n\n", {}}, true};
    }
    if (request.path.compare(0, api.size(), api) == 0) {
        if (request.method != "POST") return {Refusal(405, "only POST")};
        return {CallApi(link, request.path.substr(api.size()), request.body)};
    }
    return {Refusal(404, "not found")};
}

}  // namespace ptsa_panel
