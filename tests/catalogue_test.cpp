// The setting catalogue: the 82 keys as they travel, the strict lookup, and
// the order of the handler table.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/catalogue.h"

using PevraNUV::HandlerTable;
using PevraNUV::KeyById;
using PevraNUV::KeyOf;

namespace {

const std::u16string kDriver = uR"(ComponentsDriver\\)";
const std::u16string kTransducer = uR"(ComponentsDriver\\PenHandler\\PenTransducer\\)";
const std::u16string kEraser = uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\)";
const std::u16string kRadial = uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\)";

bool StartsWith(const std::u16string& text, const std::u16string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::u16string& text, const std::u16string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

struct ButtonGroup {
    int base;
    std::u16string path;  // up to the last component
};

// The fifteen button groups: the eraser end's three presses, the two side
// switches, and the ten radial-menu wedges East to Outside.
std::vector<ButtonGroup> ButtonGroups() {
    std::vector<ButtonGroup> groups = {
        {7, kEraser + uR"(ButtonSingle\\)"},
        {11, kEraser + uR"(ButtonDouble\\)"},
        {15, kEraser + uR"(ButtonLong\\)"},
        {19, kTransducer + uR"(ButtonUpperSide\\ButtonSingle\\)"},
        {24, kTransducer + uR"(ButtonLowerSide\\ButtonSingle\\)"},
    };
    const char16_t* wedges[] = {u"East", u"Southeast", u"South",     u"Southwest", u"West",
                                u"Northwest", u"North", u"Northeast", u"Center",    u"Outside"};
    for (int w = 0; w < 10; ++w)
        groups.push_back({30 + 4 * w, kRadial + u"ButtonRadial" + wedges[w] + uR"(\\ButtonSingle\\)"});
    return groups;
}

const std::u16string kFamilies[4] = {u"ButtonFunction", u"ButtonFunctionAppPath", u"ButtonFunctionName",
                                     u"ButtonFunctionKeystrokes"};

}  // namespace

TEST(Catalogue, HoldsIdsZeroToEightyOne) {
    ASSERT_EQ(KeyById.size(), 82u);
    EXPECT_EQ(PevraNUV::kSettingCount, 82);
    int expected = 0;
    for (const auto& [id, key] : KeyById) {
        EXPECT_EQ(id, expected++);
        EXPECT_FALSE(key.empty()) << id;
    }
}

TEST(Catalogue, SingleSettingsAreStoredAsTheyTravel) {
    struct Case {
        int id;
        std::u16string key;
    } cases[] = {
        {0, uR"(ComponentsDriver\\ServiceVersion)"},
        {1, uR"(ComponentsDriver\\HIDRouterVersion)"},
        {2, uR"(ComponentsDriver\\PenHandler\\LastQRESerialNumber)"},
        {3, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\LastQRESerialNumber)"},
        {4, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\PenID)"},
        {5, uR"(ComponentsDriver\\BTButtonHandler\\BTModule\\LastQRESerialNumber)"},
        {6, uR"(ComponentsDriver\\BTButtonHandler\\BTModule\\BTID)"},
        {23, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\HoverClick)"},
        {28, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\HoverClick)"},
        {29, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\RadialMenuCenterRightClick)"},
        {70, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\PenBatteryStatus)"},
        {71, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\QREBatteryAlertDelay)"},
        {72, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity)"},
        {73, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonTip\\PressureCurve)"},
        {74, uR"(ComponentsDriver\\BTButtonHandler\\CapturedKeystrokesEntities)"},
        {75, u"RunAppOptionsList"},
        {76, u"TopButtonSingleOptionsList"},
        {77, u"TopButtonDoubleOptionsList"},
        {78, u"TopButtonLongOptionsList"},
        {79, u"SideSwitchOptionsList"},
        {80, u"RadialWedgeOptionsList"},
        {81, uR"(ComponentsDriver\\SlavedDisplayZoomMap)"},
    };
    for (const Case& c : cases) EXPECT_EQ(KeyOf(c.id), c.key) << "id " << c.id;
}

TEST(Catalogue, ButtonGroupsAreFunctionAppPathNameKeystrokes) {
    std::vector<ButtonGroup> groups = ButtonGroups();
    ASSERT_EQ(groups.size(), 15u);
    for (const ButtonGroup& group : groups) {
        for (int member = 0; member < 4; ++member) {
            EXPECT_EQ(KeyOf(group.base + member), group.path + kFamilies[member])
                << "id " << group.base + member;
        }
    }
    // The ids between the groups are the single settings.
    EXPECT_TRUE(EndsWith(KeyOf(23), u"HoverClick"));
    EXPECT_TRUE(EndsWith(KeyOf(28), u"HoverClick"));
    EXPECT_TRUE(EndsWith(KeyOf(29), u"RadialMenuCenterRightClick"));
    // Name comes before Keystrokes: ids 9 and 10 of the eraser's single press.
    EXPECT_TRUE(EndsWith(KeyOf(9), u"ButtonSingle\\\\ButtonFunctionName"));
    EXPECT_TRUE(EndsWith(KeyOf(10), u"ButtonSingle\\\\ButtonFunctionKeystrokes"));
}

TEST(Catalogue, SeparatorsAreTwoBackslashes) {
    EXPECT_EQ(KeyOf(0).size(), 32u);  // 16 + 2 + 14
    EXPECT_EQ(KeyOf(0)[16], u'\\');
    EXPECT_EQ(KeyOf(0)[17], u'\\');
    int withDriverPrefix = 0;
    for (const auto& [id, key] : KeyById) {
        SCOPED_TRACE(id);
        // Every run of backslashes is exactly two long, between two components.
        for (std::size_t i = 0; i < key.size(); ++i) {
            if (key[i] != u'\\') continue;
            ASSERT_LT(i + 2, key.size());
            EXPECT_EQ(key[i + 1], u'\\');
            EXPECT_NE(key[i + 2], u'\\');
            EXPECT_GT(i, 0u);
            i += 1;
        }
        for (char16_t unit : key) EXPECT_LT(unit, 0x80) << "keys are ASCII";
        EXPECT_EQ(key.find(u':'), std::u16string::npos) << "a key holds no colon";
        EXPECT_EQ(key.find(u'"'), std::u16string::npos);
        if (StartsWith(key, kDriver)) ++withDriverPrefix;
        bool bare = key.find(u'\\') == std::u16string::npos;
        EXPECT_EQ(bare, id >= 75 && id <= 80) << "only the option lists are bare names";
    }
    EXPECT_EQ(withDriverPrefix, 76);
}

TEST(Catalogue, KeysAreDistinctAndKeystrokeCaptureIsNotOne) {
    std::set<std::u16string> keys;
    for (const auto& entry : KeyById) keys.insert(entry.second);
    EXPECT_EQ(keys.size(), 82u);
    EXPECT_EQ(keys.count(uR"(ComponentsDriver\\BTButtonHandler\\KeystrokeCapture)"), 0u);
}

TEST(Catalogue, StrictLookupRejectsIdsOutsideTheCatalogue) {
    for (int id : {82, -1, 100, -2147483647 - 1}) {
        SCOPED_TRACE(id);
        try {
            KeyOf(id);
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "invalid map<K, T> key");
        }
    }
    // A valid id gives the catalogue's own string, not a copy.
    for (int id = 0; id < 82; ++id) EXPECT_EQ(&KeyOf(id), &KeyById.at(id));
}

TEST(HandlerTable, HoldsSixtySevenEntriesInHandshakeOrder) {
    // Versions and pens (id 2 seventh); then each button group in ascending
    // base order as f, f + 1, f + 3, the hover clicks after their side
    // switch and the centre click before the wedges; then ids 70 to 81.
    std::vector<int> expected = {0, 1, 3, 4, 5, 6, 2};
    for (const ButtonGroup& group : ButtonGroups()) {
        if (group.base == 30) expected.push_back(29);
        expected.insert(expected.end(), {group.base, group.base + 1, group.base + 3});
        if (group.base == 19) expected.push_back(23);
        if (group.base == 24) expected.push_back(28);
    }
    for (int id = 70; id <= 81; ++id) expected.push_back(id);

    ASSERT_EQ(expected.size(), 67u);
    ASSERT_EQ(HandlerTable.size(), 67u);
    EXPECT_EQ(PevraNUV::kHandlerCount, 67);
    EXPECT_EQ(PevraNUV::HandlerTableIds(), expected);
    for (std::size_t i = 0; i < HandlerTable.size(); ++i)
        EXPECT_EQ(HandlerTable[i].first, KeyOf(expected[i])) << "position " << i;

    EXPECT_EQ(HandlerTable.front().first, KeyOf(0));
    EXPECT_EQ(HandlerTable[6].first, KeyOf(2));
    EXPECT_EQ(HandlerTable.back().first, KeyOf(81));
    // Positions named in the catalogue.
    struct Position {
        int id;
        std::size_t index;
    } positions[] = {{3, 2}, {7, 7}, {10, 9}, {23, 19}, {28, 23}, {29, 24}, {30, 25}, {69, 54}, {74, 59}, {75, 60}};
    for (const Position& p : positions) EXPECT_EQ(HandlerTable.at(p.index).first, KeyOf(p.id)) << "id " << p.id;
}

TEST(HandlerTable, LeavesOutExactlyTheFunctionNames) {
    std::set<std::u16string> handled;
    for (const auto& entry : HandlerTable) {
        EXPECT_FALSE(EndsWith(entry.first, u"ButtonFunctionName")) << testing::PrintToString(entry.first);
        handled.insert(entry.first);
    }
    EXPECT_EQ(handled.size(), 67u) << "no key twice";

    std::vector<int> missing;
    for (const auto& [id, key] : KeyById)
        if (!handled.count(key)) missing.push_back(id);
    EXPECT_EQ(missing, (std::vector<int>{9, 13, 17, 21, 26, 32, 36, 40, 44, 48, 52, 56, 60, 64, 68}));
}

TEST(HandlerTable, MatchesNoKeySpelledWithSingleBackslashes) {
    const std::u16string single = uR"(ComponentsDriver\PenHandler\PenTransducer\TiltSensitivity)";
    for (const auto& entry : HandlerTable) EXPECT_NE(entry.first, single);
}
