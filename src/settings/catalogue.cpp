// The setting catalogue.
#include "settings/catalogue.h"

#include <stdexcept>

namespace PevraNUV {

std::map<int, std::u16string> BuildKeyById() {
    // Keys are stored as they travel: two backslashes between components.
    return {
        {0, uR"(ComponentsDriver\\ServiceVersion)"},
        {1, uR"(ComponentsDriver\\HIDRouterVersion)"},
        {2, uR"(ComponentsDriver\\PenHandler\\LastQRESerialNumber)"},
        {3, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\LastQRESerialNumber)"},
        {4, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\PenID)"},
        {5, uR"(ComponentsDriver\\BTButtonHandler\\BTModule\\LastQRESerialNumber)"},
        {6, uR"(ComponentsDriver\\BTButtonHandler\\BTModule\\BTID)"},
        {7, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunction)"},
        {8, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunctionAppPath)"},
        {9, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunctionName)"},
        {10, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {11, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonDouble\\ButtonFunction)"},
        {12, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonDouble\\ButtonFunctionAppPath)"},
        {13, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonDouble\\ButtonFunctionName)"},
        {14, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonDouble\\ButtonFunctionKeystrokes)"},
        {15, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonLong\\ButtonFunction)"},
        {16, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonLong\\ButtonFunctionAppPath)"},
        {17, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonLong\\ButtonFunctionName)"},
        {18, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonLong\\ButtonFunctionKeystrokes)"},
        {19, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\ButtonSingle\\ButtonFunction)"},
        {20, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\ButtonSingle\\ButtonFunctionAppPath)"},
        {21, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\ButtonSingle\\ButtonFunctionName)"},
        {22, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {23, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\HoverClick)"},
        {24, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\ButtonSingle\\ButtonFunction)"},
        {25, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\ButtonSingle\\ButtonFunctionAppPath)"},
        {26, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\ButtonSingle\\ButtonFunctionName)"},
        {27, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {28, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\HoverClick)"},
        {29, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\RadialMenuCenterRightClick)"},
        {30, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialEast\\ButtonSingle\\ButtonFunction)"},
        {31, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialEast\\ButtonSingle\\ButtonFunctionAppPath)"},
        {32, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialEast\\ButtonSingle\\ButtonFunctionName)"},
        {33, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialEast\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {34, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSoutheast\\ButtonSingle\\ButtonFunction)"},
        {35, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSoutheast\\ButtonSingle\\ButtonFunctionAppPath)"},
        {36, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSoutheast\\ButtonSingle\\ButtonFunctionName)"},
        {37, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSoutheast\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {38, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouth\\ButtonSingle\\ButtonFunction)"},
        {39, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouth\\ButtonSingle\\ButtonFunctionAppPath)"},
        {40, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouth\\ButtonSingle\\ButtonFunctionName)"},
        {41, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouth\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {42, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouthwest\\ButtonSingle\\ButtonFunction)"},
        {43, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouthwest\\ButtonSingle\\ButtonFunctionAppPath)"},
        {44, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouthwest\\ButtonSingle\\ButtonFunctionName)"},
        {45, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouthwest\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {46, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialWest\\ButtonSingle\\ButtonFunction)"},
        {47, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialWest\\ButtonSingle\\ButtonFunctionAppPath)"},
        {48, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialWest\\ButtonSingle\\ButtonFunctionName)"},
        {49, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialWest\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {50, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorthwest\\ButtonSingle\\ButtonFunction)"},
        {51, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorthwest\\ButtonSingle\\ButtonFunctionAppPath)"},
        {52, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorthwest\\ButtonSingle\\ButtonFunctionName)"},
        {53, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorthwest\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {54, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorth\\ButtonSingle\\ButtonFunction)"},
        {55, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorth\\ButtonSingle\\ButtonFunctionAppPath)"},
        {56, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorth\\ButtonSingle\\ButtonFunctionName)"},
        {57, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorth\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {58, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNortheast\\ButtonSingle\\ButtonFunction)"},
        {59, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNortheast\\ButtonSingle\\ButtonFunctionAppPath)"},
        {60, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNortheast\\ButtonSingle\\ButtonFunctionName)"},
        {61, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNortheast\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {62, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialCenter\\ButtonSingle\\ButtonFunction)"},
        {63, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialCenter\\ButtonSingle\\ButtonFunctionAppPath)"},
        {64, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialCenter\\ButtonSingle\\ButtonFunctionName)"},
        {65, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialCenter\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {66, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialOutside\\ButtonSingle\\ButtonFunction)"},
        {67, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialOutside\\ButtonSingle\\ButtonFunctionAppPath)"},
        {68, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialOutside\\ButtonSingle\\ButtonFunctionName)"},
        {69, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialOutside\\ButtonSingle\\ButtonFunctionKeystrokes)"},
        {70, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\PenBatteryStatus)"},
        {71, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\QREBatteryAlertDelay)"},
        {72, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity)"},
        {73, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonTip\\PressureCurve)"},
        {74, uR"(ComponentsDriver\\BTButtonHandler\\CapturedKeystrokesEntities)"},
        {75, uR"(RunAppOptionsList)"},
        {76, uR"(TopButtonSingleOptionsList)"},
        {77, uR"(TopButtonDoubleOptionsList)"},
        {78, uR"(TopButtonLongOptionsList)"},
        {79, uR"(SideSwitchOptionsList)"},
        {80, uR"(RadialWedgeOptionsList)"},
        {81, uR"(ComponentsDriver\\SlavedDisplayZoomMap)"},
    };
}

const std::vector<int>& HandlerTableIds() {
    // Every key but the 15 function names (ids 9, 13, ..., 68), in the order
    // of the handshake: versions, pens, button groups with the hover clicks
    // and the centre click between them, then ids 70 to 81.
    static const std::vector<int> ids = {
        0, 1, 3, 4, 5, 6, 2, 7, 8, 10, 11, 12,
        14, 15, 16, 18, 19, 20, 22, 23, 24, 25, 27, 28,
        29, 30, 31, 33, 34, 35, 37, 38, 39, 41, 42, 43,
        45, 46, 47, 49, 50, 51, 53, 54, 55, 57, 58, 59,
        61, 62, 63, 65, 66, 67, 69, 70, 71, 72, 73, 74,
        75, 76, 77, 78, 79, 80, 81,
    };
    return ids;
}

std::vector<HandlerEntry> BuildHandlerTable() {
    std::vector<HandlerEntry> table;
    table.reserve(kHandlerCount);
    for (int id : HandlerTableIds()) table.emplace_back(KeyOf(id), HandlerForSetting(id));
    return table;
}

const std::u16string& KeyOf(int id) {
    auto entry = KeyById.find(id);
    if (entry == KeyById.end()) throw std::out_of_range("invalid map<K, T> key");
    return entry->second;
}

}  // namespace PevraNUV
