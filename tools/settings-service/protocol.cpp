#include "protocol.h"

namespace settings_service {

namespace {

bool StartsWith(const Text& text, const Text& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

bool EndsWith(const Text& text, const Text& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

const Text kReadOpening = u"{\"GetVal\":\"";
const Text kOpening = u"{\"";
const Text kSeparator = u"\":\"";
const Text kClosing = u"\"}";

}  // namespace

Request ParseRequest(const Text& message) {
    Request request;
    if (message == kHandshakeRequest) {
        request.kind = Request::Kind::Handshake;
        return request;
    }
    if (!EndsWith(message, kClosing)) return request;
    const std::size_t end = message.size() - kClosing.size();
    if (StartsWith(message, kReadOpening) && message.size() >= kReadOpening.size() + kClosing.size()) {
        request.kind = Request::Kind::Read;
        request.key = message.substr(kReadOpening.size(), end - kReadOpening.size());
        return request;
    }
    if (!StartsWith(message, kOpening)) return request;
    const std::size_t separator = message.find(kSeparator, kOpening.size());
    if (separator == Text::npos || separator + kSeparator.size() > end) return request;
    request.kind = Request::Kind::Write;
    request.key = message.substr(kOpening.size(), separator - kOpening.size());
    request.value = message.substr(separator + kSeparator.size(), end - separator - kSeparator.size());
    return request;
}

Text WriteMessage(const Text& key, const Text& value) { return kOpening + key + kSeparator + value + kClosing; }

Text ReadReply(const Text& value) { return u"{\"Val\":\"" + value + kClosing; }

}  // namespace settings_service
