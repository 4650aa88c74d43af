// The wire messages: judging replies and cutting pushes. (The setters' tests
// check the requests as composed.)
#include <gtest/gtest.h>

#include <string>

#include "client/messages.h"

namespace wire = PevraNUV::wire;

namespace {

const std::u16string kServiceVersion = uR"(ComponentsDriver\\ServiceVersion)";
const std::u16string kTilt = uR"(ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity)";

}  // namespace

namespace {

// A judgement as text: "ok", "value <cut value>", the failure's log line
// without its CR LF, or "failed" when it has none.
std::string Verdict(const wire::Judgement& judgement) {
    const auto narrow = [](const auto& text) { return std::string(text.begin(), text.end()); };
    if (judgement.ok) return judgement.hasValue ? "value " + narrow(judgement.value) : "ok";
    const std::wstring log = judgement.logMessage ? judgement.logMessage : L"failed\r\n";
    return narrow(log.substr(0, log.size() - 2));
}

}  // namespace

TEST(MessageJudge, EveryReplyAgainstItsRequest) {
    const std::u16string read = wire::ComposeReadRequest(kServiceVersion), write = wire::ComposeWriteRequest(kTilt, u"7"),
                         handshake = wire::kHandshakeRequest,
                         keyCapture = uR"({"ComponentsDriver\\BTButtonHandler\\KeystrokeCapture":"1"})";
    const std::string getBad = "Get value: bad format.", setBad = "Set value: bad format.",
                      unknownVersion = "Unknown protocol version.";
    const struct {
        std::u16string request, reply;
        std::string verdict;
    } cases[] = {
        {read, uR"({"Val":"42"})", "value 42"},
        {read, uR"({"Val":""})", "value "},
        {read, uR"({"Val":5})", "value }"},  // an unquoted value gives the closing brace
        {read, uR"(x{"Val":"5"})", "value 5"},
        {read, uR"(a:{"Val":"5"})", R"(value "Val":"5)"},  // a colon before the mark moves the cut
        {read, uR"({"Val":"1:2"})", "value 1:2"},
        {read, uR"({"Ack":"1"})", getBad},
        {read, uR"({"Val")", getBad},
        {read, uR"({"Val":)", "ok"},  // the mark with nothing to cut
        {read, u"", "failed"},
        {write, uR"({"Ack":"1"})", "ok"},
        {write, uR"(xx{"Ack":"1"}{"Ack":"0"})", "ok"},
        {write, uR"({"Ack":"0"})", setBad},
        {write, uR"({"Val":"7"})", setBad},
        {write, u"", "failed"},
        {keyCapture, uR"({"Ack":"1"})", "ok"},
        {keyCapture, uR"({"Val":"1"})", setBad},
        {handshake, uR"({"Ack":"1"})", "ok"},
        {handshake, uR"({"Ack":"2"})", "ok"},               // a later version
        {handshake, uR"({"Ack":"10"})", "ok"},              // 0 sorts after the quote
        {handshake, u"{\"Ack\":\"1\uFFFF", "ok"},           // a unit above 0x7FFF sorts last
        {handshake, u"\u8000", "ok"},
        {handshake, uR"({"Ack":"0"})", unknownVersion},     // an earlier version
        {handshake, uR"({"Ack")", unknownVersion},          // a prefix of the reference
        {handshake, uR"({"Ack":"1","x":"y"})", unknownVersion},  // a comma sorts before the brace
        {handshake, u"", "failed"},
        // The marks count anywhere in a request, the read mark first.
        {uR"(x{"Connected":"?"}y)", uR"({"Ack":"2"})", "ok"},
        {uR"({"Connected":"?"}{"GetVal":")", uR"({"Ack":"1"})", getBad},
        {uR"({"K":"{"GetVal":"x"})", uR"({"Ack":"1"})", getBad},
        {uR"({"Connected":"!"})", uR"({"Ack":"2"})", setBad},
    };
    for (const auto& c : cases) {
        const wire::Judgement judgement = wire::JudgeReply(c.request, c.reply);
        EXPECT_EQ(Verdict(judgement), c.verdict) << testing::PrintToString(c.request) << testing::PrintToString(c.reply);
        if (judgement.hasValue) EXPECT_EQ(judgement.key, kServiceVersion);
    }
}

TEST(MessageCut, PushesIntoKeyAndValue) {
    struct Case {
        const char* what;
        std::u16string push;
        std::u16string key;
        std::u16string value;
    } cases[] = {
        {"a key and its value", uR"({"ComponentsDriver\\ServiceVersion":"42"})", kServiceVersion, u"42"},
        {"a value holding colons", uR"({"ComponentsDriver\\ServiceVersion":"a:b:c"})", kServiceVersion, u"a:b:c"},
        {"a bare key", uR"({"RunAppOptionsList":"x"})", u"RunAppOptionsList", u"x"},
        {"a zoom map value", uR"({"ComponentsDriver\\SlavedDisplayZoomMap":"{1,2,3,4}"})",
         uR"(ComponentsDriver\\SlavedDisplayZoomMap)", u"{1,2,3,4}"},
        {"a value holding a quote", u"{\"K\":\"a\"b\"}", u"K", u"a\"b"},
        // Nothing is examined: the units around the key and value are dropped
        // whatever they are.
        {"unquoted", u"xxKx:xVxx", u"K", u"V"},
        // The colon at positions 0 to 3 leaves no room for a key.
        {"colon at 0", u":xyzw", u"", u"y"},
        {"colon at 1", u"{:xyzw", u"", u"y"},
        {"colon at 2", uR"({":"v"})", u"", u"v"},
        {"colon at 3", uR"({"":"v"})", u"", u"v"},
        {"colon at 4", uR"({"K":"v"})", u"K", u"v"},
        // The value rule: n - c - 4 units from c + 2; when that is below zero,
        // the rest from c + 2.
        {"n - c - 4 is 0", uR"({"K":""})", u"K", u""},
        {"n - c - 4 is -1", uR"({"K":xy)", u"K", u"y"},
        {"n - c - 4 is -2", uR"({"K":x)", u"K", u""},
        {"n - c - 4 is -2, two units", u":x", u"", u""},
        {"a long value, whole", wire::ComposeWriteRequest(kTilt, std::u16string(5000, u'v')), kTilt,
         std::u16string(5000, u'v')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::u16string key = u"unset", value = u"unset";
        ASSERT_TRUE(wire::CutPush(c.push, key, value));
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(value, c.value);
    }
}

// Texts the rules cannot cut are refused without reading outside them. The
// long forms live on the heap with no spare room, where the sanitizer build
// sees any read past their end.
TEST(MessageCut, RefusesTextsTheRulesCannotCut) {
    const std::u16string longKey(600, u'k');
    struct Case {
        const char* what;
        std::u16string text;
    } cases[] = {
        {"empty", u""},
        {"one unit", u"{"},
        {"a lone colon", u":"},
        {"no colon", uR"({"K"})"},
        {"no colon, long", u"{\"" + longKey + u"\"}"},
        {"colon last", uR"({"K":)"},
        {"colon last, long", u"{\"" + longKey + u"\":"},
        {"two units, colon last", u"{:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::u16string text = c.text;
        text.shrink_to_fit();
        std::u16string key, value;
        EXPECT_FALSE(wire::CutPush(text, key, value));
        EXPECT_FALSE(wire::CutKey(text, key));
        EXPECT_FALSE(wire::CutValue(text, value));
    }
}
