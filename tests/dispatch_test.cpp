// Values fed to their handlers as the sync thread feeds them, and what the
// hosts hear of them.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "dispatch/handlers.h"
#include "settings/setting_table.h"
#include "test_support.h"

namespace {

using namespace PevraNUV;
using ptsa_test::Recorder;
using Id = SettingId;

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override { hosts.Register(&Recorder::kTable, &recorder); }
    std::string Heard(Id id, const std::u16string& value) {
        recorder.Take();
        HandleValue(SettingOf(id).binding, cache, hosts, value);
        return recorder.Take();
    }
    ValueCache cache;
    HostRegistry hosts;
    Recorder recorder;
};

struct Step {
    Id id;
    std::u16string value;
    std::string heard;
};
struct Script {
    const char* name;
    std::vector<Step> steps;
};

const std::u16string kSixteen(16, u'6'), kLong(700, u'p');
const std::string kCut(511, 'p');

const Script kScripts[] = {
    {"versions are reported together until one outgrows its field",
     {{Id::ServiceVersion, u"2.1.0", "versions(2.1.0,)"}, {Id::HidRouterVersion, u"7.3", "versions(2.1.0,7.3)"},
      {Id::HidRouterVersion, u"7.3", ""}, {Id::ServiceVersion, kSixteen, ""}, {Id::HidRouterVersion, u"x", ""},
      {Id::ServiceVersion, u"3", "versions(3,x)"}}},
    {"an unknown current pen is filed silently and reported when named again",
     {{Id::CurrentPenSerial, u"QRE-1", ""}, {Id::CurrentPenSerial, u"QRE-1", "pen(QRE-1,,,0)"}}},
    {"pairs are filed in either order, then both halves are emptied",
     {{Id::PenId, u"PEN-7", ""}, {Id::PenSerial, u"QRE-1", ""}, {Id::BtSerial, u"QRE-1", ""}, {Id::BtId, u"BT-9", ""},
      {Id::PenId, u"PEN-8", ""}, {Id::CurrentPenSerial, u"QRE-1", "pen(QRE-1,PEN-7,BT-9,0)"}}},
    {"over-long serials and ids are cut in the record only",
     {{Id::PenSerial, u"0123456789ABCDEFGHIJ", ""}, {Id::PenId, u"abcdefghijklmnopqrst", ""},
      {Id::CurrentPenSerial, u"0123456789ABCDEFGHIJ", "pen(0123456789ABCDE,abcdefghijklmno,,0)"}}},
    {"a battery status counts once a pen is on file, and every one is reported",
     {{Id::PenBatteryStatus, u"80", ""}, {Id::CurrentPenSerial, u"Q", ""}, {Id::PenBatteryStatus, u"80", "pen(Q,,,80)"},
      {Id::PenBatteryStatus, u"80", "pen(Q,,,80)"}, {Id::PenBatteryStatus, u"", "pen(Q,,,80)"},
      {Id::PenBatteryStatus, u"full", ""}, {Id::PenBatteryStatus, u"2147483648", ""}}},
    {"hover clicks are flags of their own switch",
     {{Id::TopHoverClick, u"5", "topSwitch(0,,1)"}, {Id::TopHoverClick, u"1", ""},
      {Id::BottomHoverClick, u"-7", "bottomSwitch(0,,1)"}, {Id::TopHoverClick, u"0", "topSwitch(0,,0)"}}},
    {"sensitivities are reported when they change, read as int32",
     {{Id::TiltSensitivity, u"-3", "tilt(-3)"}, {Id::TiltSensitivity, u"-3", ""}, {Id::TiltSensitivity, u"", ""},
      {Id::TipSensitivity, u"12abc", "tip(12)"}, {Id::TipSensitivity, u"2147483648", ""},
      {Id::TipSensitivity, u"-2147483648", "tip(-2147483648)"}}},
    {"quiet settings and function names call nobody",
     {{Id::MenuCenterRightClick, u"5", ""}, {Id::BatteryAlertDelay, u"5", ""}, {Id::CapturedKeystrokes, u"abc", ""},
      {Id::EraserSingleFunctionName, u"8", ""}, {Id::WedgeOutsideFunctionName, u"8", ""}}},
    {"a zoom map is four numbers or nothing",
     {{Id::SlavedDisplayZoomMap, u"{1,2,3,4}", "zoom(1,2,3,4)"}, {Id::SlavedDisplayZoomMap, u"1,,2,3,4", ""},
      {Id::SlavedDisplayZoomMap, u"{1,2,3}", ""}, {Id::SlavedDisplayZoomMap, u"{1,2,3,4,5}", ""},
      {Id::SlavedDisplayZoomMap, u"{1,2,3,x}", ""}, {Id::SlavedDisplayZoomMap, u"{-2147483648,2,3,4}",
                                                     "zoom(-2147483648,2,3,4)"}}},
    {"option codes accumulate and are reported ascending with every value",
     {{Id::TopButtonSingleOptionsList, uR"([{"3":"x"},{"1":"y"}])", "topSingleOptions(1,3)"},
      {Id::TopButtonSingleOptionsList, uR"([{"2":"z"},{"q":"w"}])", "topSingleOptions(1,2,3)"},
      {Id::TopButtonSingleOptionsList, uR"({"4":"a"})", "topSingleOptions(1,2,3)"},
      {Id::TopButtonSingleOptionsList, uR"(x{"5":"a"}{"6":"b"},{"7":"c"})", "topSingleOptions(1,2,3,5,7)"},
      {Id::TopButtonSingleOptionsList, u"", "topSingleOptions(1,2,3,5,7)"}}},
    {"each list has its own slot",
     {{Id::TopButtonDoubleOptionsList, uR"([{"1":"a"}])", "topDoubleOptions(1)"},
      {Id::TopButtonLongOptionsList, uR"([{"2":"a"}])", "topLongOptions(2)"},
      {Id::SideSwitchOptionsList, uR"([{"3":"a"}])", "sideSwitchOptions(3)"},
      {Id::RadialWedgeOptionsList, u"", "radialWedgeOptions()"}}},
    {"run-application options are keyed by their text, cut in the record only",
     {{Id::RunAppOptionsList, uR"([{"A":"B"},{"C":"B"}])", "runAppOptions(88:B)"},
      {Id::RunAppOptionsList, u"[{\"x\":\"" + kLong + u"\"}]", "runAppOptions(88:B,88:" + kCut + ")"}}},
};

TEST_F(Dispatch, HostsHearWhatChanged) {
    for (const Script& script : kScripts) {
        SCOPED_TRACE(script.name);
        cache = ValueCache();
        for (std::size_t step = 0; step < script.steps.size(); ++step)
            EXPECT_EQ(Heard(script.steps[step].id, script.steps[step].value), script.steps[step].heard) << "step " << step;
    }
}

// Every button, through its four settings: the slot, the record the host
// is handed (the cache's own), and the code and text rules.
TEST_F(Dispatch, EveryButtonKeepsItsCodeAndText) {
    std::vector<std::tuple<Id, std::string, const void*>> all = {
        {Id::EraserSingleFunction, "eraserSingle", &cache.m_eraserSingle},
        {Id::EraserDoubleFunction, "eraserDouble", &cache.m_eraserDouble},
        {Id::EraserLongFunction, "eraserLong", &cache.m_eraserLong},
        {Id::TopSwitchFunction, "topSwitch", &cache.m_topSwitch},
        {Id::BottomSwitchFunction, "bottomSwitch", &cache.m_bottomSwitch}};
    for (int wedge = 0; wedge < kWedgeCount; ++wedge)
        all.emplace_back(WedgeFunction(wedge), "wedge" + std::to_string(wedge), cache.m_menuWedges);
    for (const auto& [function, name, record] : all) {
        SCOPED_TRACE(name);
        const ButtonSettings keys = ButtonGroup(function);
        const std::string prefix = name + "(", hover = name.find("Switch") != std::string::npos ? ",0)" : ")";
        const auto report = [&](const std::string& codeAndText) { return prefix + codeAndText + hover; };
        EXPECT_EQ(Heard(keys.function, u"23"), report("23,"));
        HandleValue(SettingOf(keys.appPath).binding, cache, hosts, uR"(C:\paint.exe)");
        ASSERT_EQ(recorder.pointers.size(), 1u);
        EXPECT_EQ(recorder.pointers[0], record) << "the host reads the cache's own record";
        EXPECT_EQ(recorder.Take(), report(R"(23,C:\paint.exe)"));
        EXPECT_EQ(Heard(keys.keystrokes, u"ctrl+z"), report("23,ctrl+z")) << "both texts write the one text";
        EXPECT_EQ(Heard(keys.appPath, u"ctrl+z"), "");
        EXPECT_EQ(Heard(keys.function, u"8"), report("8,")) << "a new code empties the text";
        EXPECT_EQ(Heard(keys.function, u"x"), "");
        EXPECT_EQ(Heard(keys.keystrokes, kLong), report("8," + kCut)) << "cut to 511 units";
        EXPECT_EQ(Heard(keys.appPath, kLong + u"tail"), "") << "compared as it is stored";
    }
}

TEST_F(Dispatch, QuietValuesAreKept) {
    Heard(Id::MenuCenterRightClick, u"5");
    Heard(Id::BatteryAlertDelay, u"-5");
    Heard(Id::MenuCenterRightClick, u"x");
    EXPECT_EQ(cache.m_menuCenterRightClick, 1);
    EXPECT_EQ(cache.m_batteryAlertDelay, -5);
}

std::string g_order;

TEST(HostRegistry, ReportsAtRegistrationAndCallsInAddressOrder) {
    Recorder first, second;
    PevraNUV_Callbacks tables[2] = {Recorder::kTable, Recorder::kTable};
    HostRegistry hosts;
    hosts.Register(nullptr, nullptr);
    hosts.Register(&tables[1], &first);
    hosts.Register(&tables[0], &first);
    hosts.Register(&tables[1], &second);  // once more: one entry, the new context
    EXPECT_EQ(second.Take(), "wedges(10)\nrangeA(0,6)\nrangeB(-90,90)");
    tables[0].OnTiltSensitivity = [](void*, std::int32_t) { g_order += "0"; };
    tables[1].OnTiltSensitivity = [](void*, std::int32_t) { g_order += "1"; };
    tables[0].OnTipSensitivity = nullptr;  // a slot changed after registration counts at once
    first.Take();
    std::thread([&] {
        hosts.NotifyHosts(&PevraNUV_Callbacks::OnTiltSensitivity, 7);
        hosts.NotifyHosts(&PevraNUV_Callbacks::OnTipSensitivity, 7);
    }).join();
    EXPECT_EQ(g_order, "01");
    EXPECT_EQ(first.Take(), "");
    EXPECT_EQ(second.Take(), "tip(7)");
}

}  // namespace
