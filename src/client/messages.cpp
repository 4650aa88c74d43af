// The wire messages.
#include "client/messages.h"

#include "log/log.h"

namespace PevraNUV::wire {

RequestKind ClassifyRequest(std::u16string_view request) {
    if (request.find(kReadRequestOpen) != std::u16string_view::npos) return RequestKind::Read;
    if (request.find(kHandshakeRequest) != std::u16string_view::npos) return RequestKind::Handshake;
    return RequestKind::Write;
}

namespace {

// The first colon, if it is not the last unit: the point the cutting rules
// measure from.
bool FindCutPoint(std::u16string_view message, std::size_t& colon) {
    colon = message.find(u':');
    return message.size() >= 2 && colon != std::u16string_view::npos && colon + 1 < message.size();
}

}  // namespace

bool CutKey(std::u16string_view message, std::u16string_view& key) {
    std::size_t colon;
    if (!FindCutPoint(message, colon)) return false;
    // Between the opening brace and quote and the quote before the colon:
    // min(n - 2, c - 3) units from position 2, none when that is negative.
    std::size_t end = colon >= 1 ? colon - 1 : 0;
    key = end > 2 ? message.substr(2, end - 2) : std::u16string_view();
    return true;
}

bool CutValue(std::u16string_view message, std::u16string_view& value) {
    std::size_t colon;
    if (!FindCutPoint(message, colon)) return false;
    // From c + 2 to the end less two units; when the text is too short for
    // that, what stands from c + 2 (at most one unit).
    std::size_t start = colon + 2;
    if (start > message.size()) start = message.size();
    std::size_t end = message.size() >= 2 ? message.size() - 2 : 0;
    value = end >= start ? message.substr(start, end - start) : message.substr(start);
    return true;
}

bool CutPush(std::u16string_view message, std::u16string_view& key, std::u16string_view& value) {
    return CutKey(message, key) && CutValue(message, value);
}

Judgement JudgeReply(std::u16string_view request, std::u16string_view reply) {
    Judgement judgement;
    if (reply.empty()) return judgement;
    switch (ClassifyRequest(request)) {
    case RequestKind::Read:
        if (reply.find(kReadReplyMark) == std::u16string_view::npos) {
            judgement.logMessage = kLogGetValueBadFormat;
            return judgement;
        }
        judgement.ok = true;
        judgement.hasValue = CutValue(request, judgement.key) && CutValue(reply, judgement.value);
        return judgement;
    case RequestKind::Handshake:
        // An ordering test, not an equality: the handshake's reply carries
        // the service's protocol version where a write's carries "1". A
        // service of this version or a later one ({"Ack":"2"}) sorts at or
        // after the reference and is talked to; an older one ({"Ack":"0"})
        // sorts before it and is refused.
        if (reply.compare(kWriteReplyMark) < 0) {
            judgement.logMessage = kLogUnknownProtocolVersion;
            return judgement;
        }
        judgement.ok = true;
        return judgement;
    case RequestKind::Write:
        if (reply.find(kWriteReplyMark) == std::u16string_view::npos) {
            judgement.logMessage = kLogSetValueBadFormat;
            return judgement;
        }
        judgement.ok = true;
        return judgement;
    }
    return judgement;
}

}  // namespace PevraNUV::wire
