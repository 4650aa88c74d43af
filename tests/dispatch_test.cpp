// Values fed through DispatchValue as the sync thread feeds them, and what
// the hosts hear of them.
#include <climits>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dispatch/number.h"
#include "settings/catalogue.h"
#include "test_support.h"

namespace {

using namespace ptsa_test;

// ---- The number rule every handler reads with ----------------------------

TEST(ReadNumber, ReadsTheLeadingDecimalInt32) {
    const std::pair<std::u16string, std::optional<std::int32_t>> cases[] = {
        {u"0", 0}, {u"12abc", 12}, {u"0x10", 0}, {u"007", 7}, {u"+5", 5}, {u"-5", -5}, {u" \t\r\n\v\f42", 42},
        {u"3 4", 3}, {u"9}", 9}, {u"2147483647", INT32_MAX}, {u"-2147483648", INT32_MIN},
        {u"00000000000000000001", 1}, {u"", std::nullopt}, {u" ", std::nullopt}, {u"-", std::nullopt},
        {u"+", std::nullopt}, {u"- 5", std::nullopt}, {u"+-5", std::nullopt}, {u"x12", std::nullopt},
        {u"\u00A05", std::nullopt}, {u"2147483648", std::nullopt}, {u"-2147483649", std::nullopt},
        {u"99999999999999999999", std::nullopt}, {u"4294967295", std::nullopt}};
    for (const auto& [text, number] : cases) EXPECT_EQ(PevraNUV::ReadNumber(text), number) << testing::PrintToString(text);
}

// ---- Scripts: values in turn, each with what the host hears --------------

struct Step {
    int id;
    std::u16string value;
    std::string heard;
};

struct Script {
    const char* name;
    std::vector<Step> steps;
};

void PrintTo(const Script& script, std::ostream* out) { *out << script.name; }

class DispatchScript : public ClientTest, public ::testing::WithParamInterface<Script> {};

TEST_P(DispatchScript, HostsHearWhatChanged) {
    for (std::size_t step = 0; step < GetParam().steps.size(); ++step) {
        const auto& [id, value, heard] = GetParam().steps[step];
        EXPECT_EQ(Heard(id, value), heard) << "step " << step << ": id " << id;
    }
}

const std::u16string kFifteen(15, u'5'), kSixteen(16, u'6'), kKept(511, u'k'), kLongPath(700, u'p');
const std::string kFifteenText(15, '5'), kKeptText(511, 'k'), kCutPath(511, 'p');
constexpr int kCurrentPen = 2, kPenSerial = 3, kPenId = 4, kBtSerial = 5, kBtId = 6, kBattery = 70, kZoom = 81;

INSTANTIATE_TEST_SUITE_P(
    Dispatch, DispatchScript,
    ::testing::Values(
        Script{"versions are reported together, also an empty one",
               {{0, u"2.1.0", "versions(2.1.0,)"}, {1, u"7.3", "versions(2.1.0,7.3)"}, {1, u"7.3", ""},
                {1, u"", "versions(2.1.0,)"}}},
        Script{"a version of sixteen characters is kept and silences both until it fits again",
               {{0, kFifteen, "versions(" + kFifteenText + ",)"}, {0, kSixteen, ""}, {1, u"x0", ""},
                {0, kFifteen, "versions(" + kFifteenText + ",x0)"}, {1, kSixteen, ""}, {0, u"x1", ""},
                {1, kFifteen, "versions(x1," + kFifteenText + ")"}}},
        Script{"an unknown current pen is filed silently and reported when named again",
               {{kCurrentPen, u"QRE-1", ""}, {kCurrentPen, u"QRE-1", "pen(QRE-1,,,0)"}}},
        Script{"pairs are filed in either order, then both halves are emptied",
               {{kPenId, u"PEN-7", ""}, {kPenSerial, u"QRE-1", ""}, {kBtSerial, u"QRE-1", ""}, {kBtId, u"BT-9", ""},
                {kPenId, u"PEN-8", ""}, {kCurrentPen, u"QRE-1", "pen(QRE-1,PEN-7,BT-9,0)"}}},
        Script{"a lone id waits and a second replaces it; a later pairing overwrites the record's id",
               {{kPenId, u"first", ""}, {kPenId, u"second", ""}, {kPenSerial, u"S", ""},
                {kCurrentPen, u"S", "pen(S,second,,0)"}, {kPenSerial, u"S", ""}, {kPenId, u"third", ""},
                {kCurrentPen, u"S", "pen(S,third,,0)"}}},
        Script{"an empty half is stored and pairs nothing",
               {{kBtSerial, u"S", ""}, {kBtSerial, u"", ""}, {kBtId, u"BT", ""}, {kCurrentPen, u"S", ""},
                {kBtSerial, u"T", ""}, {kCurrentPen, u"T", "pen(T,,BT,0)"}}},
        Script{"over-long serials and ids are cut in the record only",
               {{kPenSerial, u"0123456789ABCDEFGHIJ", ""}, {kPenId, u"abcdefghijklmnopqrst", ""},
                {kCurrentPen, u"0123456789ABCDEFGHIJ", "pen(0123456789ABCDE,abcdefghijklmno,,0)"},
                {kCurrentPen, u"0123456789ABCDE", ""}}},
        Script{"a battery status is ignored until a pen is on file, then every one is reported",
               {{kBattery, u"80", ""}, {kBattery, u"x", ""}, {kCurrentPen, u"Q", ""}, {kBattery, u"80", "pen(Q,,,80)"},
                {kBattery, u"80", "pen(Q,,,80)"}, {kBattery, u"", "pen(Q,,,80)"}, {kBattery, u"-1", "pen(Q,,,-1)"},
                {kBattery, u"full", ""}, {kBattery, u"2147483648", ""}, {kBattery, u"-", ""},
                {kBattery, u"", "pen(Q,,,-1)"}}},
        Script{"a battery status without a current pen goes to a record of its own",
               {{kPenSerial, u"S", ""}, {kPenId, u"P", ""}, {kBattery, u"bad", ""}, {kCurrentPen, u"", ""},
                {kBattery, u"42", "pen(,,,42)"}, {kCurrentPen, u"S", "pen(S,P,,0)"}}},
        Script{"hover click is a flag",
               {{23, u"5", "topSwitch(0,,1)"}, {23, u"1", ""}, {23, u"0", "topSwitch(0,,0)"},
                {28, u"-7", "bottomSwitch(0,,1)"}, {28, u"", ""}, {28, u"0", "bottomSwitch(0,,0)"}}},
        Script{"sensitivities are reported when they change",
               {{72, u"-3", "tilt(-3)"}, {72, u"-3", ""}, {72, u"", ""}, {73, u"12abc", "tip(12)"}, {73, u"x", ""}}},
        Script{"the centre right click, the alert delay and captured keystrokes are kept quietly",
               {{29, u"5", ""}, {71, u"5", ""}, {74, u"abc", ""}}},
        Script{"the first values equal to a fresh client's are not reported",
               {{7, u"0", ""}, {11, u"0", ""}, {15, u"0", ""}, {19, u"0", ""}, {24, u"0", ""}, {30, u"0", ""},
                {66, u"0", ""}, {23, u"0", ""}, {28, u"0", ""}, {72, u"0", ""}, {73, u"0", ""}, {kZoom, u"{0,0,0,0}", ""}}},
        Script{"function names and keys spelled otherwise have no handler",
               {{9, u"8", ""}, {13, u"8", ""}, {26, u"8", ""}, {32, u"8", ""}, {68, u"8", ""}}},
        Script{"option codes accumulate and are reported ascending with every value",
               {{76, uR"([{"3":"x"},{"1":"y"}])", "topSingleOptions(1,3)"},
                {76, uR"([{"2":"z"}])", "topSingleOptions(1,2,3)"}, {76, u"", "topSingleOptions(1,2,3)"}}},
        Script{"run-application options are keyed by their text, cut in the record only",
               {{75, uR"([{"A":"B"},{"C":"B"}])", "runAppOptions(88:B)"},
                {75, uR"([{"1":"Paint"},{"2":"C:\\Apps\\calc.exe"}])",
                 R"(runAppOptions(88:B,88:C:\\Apps\\calc.exe,88:Paint))"},
                {75, u"[{\"x\":\"" + kLongPath + u"\"}]",
                 "runAppOptions(88:B,88:C:\\\\Apps\\\\calc.exe,88:Paint,88:" + kCutPath + ")"},
                {75, u"[{\"y\":\"" + kLongPath + u"q\"}]",
                 "runAppOptions(88:B,88:C:\\\\Apps\\\\calc.exe,88:Paint,88:" + kCutPath + ",88:" + kCutPath + ")"}}},
        Script{"zoom extremes are read",
               {{kZoom, u"{-2147483648,2147483647,0,-1}", "zoom(-2147483648,2147483647,0,-1)"}}}));

// The families that read a number drop a value that does not read as one:
// nothing is stored, so the last good value is still the cached one.
std::vector<Script> ReadFailures() {
    const std::pair<int, std::string> good[] = {{7, "eraserSingle(5,)"}, {24, "bottomSwitch(-5,,0)"},
                                                {62, "wedge8(2147483647,)"}, {23, "topSwitch(0,,1)"},
                                                {72, "tilt(-2147483648)"}, {kZoom, "zoom(1,2,3,4)"}};
    const std::u16string values[] = {u"5", u"-5", u"2147483647", u"1", u"-2147483648", u"{1,2,3,4}"};
    std::vector<Script> scripts;
    for (std::size_t i = 0; i < std::size(good); ++i) {
        const auto& [id, heard] = good[i];
        std::vector<Step> steps{{id, values[i], heard}};
        for (const std::u16string bad : {u"abc", u" +", u"2147483648", u"{1,2,3,x}"}) {
            steps.push_back({id, bad, ""});
            steps.push_back({id, values[i], ""});
        }
        scripts.push_back({"a value that does not read is dropped", steps});
    }
    return scripts;
}

INSTANTIATE_TEST_SUITE_P(ReadFailures, DispatchScript, ::testing::ValuesIn(ReadFailures()));

// A zoom map is four numbers between braces and commas, or nothing is
// stored: the map held before stays whole.
std::vector<Script> ZoomForms() {
    std::vector<Script> scripts;
    for (const std::u16string accepted :
         {u"{1,2,3,4}", u"1,2,3,4", u"{1,,2,3,4}", u"{1, 2, 3, 4}", u"}1{2}3,4{", u"{1,2,3,4abc}"})
        scripts.push_back({"accepted", {{kZoom, u"{9,9,9,9}", "zoom(9,9,9,9)"}, {kZoom, accepted, "zoom(1,2,3,4)"}}});
    for (const std::u16string refused :
         {u"{1,2,3}", u"{1,2,3,4,5}", u"", u"{}", u"{1,2,3, }", u"{1,2,3,2147483648}", u"{1 2 3 4}"})
        scripts.push_back(
            {"refused", {{kZoom, u"{9,9,9,9}", "zoom(9,9,9,9)"}, {kZoom, refused, ""}, {kZoom, u"{9,9,9,9}", ""}}});
    return scripts;
}

INSTANTIATE_TEST_SUITE_P(ZoomForms, DispatchScript, ::testing::ValuesIn(ZoomForms()));

// The pairs of an option-list value, by the codes they add.
std::vector<Script> OptionPairs() {
    const std::pair<std::u16string, std::string> cases[] = {
        {uR"([{"1":"a"}])", "1"},
        {uR"({"1":"a"})", ""},                             // the first character never begins a pair
        {uR"({"1":"a"},{"2":"b"})", "2"},
        {uR"(x{"1":"a"}{"2":"b"},{"3":"c"})", "1,3"},      // the unseparated pair is skipped
        {uR"([{"1":"a"},{"2":"b"},{"3")", "1,2"},          // a malformed tail keeps the pairs before it
        {uR"([{"1":"a"},{"2":"b)", "1"},
        {uR"([{"1":"a"},{"x":"b"},{"3":"c"}])", "1,3"},    // a first string that does not read is skipped
        {uR"([{" 4":"a"},{"5abc":"b"},{"-2":"c"}])", "-2,4,5"},
        {uR"([{"2147483648":"a"},{"":"b"},{"7":""}])", "7"},
        {uR"([{"1":"a"},{"1":"b"}])", "1"},
        {uR"([{"1" : "a"},{"2":"b"}])", "1"},              // the first string runs to the next separator
    };
    std::vector<Script> scripts;
    for (const auto& [value, codes] : cases) scripts.push_back({"pairs", {{76, value, "topSingleOptions(" + codes + ")"}}});
    return scripts;
}

INSTANTIATE_TEST_SUITE_P(OptionPairs, DispatchScript, ::testing::ValuesIn(OptionPairs()));

// ---- Buttons: function codes and texts, for every button -----------------

struct ButtonCase {
    int baseId;
    int slot;
    std::string name;
};

class ButtonTest : public ClientTest, public ::testing::WithParamInterface<ButtonCase> {
protected:
    // What the host hears of the button holding this code and text.
    std::string Report(std::int32_t code, const std::string& text) const {
        const bool sideSwitch = GetParam().slot == kOnTopSwitch || GetParam().slot == kOnBottomSwitch;
        return GetParam().name + "(" + std::to_string(code) + "," + text + (sideSwitch ? ",0)" : ")");
    }
};

TEST_P(ButtonTest, ANewCodeEmptiesTheTextAndTheLastTextWins) {
    const int base = GetParam().baseId;
    EXPECT_EQ(Heard(base, u"23"), Report(23, ""));
    EXPECT_EQ(Heard(base + 1, uR"(C:\Apps\paint.exe)"), Report(23, R"(C:\Apps\paint.exe)"));
    EXPECT_EQ(Heard(base + 3, u"ctrl+z"), Report(23, "ctrl+z"));
    EXPECT_EQ(Heard(base + 1, u"ctrl+z"), "") << "both text keys write the same text";
    EXPECT_EQ(Heard(base, u"23"), "") << "the same code again changes nothing";
    EXPECT_EQ(Heard(base, u"8"), Report(8, ""));
    EXPECT_EQ(Heard(base + 3, u""), "");
    EXPECT_EQ(Heard(base, u""), "");
    EXPECT_EQ(Heard(base + 3, kKept + u"tail"), Report(8, kKeptText)) << "cut to 511 units";
    EXPECT_EQ(Heard(base + 3, kKept + u"tail"), "");
    EXPECT_EQ(Heard(base + 1, kKept + u"other tail"), "") << "compared as it is stored";
    EXPECT_EQ(Heard(base + 1, u""), Report(8, ""));
}

TEST_P(ButtonTest, TheHostGetsAPointerIntoTheClientsOwnRecords) {
    const std::vector<Call> calls = Feed(GetParam().baseId, u"8");
    ASSERT_EQ(calls.size(), 1u);
    const void* records[] = {&client->m_eraserSingle, &client->m_eraserDouble, &client->m_eraserLong,
                             &client->m_topSwitch,    &client->m_bottomSwitch, client->m_menuWedges};
    EXPECT_EQ(calls[0].pointer, records[GetParam().slot - kOnEraserSinglePress]);
}

std::vector<ButtonCase> EveryButton() {
    std::vector<ButtonCase> buttons = {{7, kOnEraserSinglePress, "eraserSingle"}, {11, kOnEraserDoublePress, "eraserDouble"},
                                       {15, kOnEraserLongPress, "eraserLong"},    {19, kOnTopSwitch, "topSwitch"},
                                       {24, kOnBottomSwitch, "bottomSwitch"}};
    for (int wedge = 0; wedge < 10; ++wedge) buttons.push_back({30 + 4 * wedge, kOnMenuOp, "wedge" + std::to_string(wedge)});
    return buttons;
}

INSTANTIATE_TEST_SUITE_P(EveryButton, ButtonTest, ::testing::ValuesIn(EveryButton()));

// ---- What scripts do not show --------------------------------------------

using DispatchTest = ClientTest;

TEST_F(DispatchTest, HostsAreCalledOnTheDispatchingThreadWithTheirContext) {
    std::vector<Call> calls;
    std::thread sync([&] { calls = Feed(0, u"2.1.0"); });
    const std::thread::id syncId = sync.get_id();
    sync.join();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].context, &host);
    EXPECT_EQ(calls[0].thread, syncId);
}

TEST_F(DispatchTest, WedgesAreReportedAsOneArrayInIdOrder) {
    for (int wedge = 0; wedge < 10; ++wedge) Feed(30 + 4 * wedge, u"10" + std::u16string(1, u'0' + wedge));
    auto calls = Feed(69, u"last");
    ASSERT_EQ(calls.size(), 1u);
    for (int wedge = 0; wedge < 10; ++wedge) EXPECT_EQ(calls[0].wedges.at(wedge).function, 100 + wedge);
    EXPECT_EQ(Text(calls[0].wedges[9].text), u"last");
}

TEST_F(DispatchTest, AnOverLongTextNeverReachesTheNextRecord) {
    Feed(11, u"77");
    Feed(8, std::u16string(5000, u'x'));
    EXPECT_EQ(client->m_eraserDouble.function, 77);
}

TEST_F(DispatchTest, EveryListIsReportedWholeWithEveryValueEvenAnEmptyOne) {
    for (int id = 75; id <= 80; ++id) {
        SCOPED_TRACE(id);
        std::vector<Call> calls = Feed(id, u"");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].number, 0u);
        EXPECT_NE(calls[0].pointer, nullptr) << "an empty list comes with a valid pointer";
        for (const std::u16string value : {uR"([{"5":"5"}])", uR"([{"5":"5"}])", u"garbage"}) {
            calls = Feed(id, value);
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].slot, kOnRunAppOptions + (id - 75));
            EXPECT_EQ(calls[0].number, 1u);
        }
    }
}

TEST_F(DispatchTest, CachedOnlyValuesKeepTheLastGoodOne) {
    for (const std::u16string value : {u"5", u"", u"x", u"4294967296"}) {
        Dispatch(29, value);
        Dispatch(71, value);
        EXPECT_EQ(client->m_menuCenterRightClick, 1u);
        EXPECT_EQ(client->m_batteryAlertDelay, 5);
    }
    Dispatch(29, u"0");
    EXPECT_EQ(client->m_menuCenterRightClick, 0u);
}

TEST_F(DispatchTest, CapturedKeystrokesAreKeptWhole) {
    for (const std::u16string& keys :
         {std::u16string(u"abc"), std::u16string(), std::u16string(u"ctrl+\"\\"), std::u16string(3000, u'q')}) {
        Dispatch(74, keys);
        EXPECT_EQ(client->m_capturedKeys, keys);
    }
}

TEST_F(DispatchTest, OnlyKeysSpelledAsTheyTravelReachAHandler) {
    // The key of id 72 with one backslash at each separator.
    client->DispatchValue(u"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity", u"7");
    client->DispatchValue(uR"(ComponentsDriver\\BTButtonHandler\\KeystrokeCapture)", u"1");
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(Heard(72, u"7"), "tilt(7)");
}

TEST_F(DispatchTest, NothingRunsOnAClientThatIsShuttingDown) {
    client->m_shuttingDown = true;
    EXPECT_EQ(Heard(72, u"7"), "");
    client->m_shuttingDown = false;
    EXPECT_EQ(Heard(72, u"7"), "tilt(7)");
}

}  // namespace
