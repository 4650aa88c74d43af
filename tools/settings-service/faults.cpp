#include "faults.h"

namespace settings_service {

namespace {

// Padding holds no colon and no brace, so a client that cuts a message at
// its first colon and searches its marks sees the same message.
constexpr char16_t kFiller = u'x';

using Kind = Request::Kind;

}  // namespace

const std::vector<BadReply>& BadReplies() {
    static const std::vector<BadReply> replies = {
        {"empty", std::nullopt, [](const Text&) { return Text(); }, "an empty message, to every request"},
        {"no-val-mark", Kind::Read, [](const Text& good) { return u"{\"val\"" + good.substr(6); },
         "{\"val\":\"VALUE\"} (lower-case mark), to read requests"},
        {"ack-0", Kind::Write, [](const Text&) { return kRefusal; }, "{\"Ack\":\"0\"}, to write requests"},
        {"handshake-ack-0", Kind::Handshake, [](const Text&) { return kRefusal; }, "{\"Ack\":\"0\"}, to the handshake"},
        {"handshake-cut", Kind::Handshake, [](const Text&) { return Text(u"{\"Ack\""); }, "{\"Ack\", to the handshake"},
        {"handshake-extra", Kind::Handshake, [](const Text&) { return Text(u"{\"Ack\":\"1\",\"x\":\"y\"}"); },
         "{\"Ack\":\"1\",\"x\":\"y\"}, to the handshake"},
        {"handshake-ack-2", Kind::Handshake, [](const Text&) { return Text(u"{\"Ack\":\"2\"}"); },
         "{\"Ack\":\"2\"}, to the handshake (sorts after {\"Ack\":\"1\"}: a client accepts it)"},
        {"handshake-ack-10", Kind::Handshake, [](const Text&) { return Text(u"{\"Ack\":\"10\"}"); },
         "{\"Ack\":\"10\"}, to the handshake (sorts after {\"Ack\":\"1\"}: a client accepts it)"},
    };
    return replies;
}

const BadReply* FindBadReply(const std::string& name) {
    for (const BadReply& reply : BadReplies()) {
        if (name == reply.name) return &reply;
    }
    return nullptr;
}

std::string Faults::ShapeReply(Kind kind, const Text& goodReply) const {
    Text reply = goodReply;
    if (badReply && (!badReply->fits || *badReply->fits == kind)) reply = badReply->form(goodReply);
    if (reply.size() < longReply) {
        // Before a read reply (text ahead of its mark is allowed), after
        // any other (an acknowledgement may stand inside longer text).
        const Text padding(longReply - reply.size(), kFiller);
        reply = kind == Kind::Read ? padding + reply : reply + padding;
    }
    std::string bytes = ToWire(reply);
    if (oddBytes) bytes += static_cast<char>(kFiller);
    return bytes;
}

std::string Faults::ShapePush(const Text& key, const Text& value) const {
    Text push = WriteMessage(key, value);
    if (push.size() < longPush) {
        // A push has no place that a client ignores: the value grows.
        push = WriteMessage(key, value + Text(longPush - push.size(), kFiller));
    }
    return ToWire(push);
}

}  // namespace settings_service
