// Values of single settings, fed through DispatchValue as the sync thread
// feeds them, and what the hosts see of them.
#include <string>
#include <tuple>
#include <vector>

#include "settings/catalogue.h"
#include "test_support.h"

namespace {

using namespace ptsa_test;
using DispatchTest = ClientTest;

TEST_F(DispatchTest, VersionsAreReportedTogetherOnTheDispatchingThread) {
    std::vector<Call> calls;
    std::thread sync([&] { calls = Feed(0, u"2.1.0"); });
    const std::thread::id syncId = sync.get_id();
    sync.join();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].slot, kOnVersions);
    EXPECT_EQ(calls[0].context, &host);
    EXPECT_EQ(calls[0].thread, syncId);
    EXPECT_EQ(Text(calls[0].versions.serviceVersion), u"2.1.0");
    EXPECT_EQ(Text(calls[0].versions.hidRouterVersion), u"");

    calls = Feed(1, u"7.3");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Text(calls[0].versions.serviceVersion), u"2.1.0");
    EXPECT_EQ(Text(calls[0].versions.hidRouterVersion), u"7.3");
    EXPECT_TRUE(Feed(1, u"7.3").empty());
    EXPECT_EQ(Feed(1, u"").size(), 1u) << "an empty version is stored and reported";
}

TEST_F(DispatchTest, AVersionOfSixteenCharactersIsStoredAndSilencesBothUntilItFitsAgain) {
    const std::u16string fifteen(15, u'5'), sixteen(16, u'6');
    for (auto [id, field, other] : {std::tuple{0, &PevraNUV_Versions::serviceVersion, 1},
                                    std::tuple{1, &PevraNUV_Versions::hidRouterVersion, 0}}) {
        auto calls = Feed(id, fifteen);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(Text(calls[0].versions.*field), fifteen);
        EXPECT_TRUE(Feed(id, sixteen).empty());
        EXPECT_EQ(id == 0 ? client->m_serviceVersion : client->m_hidRouterVersion, sixteen);
        EXPECT_TRUE(Feed(other, u"x" + std::u16string(1, u'0' + id)).empty()) << "the other waits too";
        EXPECT_EQ(Feed(id, fifteen).size(), 1u);
    }
}

// ---- Buttons: function codes and texts, for every button.

struct ButtonCase {
    int baseId;
    int slot;
    std::size_t index;
};

class ButtonTest : public ClientTest, public ::testing::WithParamInterface<ButtonCase> {
protected:
    // The one report a value must give: the button's slot and index, a
    // pointer into the client's own records, the code and the text.
    void ExpectReport(const std::vector<Call>& calls, std::int32_t code, const std::u16string& text) {
        const auto [base, slot, index] = GetParam();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].slot, slot);
        const void* records[] = {&client->m_eraserSingle, &client->m_eraserDouble, &client->m_eraserLong,
                                 &client->m_topSwitch,    &client->m_bottomSwitch, client->m_menuWedges};
        EXPECT_EQ(calls[0].pointer, records[slot - kOnEraserSinglePress]);
        if (slot == kOnMenuOp) EXPECT_EQ(calls[0].number, index);
        EXPECT_EQ(calls[0].Button().function, code);
        EXPECT_EQ(Text(calls[0].Button().text), text);
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
    EXPECT_TRUE(Feed(base + 3, u"").empty());
    EXPECT_TRUE(Feed(base, u"").empty());
    Feed(base + 3, u"a");
    ExpectReport(Feed(base + 1, u""), 8, u"");
}

TEST_P(ButtonTest, ATextLongerThan511UnitsIsCutAndReportedOnce) {
    const int base = GetParam().baseId;
    const std::u16string kept(511, u'k');
    ExpectReport(Feed(base + 3, kept + u"tail"), 0, kept);
    EXPECT_TRUE(Feed(base + 3, kept + u"tail").empty());
    EXPECT_TRUE(Feed(base + 1, kept + u"other tail").empty());
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
    auto calls = Feed(69, u"last");
    ASSERT_EQ(calls.size(), 1u);
    for (int wedge = 0; wedge < 10; ++wedge) EXPECT_EQ(calls[0].records.at(wedge).function, 100 + wedge);
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
        ASSERT_EQ(calls.size(), 1u);
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
    for (auto [id, slot] : {std::pair{72, kOnTiltSensitivity}, std::pair{73, kOnTipSensitivity}}) {
        auto calls = Feed(id, u"-3");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].slot, slot);
        EXPECT_EQ(calls[0].value, -3);
        EXPECT_TRUE(Feed(id, u"-3").empty());
        EXPECT_TRUE(Feed(id, u"").empty());
    }
}

TEST_F(DispatchTest, CachedOnlyValuesAreKeptAndNobodyIsTold) {
    for (const std::u16string value : {u"5", u"", u"x", u"4294967296"}) {
        EXPECT_TRUE(Feed(29, value).empty());
        EXPECT_TRUE(Feed(71, value).empty());
        EXPECT_EQ(client->m_menuCenterRightClick, 1u) << "empty and unreadable values keep the last";
        EXPECT_EQ(client->m_batteryAlertDelay, 5);
    }
    Feed(29, u"0");
    EXPECT_EQ(client->m_menuCenterRightClick, 0u);
}

TEST_F(DispatchTest, FirstValuesEqualToTheFreshCacheAreNotReported) {
    for (int id : {7, 11, 15, 19, 24, 30, 66, 23, 28, 72, 73}) EXPECT_TRUE(Feed(id, u"0").empty()) << id;
    EXPECT_TRUE(Feed(81, u"{0,0,0,0}").empty());
}

// ---- Zoom map.

class ZoomTest : public ClientTest, public ::testing::WithParamInterface<std::pair<std::u16string, bool>> {};

TEST_P(ZoomTest, FourNumbersBetweenBracesAndCommas) {
    const auto& [value, accepted] = GetParam();
    Feed(81, u"{9,9,9,9}");
    auto calls = Feed(81, value);
    ASSERT_EQ(calls.size(), accepted ? 1u : 0u);
    const PevraNUV_ZoomMap zoom = accepted ? calls[0].zoom : client->m_zoomMap;
    const std::vector<int> expected = accepted ? std::vector<int>{1, 2, 3, 4} : std::vector<int>{9, 9, 9, 9};
    EXPECT_EQ((std::vector<int>{zoom.a, zoom.b, zoom.c, zoom.d}), expected) << "nothing is stored in part";
}

INSTANTIATE_TEST_SUITE_P(
    Values, ZoomTest,
    ::testing::Values(std::pair{u"{1,2,3,4}", true}, std::pair{u"1,2,3,4", true}, std::pair{u"{1,,2,3,4}", true},
                      std::pair{u"{1, 2, 3, 4}", true}, std::pair{u"}1{2}3,4{", true},
                      std::pair{u"{1,2,3,4abc}", true}, std::pair{u"{1,2,3}", false},
                      std::pair{u"{1,2,3,4,5}", false}, std::pair{u"", false}, std::pair{u"{}", false},
                      std::pair{u"{1,2,3,x}", false}, std::pair{u"{1,2,3, }", false},
                      std::pair{u"{1,2,3,2147483648}", false}, std::pair{u"{1 2 3 4}", false}));

TEST_F(DispatchTest, ZoomExtremesAreRead) {
    auto calls = Feed(81, u"{-2147483648,2147483647,0,-1}");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].zoom.a, INT32_MIN);
    EXPECT_EQ(calls[0].zoom.b, INT32_MAX);
    EXPECT_EQ(calls[0].zoom.d, -1);
}

TEST_F(DispatchTest, CapturedKeystrokesAreKeptWholeAndNobodyIsTold) {
    for (const std::u16string keys : {u"abc", u"", u"ctrl+\"\\"}) {
        EXPECT_TRUE(Feed(74, keys).empty());
        EXPECT_EQ(client->m_capturedKeys, keys);
    }
    Feed(74, std::u16string(3000, u'q'));
    EXPECT_EQ(client->m_capturedKeys.size(), 3000u);
}

// ---- Read failures: the value is dropped; the cache keeps the last good one.

class ReadFailureTest : public ClientTest, public ::testing::WithParamInterface<std::pair<int, std::u16string>> {};

TEST_P(ReadFailureTest, AValueThatIsNotAnInt32IsDropped) {
    const auto& [id, good] = GetParam();
    ASSERT_EQ(Feed(id, good).size(), 1u);
    for (const std::u16string bad : {u"abc", u"-", u" +", u"2147483648", u"-2147483649", u"99999999999999999999"}) {
        EXPECT_TRUE(Feed(id, bad).empty()) << id;
        EXPECT_TRUE(Feed(id, good).empty()) << id;
    }
}

INSTANTIATE_TEST_SUITE_P(NumberFamilies, ReadFailureTest,
                         ::testing::Values(std::pair{7, u"5"}, std::pair{24, u"-5"}, std::pair{62, u"2147483647"},
                                           std::pair{23, u"1"}, std::pair{28, u"3"}, std::pair{72, u"-2147483648"},
                                           std::pair{73, u"12abc"}, std::pair{81, u"{1,2,3,4}"}));

// ---- Keys without a handler.

TEST_F(DispatchTest, KeysWithoutAHandlerAreDropped) {
    for (int id : {9, 13, 17, 21, 26, 32, 36, 40, 44, 48, 52, 56, 60, 64, 68}) {
        EXPECT_FALSE(PevraNUV::HandlerForSetting(id)) << id;
        EXPECT_TRUE(Feed(id, u"8").empty()) << id;
    }
    // The key of id 72 with one backslash at each separator.
    client->DispatchValue(u"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity", u"7");
    client->DispatchValue(uR"(ComponentsDriver\\BTButtonHandler\\KeystrokeCapture)", u"1");
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(client->m_tiltSensitivity, 0);
    for (const auto& [key, handler] : PevraNUV::HandlerTable) EXPECT_TRUE(handler);
}

TEST_F(DispatchTest, NothingRunsOnAClientThatIsShuttingDown) {
    client->m_shuttingDown = true;
    EXPECT_TRUE(Feed(72, u"7").empty());
    EXPECT_EQ(client->m_tiltSensitivity, 0);
}

}  // namespace
