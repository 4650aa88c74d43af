// Values of single settings, fed through DispatchValue as the sync thread
// feeds them, and what the hosts see of them.
#include <string>
#include <tuple>
#include <vector>

#include "settings/catalogue.h"
#include "test_support.h"

namespace {

using namespace ptsa_test;
using PevraNUV::KeyOf;

class DispatchTest : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        RegisterRecorder();
    }
    // The calls made by one value, forgotten afterwards.
    std::vector<Call> Feed(int id, const std::u16string& value) {
        Journal::Instance().Clear();
        Dispatch(id, value);
        std::vector<Call> calls = Calls();
        Journal::Instance().Clear();
        return calls;
    }
};

// ---- Versions.

TEST_F(DispatchTest, VersionsAreReportedTogether) {
    auto calls = Feed(0, u"2.1.0");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].slot, kOnVersions);
    EXPECT_EQ(calls[0].context, &host);
    EXPECT_EQ(calls[0].thread, std::this_thread::get_id());
    EXPECT_EQ(Text(calls[0].versions.serviceVersion), u"2.1.0");
    EXPECT_EQ(Text(calls[0].versions.hidRouterVersion), u"");

    calls = Feed(1, u"7.3");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Text(calls[0].versions.serviceVersion), u"2.1.0");
    EXPECT_EQ(Text(calls[0].versions.hidRouterVersion), u"7.3");

    EXPECT_TRUE(Feed(1, u"7.3").empty()) << "an unchanged version is not reported";
}

TEST_F(DispatchTest, AVersionOfSixteenCharactersIsStoredAndSilencesBothUntilItFitsAgain) {
    const std::u16string fifteen(15, u'5'), sixteen(16, u'6');
    // Each version in turn is the long one; the other changes meanwhile.
    for (auto [id, version, other] : {std::tuple{0, &PevraNUV_Versions::serviceVersion, 1},
                                      std::tuple{1, &PevraNUV_Versions::hidRouterVersion, 0}}) {
        auto calls = Feed(id, fifteen);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(Text(calls[0].versions.*version), fifteen);

        EXPECT_TRUE(Feed(id, sixteen).empty());
        EXPECT_EQ(id == 0 ? client->m_serviceVersion : client->m_hidRouterVersion, sixteen);
        EXPECT_TRUE(Feed(other, u"1." + std::u16string(1, u'0' + id)).empty()) << "the other version waits too";

        calls = Feed(id, fifteen);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(Text(calls[0].versions.*version), fifteen);
    }
}

TEST_F(DispatchTest, AnEmptyVersionIsStoredAndReported) {
    Feed(0, u"1");
    auto calls = Feed(0, u"");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Text(calls[0].versions.serviceVersion), u"");
}

// ---- Buttons: function codes and texts, for every button.

struct ButtonCase {
    int baseId;
    int slot;
    std::size_t index;
};

class ButtonTest : public DispatchTest, public ::testing::WithParamInterface<ButtonCase> {
protected:
    // Where the hosts' pointer must point: into the client's own records.
    const void* Expected() const {
        const ButtonCase& button = GetParam();
        switch (button.slot) {
        case kOnEraserSinglePress: return &client->m_eraserSingle;
        case kOnEraserDoublePress: return &client->m_eraserDouble;
        case kOnEraserLongPress: return &client->m_eraserLong;
        case kOnTopSwitch: return &client->m_topSwitch;
        case kOnBottomSwitch: return &client->m_bottomSwitch;
        default: return client->m_menuWedges;
        }
    }
    // The one report a value must give: the button's slot, code and text.
    void ExpectReport(const std::vector<Call>& calls, std::int32_t code, const std::u16string& text) {
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].slot, GetParam().slot);
        EXPECT_EQ(calls[0].pointer, Expected());
        if (calls[0].slot != kOnTopSwitch && calls[0].slot != kOnBottomSwitch)
            EXPECT_EQ(calls[0].number, GetParam().index);
        EXPECT_EQ(ReportedButton(calls[0]).function, code);
        EXPECT_EQ(Text(ReportedButton(calls[0]).text), text);
    }
};

TEST_P(ButtonTest, ANewCodeEmptiesTheTextAndTheLastTextWins) {
    const int base = GetParam().baseId;
    ExpectReport(Feed(base, u"23"), 23, u"");
    ExpectReport(Feed(base + 1, uR"(C:\Apps\paint.exe)"), 23, uR"(C:\Apps\paint.exe)");
    ExpectReport(Feed(base + 3, u"ctrl+z"), 23, u"ctrl+z");
    EXPECT_TRUE(Feed(base + 1, u"ctrl+z").empty()) << "both text keys write the same text";
    EXPECT_TRUE(Feed(base, u"23").empty()) << "the same code again changes nothing";
    ExpectReport(Feed(base, u"8"), 8, u"");
    EXPECT_TRUE(Feed(base + 3, u"").empty()) << "an empty text against an empty one changes nothing";
    EXPECT_TRUE(Feed(base, u"").empty()) << "an empty code is ignored";
}

TEST_P(ButtonTest, AnEmptyTextEmptiesAFilledOne) {
    const int base = GetParam().baseId;
    Feed(base + 3, u"a");
    ExpectReport(Feed(base + 3, u""), 0, u"");
}

TEST_P(ButtonTest, ATextLongerThan511UnitsIsCutAndReportedOnce) {
    const int base = GetParam().baseId;
    const std::u16string longText = std::u16string(511, u'k') + u"tail";
    ExpectReport(Feed(base + 3, longText), 0, std::u16string(511, u'k'));
    EXPECT_TRUE(Feed(base + 3, longText).empty());
    EXPECT_TRUE(Feed(base + 1, std::u16string(511, u'k') + u"other tail").empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryButton, ButtonTest,
    ::testing::Values(ButtonCase{7, kOnEraserSinglePress, 0}, ButtonCase{11, kOnEraserDoublePress, 0},
                      ButtonCase{15, kOnEraserLongPress, 0}, ButtonCase{19, kOnTopSwitch, 0},
                      ButtonCase{24, kOnBottomSwitch, 0}, ButtonCase{30, kOnMenuOp, 0}, ButtonCase{34, kOnMenuOp, 1},
                      ButtonCase{38, kOnMenuOp, 2}, ButtonCase{42, kOnMenuOp, 3}, ButtonCase{46, kOnMenuOp, 4},
                      ButtonCase{50, kOnMenuOp, 5}, ButtonCase{54, kOnMenuOp, 6}, ButtonCase{58, kOnMenuOp, 7},
                      ButtonCase{62, kOnMenuOp, 8}, ButtonCase{66, kOnMenuOp, 9}));

TEST_F(DispatchTest, WedgesAreReportedAsOneArrayInIdOrder) {
    for (int wedge = 0; wedge < 10; ++wedge) Feed(30 + 4 * wedge, u"10" + std::u16string(1, u'0' + wedge));
    auto calls = Feed(66 + 3, u"last");
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].records.size(), 10u);
    for (int wedge = 0; wedge < 10; ++wedge) EXPECT_EQ(calls[0].records[wedge].function, 100 + wedge);
    EXPECT_EQ(Text(calls[0].records[9].text), u"last");
}

TEST_F(DispatchTest, AnOverLongTextNeverReachesTheNextRecord) {
    Feed(11, u"77");
    Feed(8, std::u16string(5000, u'x'));
    EXPECT_EQ(client->m_eraserDouble.function, 77);
    EXPECT_EQ(client->m_eraserSingle.text[511], 0);
}

// ---- Numbers: hover clicks, sensitivities, the cached-only values.

TEST_F(DispatchTest, HoverClickIsAFlag) {
    for (auto [id, slot, sideSwitch] : {std::tuple{23, kOnTopSwitch, &client->m_topSwitch},
                                        std::tuple{28, kOnBottomSwitch, &client->m_bottomSwitch}}) {
        auto calls = Feed(id, u"5");
        ASSERT_EQ(calls.size(), 1u) << id;
        EXPECT_EQ(calls[0].slot, slot);
        EXPECT_EQ(calls[0].pointer, sideSwitch);
        EXPECT_EQ(calls[0].sideSwitch.hoverClick, 1u);
        EXPECT_TRUE(Feed(id, u"1").empty());
        calls = Feed(id, u"0");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].sideSwitch.hoverClick, 0u);
    }
}

TEST_F(DispatchTest, SensitivitiesAreReportedWhenTheyChange) {
    auto calls = Feed(72, u"7");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].slot, kOnTiltSensitivity);
    EXPECT_EQ(calls[0].value, 7);
    calls = Feed(73, u"-3");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].slot, kOnTipSensitivity);
    EXPECT_EQ(calls[0].value, -3);
    EXPECT_TRUE(Feed(72, u"7").empty());
    EXPECT_TRUE(Feed(73, u"").empty());
}

TEST_F(DispatchTest, CachedOnlyValuesAreKeptAndNobodyIsTold) {
    EXPECT_TRUE(Feed(29, u"5").empty());
    EXPECT_EQ(client->m_menuCenterRightClick, 1u);
    EXPECT_TRUE(Feed(71, u"-30").empty());
    EXPECT_EQ(client->m_batteryAlertDelay, -30);
    Feed(29, u"");
    Feed(71, u"");
    EXPECT_EQ(client->m_menuCenterRightClick, 1u) << "empty values are ignored";
    EXPECT_EQ(client->m_batteryAlertDelay, -30);
    Feed(29, u"0");
    EXPECT_EQ(client->m_menuCenterRightClick, 0u);
}

TEST_F(DispatchTest, FirstValuesEqualToTheFreshCacheAreNotReported) {
    for (int id : {7, 11, 15, 19, 24, 30, 66}) EXPECT_TRUE(Feed(id, u"0").empty()) << id;
    for (int id : {23, 28, 72, 73}) EXPECT_TRUE(Feed(id, u"0").empty()) << id;
    EXPECT_TRUE(Feed(81, u"{0,0,0,0}").empty());
}

// ---- Zoom map.

struct ZoomCase {
    std::u16string value;
    bool accepted;
};

class ZoomTest : public DispatchTest, public ::testing::WithParamInterface<ZoomCase> {};

TEST_P(ZoomTest, FourNumbersBetweenBracesAndCommas) {
    Feed(81, u"{9,9,9,9}");
    auto calls = Feed(81, GetParam().value);
    if (!GetParam().accepted) {
        EXPECT_TRUE(calls.empty());
        EXPECT_EQ(client->m_zoomMap.a, 9) << "nothing is stored, not even in part";
        EXPECT_EQ(client->m_zoomMap.d, 9);
        return;
    }
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].slot, kOnSlavedDisplayZoom);
    EXPECT_EQ(calls[0].zoom.a, 1);
    EXPECT_EQ(calls[0].zoom.b, 2);
    EXPECT_EQ(calls[0].zoom.c, 3);
    EXPECT_EQ(calls[0].zoom.d, 4);
    EXPECT_TRUE(Feed(81, u"{1,2,3,4}").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, ZoomTest,
    ::testing::Values(ZoomCase{u"{1,2,3,4}", true}, ZoomCase{u"1,2,3,4", true}, ZoomCase{u"{1,,2,3,4}", true},
                      ZoomCase{u"{1, 2, 3, 4}", true}, ZoomCase{u"}1{2}3,4{", true}, ZoomCase{u"{1,2,3,4abc}", true},
                      ZoomCase{u"{1,2,3}", false}, ZoomCase{u"{1,2,3,4,5}", false}, ZoomCase{u"", false},
                      ZoomCase{u"{}", false}, ZoomCase{u"{1,2,3,x}", false}, ZoomCase{u"{1,2,3, }", false},
                      ZoomCase{u"{1,2,3,2147483648}", false}, ZoomCase{u"{1 2 3 4}", false}));

TEST_F(DispatchTest, ZoomExtremesAreRead) {
    auto calls = Feed(81, u"{-2147483648,2147483647,0,-1}");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].zoom.a, INT32_MIN);
    EXPECT_EQ(calls[0].zoom.b, INT32_MAX);
    EXPECT_EQ(calls[0].zoom.d, -1);
}

// ---- Captured keystrokes.

TEST_F(DispatchTest, CapturedKeystrokesAreKeptWholeAndNobodyIsTold) {
    EXPECT_TRUE(Feed(74, u"abc").empty());
    EXPECT_EQ(client->m_capturedKeys, u"abc");
    const std::u16string longKeys(3000, u'q');
    Feed(74, longKeys);
    EXPECT_EQ(client->m_capturedKeys, longKeys);
    Feed(74, u"");
    EXPECT_EQ(client->m_capturedKeys, u"");
}

// ---- Read failures: the value is dropped; nothing changes, nobody is told.

struct ReadFailureCase {
    int id;
    std::u16string good;
};

class ReadFailureTest : public DispatchTest, public ::testing::WithParamInterface<ReadFailureCase> {};

TEST_P(ReadFailureTest, AValueThatIsNotAnInt32IsDropped) {
    const auto& [id, good] = GetParam();
    ASSERT_EQ(Feed(id, good).size(), 1u);
    for (const std::u16string bad : {u"abc", u"-", u" +", u"2147483648", u"-2147483649", u"99999999999999999999"}) {
        EXPECT_TRUE(Feed(id, bad).empty()) << id;
        EXPECT_TRUE(Feed(id, good).empty()) << id << ": the cache still holds the good value";
    }
}

INSTANTIATE_TEST_SUITE_P(NumberFamilies, ReadFailureTest,
                         ::testing::Values(ReadFailureCase{7, u"5"}, ReadFailureCase{24, u"-5"},
                                           ReadFailureCase{62, u"2147483647"}, ReadFailureCase{23, u"1"},
                                           ReadFailureCase{28, u"3"}, ReadFailureCase{72, u"-2147483648"},
                                           ReadFailureCase{73, u"12abc"}, ReadFailureCase{81, u"{1,2,3,4}"}));

TEST_F(DispatchTest, CachedOnlyReadFailuresKeepTheValue) {
    Feed(29, u"1");
    Feed(71, u"40");
    for (const std::u16string bad : {u"x", u"4294967296"}) {
        Feed(29, bad);
        Feed(71, bad);
    }
    EXPECT_EQ(client->m_menuCenterRightClick, 1u);
    EXPECT_EQ(client->m_batteryAlertDelay, 40);
}

// ---- Keys without a handler.

TEST_F(DispatchTest, KeysWithoutAHandlerAreDropped) {
    for (int id : {9, 13, 17, 21, 26, 32, 36, 40, 44, 48, 52, 56, 60, 64, 68}) {
        EXPECT_FALSE(PevraNUV::HandlerForSetting(id)) << id;
        EXPECT_TRUE(Feed(id, u"8").empty()) << id;
    }
    // The key of id 72 with one backslash at each separator.
    client->DispatchValue(u"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity", u"7");
    client->DispatchValue(uR"(ComponentsDriver\\BTButtonHandler\\KeystrokeCapture)", u"1");
    client->DispatchValue(u"", u"7");
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(client->m_tiltSensitivity, 0);
}

TEST(HandlerTable, EveryEntryHasAHandler) {
    ASSERT_EQ(PevraNUV::HandlerTable.size(), 67u);
    for (const auto& [key, handler] : PevraNUV::HandlerTable) EXPECT_TRUE(handler) << std::string(key.begin(), key.end());
    EXPECT_FALSE(PevraNUV::HandlerForSetting(-1));
    EXPECT_FALSE(PevraNUV::HandlerForSetting(82));
}

TEST_F(DispatchTest, NothingRunsOnAClientThatIsShuttingDown) {
    client->m_shuttingDown = true;
    EXPECT_TRUE(Feed(72, u"7").empty());
    EXPECT_EQ(client->m_tiltSensitivity, 0);
}

}  // namespace
