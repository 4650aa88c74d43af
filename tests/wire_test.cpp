// The wire messages: the setters' batches as composed, replies judged,
// pushes cut. (The number rule is read through the handlers' tests.)
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "client/messages.h"
#include "settings/setters.h"

namespace wire = PevraNUV::wire;
using PevraNUV::SettingId;

namespace {

const std::u16string kServiceVersion = uR"(ComponentsDriver\\ServiceVersion)";
const std::u16string kTilt = uR"(ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity)";

// A judgement as text: "ok", "value <cut value>", the failure's log line
// without its CR LF, or "failed" when it has none.
std::string Verdict(const wire::Judgement& judgement) {
    const auto narrow = [](const auto& text) { return std::string(text.begin(), text.end()); };
    if (judgement.ok) return judgement.hasValue ? "value " + narrow(judgement.value) : "ok";
    const std::wstring log = judgement.logMessage ? judgement.logMessage : L"failed\r\n";
    return narrow(log.substr(0, log.size() - 2));
}

std::string Lines(const PevraNUV::Batch& batch) {
    std::string text;
    for (const std::u16string& message : batch) text += (text.empty() ? "" : "\n") + std::string(message.begin(), message.end());
    return text;
}

PevraNUV_ButtonFunction Button(std::int32_t function, const std::u16string& text) {
    PevraNUV_ButtonFunction record{function, {}};
    for (std::size_t i = 0; i < text.size(); ++i) record.text[i] = static_cast<PevraNUV_Char>(text[i]);
    return record;
}

TEST(MessageJudge, EveryReplyAgainstItsRequest) {
    const std::u16string read = wire::ComposeReadRequest(kServiceVersion), write = wire::ComposeWriteRequest(kTilt, u"7"),
                         handshake = wire::kHandshakeRequest;
    const std::string getBad = "Get value: bad format.", setBad = "Set value: bad format.",
                      unknownVersion = "Unknown protocol version.";
    const struct {
        std::u16string request, reply;
        std::string verdict;
    } cases[] = {
        {read, uR"({"Val":"42"})", "value 42"},
        {read, uR"(a:{"Val":"5"})", R"(value "Val":"5)"},  // a colon before the mark moves the cut
        {read, uR"({"Ack":"1"})", getBad},
        {read, uR"({"Val")", getBad},
        {read, uR"({"Val":)", "ok"},  // the mark with nothing to cut
        {read, u"", "failed"},
        {write, uR"({"Ack":"1"})", "ok"},
        {write, uR"({"Ack":"0"})", setBad},
        {handshake, uR"({"Ack":"1"})", "ok"},
        {handshake, uR"({"Ack":"2"})", "ok"},               // a later version
        {handshake, u"{\"Ack\":\"1\uFFFF", "ok"},           // a unit above 0x7FFF sorts last
        {handshake, uR"({"Ack":"0"})", unknownVersion},     // an earlier version
        {handshake, uR"({"Ack")", unknownVersion},          // a prefix of the reference
        {handshake, uR"({"Ack":"1","x":"y"})", unknownVersion},  // a comma sorts before the brace
        // The marks count anywhere in a request, the read mark first.
        {uR"({"Connected":"?"}{"GetVal":")", uR"({"Ack":"1"})", getBad},
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
        // Nothing is examined: the units around the key and value are dropped
        // whatever they are.
        {"unquoted", u"xxKx:xVxx", u"K", u"V"},
        // The colon at positions 0 to 3 leaves no room for a key.
        // The value rule: n - c - 4 units from c + 2; when that is below zero,
        // the rest from c + 2.
        {"n - c - 4 is -1", uR"({"K":xy)", u"K", u"y"},
        {"n - c - 4 is -2", uR"({"K":x)", u"K", u""},
        {"a long value, whole", wire::ComposeWriteRequest(kTilt, std::u16string(5000, u'v')), kTilt,
         std::u16string(5000, u'v')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::u16string_view key = u"unset", value = u"unset";
        ASSERT_TRUE(wire::CutPush(c.push, key, value));
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(value, c.value);
    }
    // Too short, no colon, the colon last: refused, nothing read outside.
    for (const std::u16string text : {u"", u"{:", uR"({"K"})", uR"({"K":)"}) {
        std::u16string_view key, value;
        EXPECT_FALSE(wire::CutPush(text, key, value)) << testing::PrintToString(text);
    }
}

TEST(Setters, ComposeTheirBatchesExactly) {
    PevraNUV_ButtonFunction full = Button(23, u"");
    for (auto& unit : full.text) unit = u'x';  // no zero in all 512 units: sent whole, never read past
    const std::string fullText(512, 'x');
    const std::string eraser = R"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunction)";
    const std::string wedge9 =
        R"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialOutside\\ButtonSingle\\ButtonFunction)";
    const std::string tilt = R"(ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity)";
    const std::string zoom = R"(ComponentsDriver\\SlavedDisplayZoomMap)";
    const std::pair<PevraNUV::Batch, std::string> cases[] = {
        {PevraNUV::ComposeButtonFunction(Button(PevraNUV_FunctionKeystrokes, u"ctrl+z"), SettingId::EraserSingleFunction),
         "{\"" + eraser + "\":\"8\"}\n{\"GetVal\":\"" + eraser + "\"}\n{\"" + eraser + "Keystrokes\":\"ctrl+z\"}\n{\"GetVal\":\"" +
             eraser + "Name\"}"},
        {PevraNUV::ComposeButtonFunction(full, PevraNUV::WedgeFunction(9)),
         "{\"" + wedge9 + "\":\"23\"}\n{\"GetVal\":\"" + wedge9 + "\"}\n{\"" + wedge9 + "AppPath\":\"" + fullText +
             "\"}\n{\"GetVal\":\"" + wedge9 + "AppPath\"}"},
        // A code that carries no text sends none, and a negative code its sign.
        {PevraNUV::ComposeButtonFunction(Button(-1, u"ignored"), SettingId::EraserSingleFunction),
         "{\"" + eraser + "\":\"-1\"}\n{\"GetVal\":\"" + eraser + "\"}"},
        {PevraNUV::ComposeScalar(4294967295u, SettingId::TiltSensitivity),
         "{\"" + tilt + "\":\"4294967295\"}\n{\"GetVal\":\"" + tilt + "\"}"},
        {PevraNUV::ComposeZoomMap({INT32_MIN, -2, 0, INT32_MAX}),
         "{\"" + zoom + "\":\"{-2147483648,-2,0,2147483647}\"}\n{\"GetVal\":\"" + zoom + "\"}"},
    };
    for (const auto& [batch, expected] : cases) EXPECT_EQ(Lines(batch), expected);
}

}  // namespace
