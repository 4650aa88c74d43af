// The batches that the exported setters queue on the process-wide client.
#include <algorithm>
#include <climits>
#include <functional>
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

struct SetterCase {
    const char* what;
    std::function<void()> call;
    Batch queued;
};

void PrintTo(const SetterCase& c, std::ostream* out) { *out << c.what; }

class Setter : public ExportTest, public ::testing::WithParamInterface<SetterCase> {};

TEST_P(Setter, QueuesItsBatch) {
    GetParam().call();
    EXPECT_EQ(Outgoing(), GetParam().queued);
}

const PevraNUV_ButtonFunction kKeystrokes = Record(8, u"a"), kPaint = Record(23, uR"(C:\Apps\paint.exe)");

INSTANTIATE_TEST_SUITE_P(
    Exports, Setter,
    ::testing::Values(
        SetterCase{"tilt 7: the write, then the read", [] { PevraNUV_SetTiltSensitivity(7); },
                   {uR"({"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity":"7"})",
                    uR"({"GetVal":"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity"})"}},
        SetterCase{"top hover click", [] { PevraNUV_SetTopHoverClick(1); }, {Write(23, u"1"), Read(23)}},
        SetterCase{"bottom hover click", [] { PevraNUV_SetBottomHoverClick(0); }, {Write(28, u"0"), Read(28)}},
        SetterCase{"centre right click", [] { PevraNUV_SetMenuCenterRightClick(4294967295u); },
                   {Write(29, u"4294967295"), Read(29)}},
        SetterCase{"tilt, unsigned", [] { PevraNUV_SetTiltSensitivity(static_cast<unsigned>(-1)); },
                   {Write(72, u"4294967295"), Read(72)}},
        SetterCase{"tip", [] { PevraNUV_SetTipSensitivity(100); }, {Write(73, u"100"), Read(73)}},
        SetterCase{"keystrokes: written to their key, the name read back",
                   [] { PevraNUV_SetEraserSinglePress(&kKeystrokes); },
                   {uR"({"ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunction":"8"})",
                    uR"({"GetVal":"ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunction"})",
                    uR"({"ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\)"
                    uR"(ButtonFunctionKeystrokes":"a"})",
                    uR"({"GetVal":"ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\)"
                    uR"(ButtonFunctionName"})"}},
        SetterCase{"an application: its path written and read back", [] { PevraNUV_SetBottomSinglePress(&kPaint); },
                   {Write(24, u"23"), Read(24), Write(25, uR"(C:\Apps\paint.exe)"), Read(25)}},
        SetterCase{"a wedge outside the ten",
                   [] {
                       for (int index : {10, -1, INT32_MIN, INT32_MAX}) PevraNUV_SetMenuOp(index, &kKeystrokes);
                   },
                   {}},
        SetterCase{"a text without a zero is sent whole and never read past",
                   [] {
                       // The last thing in its allocation: a read past its 512
                       // units is a fault under the address sanitizer.
                       auto record = std::make_unique<PevraNUV_ButtonFunction>();
                       record->function = 8;
                       std::fill(std::begin(record->text), std::end(record->text), PevraNUV_Char{u'w'});
                       PevraNUV_SetEraserLongPress(record.get());
                   },
                   {Write(15, u"8"), Read(15), Write(18, std::u16string(512, u'w')), Read(17)}},
        SetterCase{"zoom map", [] { PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap{1, -2, 300, 0}); },
                   {uR"({"ComponentsDriver\\SlavedDisplayZoomMap":"{1,-2,300,0}"})",
                    uR"({"GetVal":"ComponentsDriver\\SlavedDisplayZoomMap"})"}},
        SetterCase{"zoom extremes", [] { PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap{INT32_MIN, INT32_MAX, -1, 7}); },
                   {Write(81, u"{-2147483648,2147483647,-1,7}"), Read(81)}},
        SetterCase{"zoom reset", [] { PevraNUV_ResetSlavedDisplayZoom(); }, {Write(81, u"{0,0,0,0}"), Read(81)}},
        SetterCase{"batches follow each other whole",
                   [] {
                       PevraNUV_SetTopSinglePress(&kPaint);
                       PevraNUV_SetTipSensitivity(2);
                   },
                   {Write(19, u"23"), Read(19), Write(20, uR"(C:\Apps\paint.exe)"), Read(20), Write(73, u"2"),
                    Read(73)}}));

// ---- Every button setter: the code decides whether and where the text goes.

struct ButtonCase {
    void (*setter)(const PevraNUV_ButtonFunction*);
    int baseId;
};

class ButtonSetter : public ExportTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ButtonSetter, TheCodeDecidesWhetherAndWhereTheTextGoes) {
    const auto [setter, base] = GetParam();
    const std::pair<PevraNUV_ButtonFunction, Batch> cases[] = {
        {Record(0, u"ignored"), {Write(base, u"0"), Read(base)}},
        {Record(INT32_MIN), {Write(base, u"-2147483648"), Read(base)}},
        {Record(INT32_MAX, u"x"), {Write(base, u"2147483647"), Read(base)}},
        {Record(8), {Write(base, u"8"), Read(base), Write(base + 3, u""), Read(base + 2)}},
        // The text verbatim: nothing is escaped.
        {Record(8, u"ctrl+\"q\"\\\n\u00e9"),
         {Write(base, u"8"), Read(base), Write(base + 3, u"ctrl+\"q\"\\\n\u00e9"), Read(base + 2)}},
        {Record(23, u"a.exe"), {Write(base, u"23"), Read(base), Write(base + 1, u"a.exe"), Read(base + 1)}},
    };
    for (const auto& [record, batch] : cases) {
        Client().m_outgoing.clear();
        setter(&record);
        EXPECT_EQ(Outgoing(), batch) << record.function;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Exports, ButtonSetter,
    ::testing::Values(ButtonCase{PevraNUV_SetEraserSinglePress, 7}, ButtonCase{PevraNUV_SetEraserDoublePress, 11},
                      ButtonCase{PevraNUV_SetEraserLongPress, 15}, ButtonCase{PevraNUV_SetTopSinglePress, 19},
                      ButtonCase{PevraNUV_SetBottomSinglePress, 24},
                      ButtonCase{[](const PevraNUV_ButtonFunction* r) { PevraNUV_SetMenuOp(0, r); }, 30},
                      ButtonCase{[](const PevraNUV_ButtonFunction* r) { PevraNUV_SetMenuOp(4, r); }, 46},
                      ButtonCase{[](const PevraNUV_ButtonFunction* r) { PevraNUV_SetMenuOp(9, r); }, 66}));

}  // namespace
