// The setting catalogue: the 82 keys as they travel, the strict lookup, and
// the order of the handler table.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/catalogue.h"

using PevraNUV::HandlerTable;
using PevraNUV::KeyById;
using PevraNUV::KeyOf;

namespace {

const std::u16string kDriver = uR"(ComponentsDriver\\)";
const std::u16string kTransducer = kDriver + uR"(PenHandler\\PenTransducer\\)";

// The base ids of the fifteen button groups, with their paths: the eraser
// end's three presses, the two side switches, the ten wedges East to Outside.
std::map<int, std::u16string> ButtonGroups() {
    const std::u16string eraser = kDriver + uR"(BTButtonHandler\\ButtonBTEraserEnd\\)";
    std::map<int, std::u16string> groups = {
        {7, eraser + uR"(ButtonSingle\\)"},
        {11, eraser + uR"(ButtonDouble\\)"},
        {15, eraser + uR"(ButtonLong\\)"},
        {19, kTransducer + uR"(ButtonUpperSide\\ButtonSingle\\)"},
        {24, kTransducer + uR"(ButtonLowerSide\\ButtonSingle\\)"},
    };
    const char16_t* wedges[] = {u"East", u"Southeast", u"South",     u"Southwest", u"West",
                                u"Northwest", u"North", u"Northeast", u"Center",    u"Outside"};
    for (int w = 0; w < 10; ++w)
        groups[30 + 4 * w] = kTransducer + uR"(RadialMenuHandler\\ButtonRadial)" + wedges[w] + uR"(\\ButtonSingle\\)";
    return groups;
}

}  // namespace

TEST(Catalogue, HoldsEveryKeyAsItTravels) {
    std::map<int, std::u16string> expected = {
        {0, kDriver + u"ServiceVersion"},
        {1, kDriver + u"HIDRouterVersion"},
        {2, kDriver + uR"(PenHandler\\LastQRESerialNumber)"},
        {3, kTransducer + u"LastQRESerialNumber"},
        {4, kTransducer + u"PenID"},
        {5, kDriver + uR"(BTButtonHandler\\BTModule\\LastQRESerialNumber)"},
        {6, kDriver + uR"(BTButtonHandler\\BTModule\\BTID)"},
        {23, kTransducer + uR"(ButtonUpperSide\\HoverClick)"},
        {28, kTransducer + uR"(ButtonLowerSide\\HoverClick)"},
        {29, kTransducer + uR"(RadialMenuHandler\\RadialMenuCenterRightClick)"},
        {70, kTransducer + u"PenBatteryStatus"},
        {71, kTransducer + u"QREBatteryAlertDelay"},
        {72, kTransducer + u"TiltSensitivity"},
        {73, kTransducer + uR"(ButtonTip\\PressureCurve)"},
        {74, kDriver + uR"(BTButtonHandler\\CapturedKeystrokesEntities)"},
        {75, u"RunAppOptionsList"},
        {76, u"TopButtonSingleOptionsList"},
        {77, u"TopButtonDoubleOptionsList"},
        {78, u"TopButtonLongOptionsList"},
        {79, u"SideSwitchOptionsList"},
        {80, u"RadialWedgeOptionsList"},
        {81, kDriver + u"SlavedDisplayZoomMap"},
    };
    // Each group: function, application path, name, keystrokes.
    for (const auto& [base, path] : ButtonGroups()) {
        const char16_t* members[] = {u"ButtonFunction", u"ButtonFunctionAppPath", u"ButtonFunctionName",
                                     u"ButtonFunctionKeystrokes"};
        for (int member = 0; member < 4; ++member) expected[base + member] = path + members[member];
    }
    ASSERT_EQ(expected.size(), 82u);
    EXPECT_EQ(KeyById, expected);
}

TEST(Catalogue, StrictLookupRejectsIdsOutsideTheCatalogue) {
    for (int id : {82, -1, -2147483647 - 1}) {
        try {
            KeyOf(id);
            ADD_FAILURE() << "no exception for " << id;
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "invalid map<K, T> key");
        }
    }
    EXPECT_EQ(KeyOf(81), kDriver + u"SlavedDisplayZoomMap");
}

TEST(HandlerTable, HoldsSixtySevenKeysInHandshakeOrder) {
    // Versions and pens (id 2 seventh); then each button group in ascending
    // base order as f, f + 1, f + 3 (never the name), the hover clicks after
    // their side switch and the centre click before the wedges; then ids 70
    // to 81.
    std::vector<int> expected = {0, 1, 3, 4, 5, 6, 2};
    for (const auto& group : ButtonGroups()) {
        const int base = group.first;
        if (base == 30) expected.push_back(29);
        expected.insert(expected.end(), {base, base + 1, base + 3});
        if (base == 19) expected.push_back(23);
        if (base == 24) expected.push_back(28);
    }
    for (int id = 70; id <= 81; ++id) expected.push_back(id);
    ASSERT_EQ(expected.size(), 67u);
    ASSERT_EQ(HandlerTable.size(), 67u);
    for (std::size_t i = 0; i < HandlerTable.size(); ++i) {
        EXPECT_EQ(HandlerTable[i].first, KeyOf(expected[i])) << "position " << i;
        EXPECT_TRUE(HandlerTable[i].second) << "position " << i;
    }
}
