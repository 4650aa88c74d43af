// What one client may cost the panel, whoever it is (the checks of the
// token and the Host come after a request has been read, so these bound
// clients without the token too).
#pragma once

#include <chrono>
#include <cstddef>

namespace ptsa_panel {

// A request's header (431 above) and body (413 above). The largest body a
// page sends is a function with a text of 511 UTF-16 units, under 4 KiB of
// JSON even with every unit escaped.
constexpr std::size_t kHeaderLimit = 8 * 1024;
constexpr std::size_t kBodyLimit = 16 * 1024;

// A request must be whole this long after its first byte, or its
// connection is closed: a client that trickles bytes holds nothing longer.
constexpr auto kRequestDeadline = std::chrono::seconds(5);
// A kept-alive connection waits this long for its next request.
constexpr auto kIdleLimit = std::chrono::seconds(30);
// An answer, or a piece of an event stream, must be taken by the client
// within this; a client that stops reading is closed.
constexpr auto kWriteDeadline = std::chrono::seconds(10);

// Open event streams (one per browser is the page's way; more come from
// other clients). The next one gets 503 with Retry-After.
constexpr std::size_t kMaxStreams = 64;
constexpr auto kRetryAfter = std::chrono::seconds(5);
// Open connections of any kind; the next one is closed at once. Far more
// than pages need, far below a process's descriptor limit.
constexpr std::size_t kMaxConnections = 512;

// A stream that has sent nothing for this long gets a comment line, so that
// a stream whose page has gone ends.
constexpr auto kHeartbeat = std::chrono::seconds(5);

}  // namespace ptsa_panel
