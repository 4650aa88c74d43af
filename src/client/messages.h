// The wire messages: composing requests, judging replies, cutting keys and
// values out of received texts. Pure functions over UTF-16 strings.
#pragma once

#include <cstdint>
#include <string>

namespace PevraNUV::wire {

// Protocol fragments.
inline const std::u16string kHandshakeRequest = uR"({"Connected":"?"})";
inline const std::u16string kReadRequestOpen = uR"({"GetVal":")";
inline const std::u16string kWriteRequestOpen = uR"({")";
inline const std::u16string kKeyValueSeparator = uR"(":")";
inline const std::u16string kRequestClose = uR"("})";
inline const std::u16string kZoomValueSeparator = uR"(":"{)";
inline const std::u16string kReadReplyMark = uR"({"Val":)";
inline const std::u16string kWriteReplyMark = uR"({"Ack":"1"})";

std::u16string ComposeReadRequest(const std::u16string& key);
std::u16string ComposeWriteRequest(const std::u16string& key, const std::u16string& value);
std::u16string ComposeZoomMapWrite(const std::u16string& key, std::int32_t a, std::int32_t b, std::int32_t c,
                                   std::int32_t d);

// Plain decimal text, no leading zeros; "-" before a negative number.
std::u16string FormatUnsigned(std::uint32_t number);
std::u16string FormatSigned(std::int32_t number);

enum class RequestKind { Read, Handshake, Write };
RequestKind ClassifyRequest(const std::u16string& request);

struct Judgement {
    bool ok = false;
    const wchar_t* logMessage = nullptr;  // the failure's log line, if it has one
    bool hasValue = false;                // a read reply whose value could be cut
    std::u16string key;
    std::u16string value;
};
// Judges a reply against the request that it answers.
Judgement JudgeReply(const std::u16string& request, const std::u16string& reply);

// Cuts a push, or a read reply, at its first colon. Returns false for a text
// the rules cannot cut: shorter than two units, with no colon, or with the
// colon as its last unit. Nothing outside the text is ever read.
bool CutKey(const std::u16string& message, std::u16string& key);
bool CutValue(const std::u16string& message, std::u16string& value);
bool CutPush(const std::u16string& message, std::u16string& key, std::u16string& value);

}  // namespace PevraNUV::wire
