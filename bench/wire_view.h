// The raw clients' view of a message: the received bytes themselves, read
// as UTF-16 code units in place. Judging a reply and cutting a value out of
// it copy nothing and allocate nothing.
#pragma once

#include <cstddef>
#include <string_view>

#include "client/messages.h"

// The wire is UTF-16LE; viewing its bytes as char16_t needs a
// little-endian machine, which every machine this benchmark runs on is.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the raw clients read UTF-16LE in place");

namespace PevraNUV::bench {

using Units = std::u16string_view;

inline Units View(const void* bytes, std::size_t count) {
    return Units(static_cast<const char16_t*>(bytes), count / 2);
}

enum class Kind { Read, Handshake, Write };

// Tested in the library's order: a read, else the handshake, else a write.
inline Kind Classify(Units request) {
    if (request.find(wire::kReadRequestOpen) != Units::npos) return Kind::Read;
    return request.find(wire::kHandshakeRequest) != Units::npos ? Kind::Handshake : Kind::Write;
}

// A handshake reply succeeds unless it sorts before {"Ack":"1"}.
inline bool HandshakeReplyOk(Units reply) { return !reply.empty() && reply.compare(wire::kWriteReplyMark) >= 0; }
inline bool ReadReplyOk(Units reply) { return reply.find(wire::kReadReplyMark) != Units::npos; }

// The cutting rules measure from the first colon, if it is not the last unit.
inline bool FindCutPoint(Units message, std::size_t& colon) {
    colon = message.find(u':');
    return message.size() >= 2 && colon != Units::npos && colon + 1 < message.size();
}

// The text after the colon less the quotes and the brace around it: the
// value of a read reply or a push, the key of a read request.
inline Units ValueAt(Units message, std::size_t colon) {
    const std::size_t start = colon + 2 < message.size() ? colon + 2 : message.size();
    const std::size_t end = message.size() - 2;
    return end >= start ? message.substr(start, end - start) : message.substr(start);
}

inline bool CutValue(Units message, Units& value) {
    std::size_t colon;
    if (!FindCutPoint(message, colon)) return false;
    value = ValueAt(message, colon);
    return true;
}

// A push's key (between the opening brace and quote and the quote before
// the colon) and its value, with one search for the colon.
inline bool CutPush(Units message, Units& key, Units& value) {
    std::size_t colon;
    if (!FindCutPoint(message, colon)) return false;
    key = colon > 3 ? message.substr(2, colon - 3) : Units();
    value = ValueAt(message, colon);
    return true;
}

// Judges a reply against the kind of its request; a read's value is cut.
inline bool Judge(Kind kind, Units reply, Units& value) {
    value = Units();
    switch (kind) {
    case Kind::Read:
        if (!ReadReplyOk(reply)) return false;
        CutValue(reply, value);
        return true;
    case Kind::Handshake:
        return HandshakeReplyOk(reply);
    case Kind::Write:
        return reply.find(wire::kWriteReplyMark) != Units::npos;
    }
    return false;
}

}  // namespace PevraNUV::bench
