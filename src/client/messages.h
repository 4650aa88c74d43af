// The wire messages received: judging replies against their requests,
// cutting keys and values out of received texts. Pure functions over UTF-16
// strings; the requests themselves are composed in settings/requests.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/requests.h"

namespace PevraNUV::wire {

// What the replies are judged by.
inline const std::u16string kReadReplyMark = uR"({"Val":)";
inline const std::u16string kWriteReplyMark = uR"({"Ack":"1"})";

enum class RequestKind { Read, Handshake, Write };
RequestKind ClassifyRequest(std::u16string_view request);

struct Judgement {
    bool ok = false;
    const wchar_t* logMessage = nullptr;  // the failure's log line, if it has one
    bool hasValue = false;                // a read reply whose value could be cut
    std::u16string_view key;              // within the request
    std::u16string_view value;            // within the reply
};
// Judges a reply against the request that it answers.
Judgement JudgeReply(std::u16string_view request, std::u16string_view reply);

// Cuts a push, or a read reply, at its first colon. Returns false for a text
// the rules cannot cut: shorter than two units, with no colon, or with the
// colon as its last unit. Nothing outside the text is ever read; what is
// cut is a view within the text.
bool CutKey(std::u16string_view message, std::u16string_view& key);
bool CutValue(std::u16string_view message, std::u16string_view& value);
bool CutPush(std::u16string_view message, std::u16string_view& key, std::u16string_view& value);

}  // namespace PevraNUV::wire
