// The table of settings: every fact about a setting in one row.
//
// For each of the 82 settings, in id order (the id is the row's position):
// its name, its place among the handshake's read requests (-1: never asked
// for, no handler), its key exactly as it travels (two backslashes between
// components, nothing escaped at run time), and what its value handler binds
// to (dispatch/bindings.h). The ids, KeyById, the handshake order
// (HandlerTable) and the button groups the setters write are derived from
// it, and checked at compile time.
//
// Adding a setting of an existing family is one row. The service's ids are
// positions: a new setting goes where the service numbers it, and the
// handshake places after it move up by one.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <variant>

#include "dispatch/bindings.h"

namespace PevraNUV {

// The buttons and pairings the rows bind to.
inline constexpr EraserPress kEraserSingle{&ValueCache::m_eraserSingle, &PevraNUV_Callbacks::OnEraserSinglePress};
inline constexpr EraserPress kEraserDouble{&ValueCache::m_eraserDouble, &PevraNUV_Callbacks::OnEraserDoublePress};
inline constexpr EraserPress kEraserLong{&ValueCache::m_eraserLong, &PevraNUV_Callbacks::OnEraserLongPress};
inline constexpr SideSwitch kTopSwitch{&ValueCache::m_topSwitch, &PevraNUV_Callbacks::OnTopSwitch};
inline constexpr SideSwitch kBottomSwitch{&ValueCache::m_bottomSwitch, &PevraNUV_Callbacks::OnBottomSwitch};
inline constexpr Pairing kPenPairing{&ValueCache::m_penSerial, &ValueCache::m_penId, &PevraNUV_PenInfo::penId};
inline constexpr Pairing kBtPairing{&ValueCache::m_btSerial, &ValueCache::m_btId, &PevraNUV_PenInfo::btId};

// X(name, handshake place, key, binding)
#define PTSA_SETTINGS(X) \
    X(ServiceVersion, 0, uR"(ComponentsDriver\\ServiceVersion)", \
      VersionText{&ValueCache::m_serviceVersion}) \
    X(HidRouterVersion, 1, uR"(ComponentsDriver\\HIDRouterVersion)", \
      VersionText{&ValueCache::m_hidRouterVersion}) \
    X(CurrentPenSerial, 6, uR"(ComponentsDriver\\PenHandler\\LastQRESerialNumber)", \
      CurrentPen{}) \
    X(PenSerial, 2, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\LastQRESerialNumber)", \
      PairingHalf{kPenPairing, &ValueCache::m_penSerial}) \
    X(PenId, 3, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\PenID)", \
      PairingHalf{kPenPairing, &ValueCache::m_penId}) \
    X(BtSerial, 4, uR"(ComponentsDriver\\BTButtonHandler\\BTModule\\LastQRESerialNumber)", \
      PairingHalf{kBtPairing, &ValueCache::m_btSerial}) \
    X(BtId, 5, uR"(ComponentsDriver\\BTButtonHandler\\BTModule\\BTID)", \
      PairingHalf{kBtPairing, &ValueCache::m_btId}) \
    X(EraserSingleFunction, 7, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<EraserPress>{kEraserSingle}) \
    X(EraserSingleAppPath, 8, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<EraserPress>{kEraserSingle}) \
    X(EraserSingleFunctionName, -1, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(EraserSingleKeystrokes, 9, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<EraserPress>{kEraserSingle}) \
    X(EraserDoubleFunction, 10, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonDouble\\ButtonFunction)", \
      FunctionCode<EraserPress>{kEraserDouble}) \
    X(EraserDoubleAppPath, 11, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonDouble\\ButtonFunctionAppPath)", \
      FunctionText<EraserPress>{kEraserDouble}) \
    X(EraserDoubleFunctionName, -1, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonDouble\\ButtonFunctionName)", \
      NotHandled{}) \
    X(EraserDoubleKeystrokes, 12, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonDouble\\ButtonFunctionKeystrokes)", \
      FunctionText<EraserPress>{kEraserDouble}) \
    X(EraserLongFunction, 13, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonLong\\ButtonFunction)", \
      FunctionCode<EraserPress>{kEraserLong}) \
    X(EraserLongAppPath, 14, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonLong\\ButtonFunctionAppPath)", \
      FunctionText<EraserPress>{kEraserLong}) \
    X(EraserLongFunctionName, -1, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonLong\\ButtonFunctionName)", \
      NotHandled{}) \
    X(EraserLongKeystrokes, 15, uR"(ComponentsDriver\\BTButtonHandler\\ButtonBTEraserEnd\\ButtonLong\\ButtonFunctionKeystrokes)", \
      FunctionText<EraserPress>{kEraserLong}) \
    X(TopSwitchFunction, 16, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<SideSwitch>{kTopSwitch}) \
    X(TopSwitchAppPath, 17, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<SideSwitch>{kTopSwitch}) \
    X(TopSwitchFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(TopSwitchKeystrokes, 18, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<SideSwitch>{kTopSwitch}) \
    X(TopHoverClick, 19, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonUpperSide\\HoverClick)", \
      HoverClick{kTopSwitch}) \
    X(BottomSwitchFunction, 20, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<SideSwitch>{kBottomSwitch}) \
    X(BottomSwitchAppPath, 21, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<SideSwitch>{kBottomSwitch}) \
    X(BottomSwitchFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(BottomSwitchKeystrokes, 22, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<SideSwitch>{kBottomSwitch}) \
    X(BottomHoverClick, 23, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonLowerSide\\HoverClick)", \
      HoverClick{kBottomSwitch}) \
    X(MenuCenterRightClick, 24, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\RadialMenuCenterRightClick)", \
      CachedFlag{&ValueCache::m_menuCenterRightClick}) \
    X(WedgeEastFunction, 25, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialEast\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<Wedge>{{0}}) \
    X(WedgeEastAppPath, 26, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialEast\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<Wedge>{{0}}) \
    X(WedgeEastFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialEast\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(WedgeEastKeystrokes, 27, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialEast\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<Wedge>{{0}}) \
    X(WedgeSoutheastFunction, 28, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSoutheast\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<Wedge>{{1}}) \
    X(WedgeSoutheastAppPath, 29, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSoutheast\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<Wedge>{{1}}) \
    X(WedgeSoutheastFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSoutheast\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(WedgeSoutheastKeystrokes, 30, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSoutheast\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<Wedge>{{1}}) \
    X(WedgeSouthFunction, 31, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouth\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<Wedge>{{2}}) \
    X(WedgeSouthAppPath, 32, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouth\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<Wedge>{{2}}) \
    X(WedgeSouthFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouth\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(WedgeSouthKeystrokes, 33, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouth\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<Wedge>{{2}}) \
    X(WedgeSouthwestFunction, 34, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouthwest\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<Wedge>{{3}}) \
    X(WedgeSouthwestAppPath, 35, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouthwest\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<Wedge>{{3}}) \
    X(WedgeSouthwestFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouthwest\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(WedgeSouthwestKeystrokes, 36, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouthwest\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<Wedge>{{3}}) \
    X(WedgeWestFunction, 37, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialWest\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<Wedge>{{4}}) \
    X(WedgeWestAppPath, 38, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialWest\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<Wedge>{{4}}) \
    X(WedgeWestFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialWest\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(WedgeWestKeystrokes, 39, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialWest\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<Wedge>{{4}}) \
    X(WedgeNorthwestFunction, 40, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorthwest\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<Wedge>{{5}}) \
    X(WedgeNorthwestAppPath, 41, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorthwest\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<Wedge>{{5}}) \
    X(WedgeNorthwestFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorthwest\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(WedgeNorthwestKeystrokes, 42, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorthwest\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<Wedge>{{5}}) \
    X(WedgeNorthFunction, 43, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorth\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<Wedge>{{6}}) \
    X(WedgeNorthAppPath, 44, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorth\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<Wedge>{{6}}) \
    X(WedgeNorthFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorth\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(WedgeNorthKeystrokes, 45, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorth\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<Wedge>{{6}}) \
    X(WedgeNortheastFunction, 46, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNortheast\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<Wedge>{{7}}) \
    X(WedgeNortheastAppPath, 47, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNortheast\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<Wedge>{{7}}) \
    X(WedgeNortheastFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNortheast\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(WedgeNortheastKeystrokes, 48, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNortheast\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<Wedge>{{7}}) \
    X(WedgeCenterFunction, 49, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialCenter\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<Wedge>{{8}}) \
    X(WedgeCenterAppPath, 50, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialCenter\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<Wedge>{{8}}) \
    X(WedgeCenterFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialCenter\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(WedgeCenterKeystrokes, 51, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialCenter\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<Wedge>{{8}}) \
    X(WedgeOutsideFunction, 52, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialOutside\\ButtonSingle\\ButtonFunction)", \
      FunctionCode<Wedge>{{9}}) \
    X(WedgeOutsideAppPath, 53, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialOutside\\ButtonSingle\\ButtonFunctionAppPath)", \
      FunctionText<Wedge>{{9}}) \
    X(WedgeOutsideFunctionName, -1, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialOutside\\ButtonSingle\\ButtonFunctionName)", \
      NotHandled{}) \
    X(WedgeOutsideKeystrokes, 54, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialOutside\\ButtonSingle\\ButtonFunctionKeystrokes)", \
      FunctionText<Wedge>{{9}}) \
    X(PenBatteryStatus, 55, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\PenBatteryStatus)", \
      BatteryStatus{}) \
    X(BatteryAlertDelay, 56, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\QREBatteryAlertDelay)", \
      CachedNumber{&ValueCache::m_batteryAlertDelay}) \
    X(TiltSensitivity, 57, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity)", \
      ReportedNumber{&ValueCache::m_tiltSensitivity, &PevraNUV_Callbacks::OnTiltSensitivity}) \
    X(TipSensitivity, 58, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\ButtonTip\\PressureCurve)", \
      ReportedNumber{&ValueCache::m_tipSensitivity, &PevraNUV_Callbacks::OnTipSensitivity}) \
    X(CapturedKeystrokes, 59, uR"(ComponentsDriver\\BTButtonHandler\\CapturedKeystrokesEntities)", \
      CapturedKeys{}) \
    X(RunAppOptionsList, 60, uR"(RunAppOptionsList)", \
      RunAppOptions{&PevraNUV_Callbacks::OnRunAppOptions}) \
    X(TopButtonSingleOptionsList, 61, uR"(TopButtonSingleOptionsList)", \
      CodeOptions{&ValueCache::m_topButtonSingleOptions, &PevraNUV_Callbacks::OnTopButtonSingleOptions}) \
    X(TopButtonDoubleOptionsList, 62, uR"(TopButtonDoubleOptionsList)", \
      CodeOptions{&ValueCache::m_topButtonDoubleOptions, &PevraNUV_Callbacks::OnTopButtonDoubleOptions}) \
    X(TopButtonLongOptionsList, 63, uR"(TopButtonLongOptionsList)", \
      CodeOptions{&ValueCache::m_topButtonLongOptions, &PevraNUV_Callbacks::OnTopButtonLongOptions}) \
    X(SideSwitchOptionsList, 64, uR"(SideSwitchOptionsList)", \
      CodeOptions{&ValueCache::m_sideSwitchOptions, &PevraNUV_Callbacks::OnSideSwitchOptions}) \
    X(RadialWedgeOptionsList, 65, uR"(RadialWedgeOptionsList)", \
      CodeOptions{&ValueCache::m_radialWedgeOptions, &PevraNUV_Callbacks::OnRadialWedgeOptions}) \
    X(SlavedDisplayZoomMap, 66, uR"(ComponentsDriver\\SlavedDisplayZoomMap)", \
      ZoomMap{})

enum class SettingId : int {
#define PTSA_SETTING_ID(name, place, key, ...) name,
    PTSA_SETTINGS(PTSA_SETTING_ID)
#undef PTSA_SETTING_ID
};

struct Setting {
    int handshakePlace;
    std::u16string_view key;
    Binding binding;
};

inline constexpr Setting kSettings[] = {
#define PTSA_SETTING_ROW(name, place, key, ...) {place, key, __VA_ARGS__},
    PTSA_SETTINGS(PTSA_SETTING_ROW)
#undef PTSA_SETTING_ROW
};

constexpr const Setting& SettingOf(SettingId id) { return kSettings[static_cast<int>(id)]; }
constexpr std::u16string_view KeyById(SettingId id) { return SettingOf(id).key; }

// ---- The handshake: the handled settings in the order of its read requests.

constexpr std::size_t CountHandled() {
    std::size_t count = 0;
    for (const Setting& setting : kSettings) count += setting.handshakePlace >= 0;
    return count;
}

constexpr std::array<SettingId, CountHandled()> BuildHandlerTable() {
    std::array<SettingId, CountHandled()> table{};
    for (int id = 0; id < static_cast<int>(std::size(kSettings)); ++id) {
        if (kSettings[id].handshakePlace >= 0) table[kSettings[id].handshakePlace] = static_cast<SettingId>(id);
    }
    return table;
}

inline constexpr std::array<SettingId, CountHandled()> HandlerTable = BuildHandlerTable();

// Every place from 0 up is taken exactly once, and exactly the settings
// without a handler have none.
constexpr bool HandshakeIsWhole() {
    for (std::size_t place = 0; place < HandlerTable.size(); ++place) {
        const Setting& setting = SettingOf(HandlerTable[place]);
        if (setting.handshakePlace != static_cast<int>(place)) return false;
    }
    for (const Setting& setting : kSettings) {
        if ((setting.handshakePlace < 0) != std::holds_alternative<NotHandled>(setting.binding)) return false;
    }
    return true;
}
static_assert(HandshakeIsWhole(), "each handled setting needs its own handshake place, from 0 up");

// ---- Button groups: a button's function travels in four settings that
// follow one another: the function code, the application path, the function
// name and the keystroke definition.

struct ButtonSettings {
    SettingId function, appPath, name, keystrokes;
};

constexpr ButtonSettings ButtonGroup(SettingId function) {
    const int id = static_cast<int>(function);
    return {function, static_cast<SettingId>(id + 1), static_cast<SettingId>(id + 2), static_cast<SettingId>(id + 3)};
}

// The function code setting of radial-menu wedge index (0 to 9).
constexpr SettingId WedgeFunction(int index) {
    for (int id = 0; id < static_cast<int>(std::size(kSettings)); ++id) {
        const auto* code = std::get_if<FunctionCode<Wedge>>(&kSettings[id].binding);
        if (code && code->button.index == index) return static_cast<SettingId>(id);
    }
    return SettingId::WedgeEastFunction;  // never reached for 0 to 9 (checked below)
}

template <typename Button>
constexpr bool IsButtonGroup(int id) {
    const auto holds = [](int at, auto family) {
        return at < static_cast<int>(std::size(kSettings)) &&
               std::holds_alternative<decltype(family)>(kSettings[at].binding);
    };
    return holds(id + 1, FunctionText<Button>{}) && holds(id + 2, NotHandled{}) && holds(id + 3, FunctionText<Button>{});
}

constexpr bool ButtonGroupsAreWhole() {
    for (int id = 0; id < static_cast<int>(std::size(kSettings)); ++id) {
        const Binding& binding = kSettings[id].binding;
        if (std::holds_alternative<FunctionCode<EraserPress>>(binding) && !IsButtonGroup<EraserPress>(id)) return false;
        if (std::holds_alternative<FunctionCode<SideSwitch>>(binding) && !IsButtonGroup<SideSwitch>(id)) return false;
        if (std::holds_alternative<FunctionCode<Wedge>>(binding) && !IsButtonGroup<Wedge>(id)) return false;
    }
    for (int index = 0; index < kWedgeCount; ++index) {
        const auto* code = std::get_if<FunctionCode<Wedge>>(&SettingOf(WedgeFunction(index)).binding);
        if (!code || code->button.index != index) return false;
    }
    return true;
}
static_assert(ButtonGroupsAreWhole(), "a button's code, path, name and keystrokes follow one another");

}  // namespace PevraNUV
