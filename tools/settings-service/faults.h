// Misbehaviour on request: the ways the service can be told to answer
// badly, late or oddly, so that a client's handling of each can be tested.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol.h"

namespace settings_service {

// A bad reply that replaces the good one for the requests of its kind.
struct BadReply {
    const char* name;
    std::optional<Request::Kind> fits;  // none: every kind
    Text (*form)(const Text& goodReply);
    const char* help;
};

const std::vector<BadReply>& BadReplies();
const BadReply* FindBadReply(const std::string& name);

struct Faults {
    // Reply faults, for every request or only for the Nth of a connection.
    std::uint64_t onlyRequest = 0;  // 0: every request
    std::uint32_t delayReplyMs = 0;
    const BadReply* badReply = nullptr;
    std::size_t longReply = 0;  // pad replies to at least this many code units
    bool oddBytes = false;

    std::size_t longPush = 0;  // pad pushes to at least this many code units

    // Connection faults.
    std::int64_t closeAfter = -1;      // close a request pipe after N replies
    std::int64_t dieInHandshake = -1;  // exit after the handshake and N reads
    bool noRequestPipe = false;        // serve the send-only pipe alone
    bool noSendOnlyPipe = false;       // serve the request pipe alone

    // A train of pushes of the pen battery status.
    double pushRate = 0;  // pushes per second; 0: none
    std::uint64_t pushCount = 0;  // 0: no limit

    bool Selects(std::uint64_t requestNumber) const { return onlyRequest == 0 || onlyRequest == requestNumber; }

    // The wire bytes of a reply after the selected faults: bad form, then
    // padding, then the odd byte. The delay is the caller's.
    std::string ShapeReply(Request::Kind kind, const Text& goodReply) const;

    // The wire bytes of a push, padded when asked.
    std::string ShapePush(const Text& key, const Text& value) const;
};

}  // namespace settings_service
