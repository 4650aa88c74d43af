// The batches that the exported setters queue on the process-wide client.
#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "settings/catalogue.h"
#include "test_support.h"

namespace {

using namespace ptsa_test;
using Batch = std::vector<std::u16string>;
using PevraNUV::KeyOf;

// The two request forms, spelled out.
std::u16string Write(int id, const std::u16string& value) { return u"{\"" + KeyOf(id) + u"\":\"" + value + u"\"}"; }
std::u16string Read(int id) { return u"{\"GetVal\":\"" + KeyOf(id) + u"\"}"; }

PevraNUV_ButtonFunction Record(std::int32_t function, const std::u16string& text = u"") {
    PevraNUV_ButtonFunction record{};
    record.function = function;
    std::copy(text.begin(), text.end(), record.text);
    return record;
}

using SetterTest = ExportTest;

TEST_F(SetterTest, TiltSensitivitySevenQueuesTheWriteThenTheRead) {
    PevraNUV_SetTiltSensitivity(7);
    EXPECT_EQ(Outgoing(), (Batch{uR"({"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity":"7"})",
                                 uR"({"GetVal":"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity"})"}));
}

struct ScalarCase {
    void (*setter)(unsigned int);
    int id;
    unsigned int value;
    std::u16string text;
};

class ScalarTest : public ExportTest, public ::testing::WithParamInterface<ScalarCase> {};

TEST_P(ScalarTest, SendsTheValueAsUnsignedDecimal) {
    const ScalarCase& scalar = GetParam();
    scalar.setter(scalar.value);
    EXPECT_EQ(Outgoing(), (Batch{Write(scalar.id, scalar.text), Read(scalar.id)}));
}

INSTANTIATE_TEST_SUITE_P(
    FiveSetters, ScalarTest,
    ::testing::Values(ScalarCase{PevraNUV_SetTopHoverClick, 23, 1, u"1"},
                      ScalarCase{PevraNUV_SetBottomHoverClick, 28, 0, u"0"},
                      ScalarCase{PevraNUV_SetMenuCenterRightClick, 29, 4294967295u, u"4294967295"},
                      ScalarCase{PevraNUV_SetTiltSensitivity, 72, static_cast<unsigned int>(-1), u"4294967295"},
                      ScalarCase{PevraNUV_SetTipSensitivity, 73, 100, u"100"}));

TEST_F(SetterTest, EraserSinglePressWithKeystrokesQueuesFourMessages) {
    const PevraNUV_ButtonFunction record = Record(8, u"a");
    PevraNUV_SetEraserSinglePress(&record);
    EXPECT_EQ(
        Outgoing(),
        (Batch{uR"({"ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunction":"8"})",
               uR"({"GetVal":"ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunction"})",
               uR"({"ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunctionKeystrokes":"a"})",
               uR"({"GetVal":"ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunctionName"})"}));
}

TEST_F(SetterTest, BottomSinglePressWithAnApplicationWritesAndReadsItsPath) {
    const PevraNUV_ButtonFunction record = Record(23, uR"(C:\Apps\paint.exe)");
    PevraNUV_SetBottomSinglePress(&record);
    EXPECT_EQ(Outgoing(), (Batch{Write(24, u"23"), Read(24), Write(25, uR"(C:\Apps\paint.exe)"), Read(25)}));
}

struct ButtonCase {
    void (*setter)(const PevraNUV_ButtonFunction*);
    int baseId;
};

class ButtonSetterTest : public ExportTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ButtonSetterTest, TheCodeDecidesWhetherAndWhereTheTextGoes) {
    const auto [setter, base] = GetParam();
    const struct {
        PevraNUV_ButtonFunction record;
        Batch batch;
    } cases[] = {
        {Record(0, u"ignored"), {Write(base, u"0"), Read(base)}},
        {Record(-1), {Write(base, u"-1"), Read(base)}},
        {Record(INT32_MIN), {Write(base, u"-2147483648"), Read(base)}},
        {Record(INT32_MAX, u"x"), {Write(base, u"2147483647"), Read(base)}},
        {Record(8), {Write(base, u"8"), Read(base), Write(base + 3, u""), Read(base + 2)}},
        {Record(8, u"ctrl+\"q\"\\"), {Write(base, u"8"), Read(base), Write(base + 3, u"ctrl+\"q\"\\"), Read(base + 2)}},
        {Record(23, u"a.exe"), {Write(base, u"23"), Read(base), Write(base + 1, u"a.exe"), Read(base + 1)}},
    };
    for (const auto& [record, batch] : cases) {
        Client().m_outgoing.clear();
        setter(&record);
        EXPECT_EQ(Outgoing(), batch) << record.function;
    }
}

INSTANTIATE_TEST_SUITE_P(
    SixSetters, ButtonSetterTest,
    ::testing::Values(ButtonCase{PevraNUV_SetEraserSinglePress, 7}, ButtonCase{PevraNUV_SetEraserDoublePress, 11},
                      ButtonCase{PevraNUV_SetEraserLongPress, 15}, ButtonCase{PevraNUV_SetTopSinglePress, 19},
                      ButtonCase{PevraNUV_SetBottomSinglePress, 24},
                      ButtonCase{[](const PevraNUV_ButtonFunction* r) { PevraNUV_SetMenuOp(0, r); }, 30},
                      ButtonCase{[](const PevraNUV_ButtonFunction* r) { PevraNUV_SetMenuOp(4, r); }, 46},
                      ButtonCase{[](const PevraNUV_ButtonFunction* r) { PevraNUV_SetMenuOp(9, r); }, 66}));

TEST_F(SetterTest, MenuOpOutsideTheTenWedgesSendsNothing) {
    const PevraNUV_ButtonFunction record = Record(8, u"a");
    for (int index : {10, -1, INT32_MIN, INT32_MAX}) PevraNUV_SetMenuOp(index, &record);
    EXPECT_TRUE(Outgoing().empty());
}

TEST_F(SetterTest, ATextWithoutAZeroIsSentWholeAndNeverReadPast) {
    // The record is the last thing in its allocation: a read past its 512
    // units is a fault under the address sanitizer.
    auto record = std::make_unique<PevraNUV_ButtonFunction>();
    record->function = 8;
    std::fill(std::begin(record->text), std::end(record->text), PevraNUV_Char{u'w'});
    PevraNUV_SetEraserLongPress(record.get());
    EXPECT_EQ(Outgoing(), (Batch{Write(15, u"8"), Read(15), Write(18, std::u16string(512, u'w')), Read(17)}));
}

TEST_F(SetterTest, ZoomMapIsOneBracedValue) {
    PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap{1, -2, 300, 0});
    EXPECT_EQ(Outgoing(), (Batch{uR"({"ComponentsDriver\\SlavedDisplayZoomMap":"{1,-2,300,0}"})",
                                 uR"({"GetVal":"ComponentsDriver\\SlavedDisplayZoomMap"})"}));
    Client().m_outgoing.clear();
    PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap{INT32_MIN, INT32_MAX, -1, 7});
    EXPECT_EQ(Outgoing(), (Batch{Write(81, u"{-2147483648,2147483647,-1,7}"), Read(81)}));
}

TEST_F(SetterTest, ResetSendsFourZerosLikeSettingThem) {
    PevraNUV_ResetSlavedDisplayZoom();
    const Batch reset = Outgoing();
    Client().m_outgoing.clear();
    PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap{0, 0, 0, 0});
    EXPECT_EQ(reset, Outgoing());
    EXPECT_EQ(reset, (Batch{Write(81, u"{0,0,0,0}"), Read(81)}));
}

TEST_F(SetterTest, BatchesFollowEachOtherWhole) {
    const PevraNUV_ButtonFunction record = Record(23, u"x");
    PevraNUV_SetTopSinglePress(&record);
    PevraNUV_SetTipSensitivity(2);
    const Batch queued = Outgoing();
    ASSERT_EQ(queued.size(), 6u);
    EXPECT_EQ(queued[4], Write(73, u"2"));
}

TEST_F(SetterTest, NothingIsQueuedWhileTheClientShutsDown) {
    Client().m_shuttingDown = true;
    const PevraNUV_ButtonFunction record = Record(8, u"a");
    PevraNUV_SetEraserSinglePress(&record);
    PevraNUV_SetTiltSensitivity(1);
    PevraNUV_ResetSlavedDisplayZoom();
    PevraNUV_StartKeyCapture();
    Client().m_shuttingDown = false;
    EXPECT_TRUE(Outgoing().empty());
}

}  // namespace
