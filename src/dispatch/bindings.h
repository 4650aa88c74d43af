// What a handled setting binds to: one small literal type per family of
// value handler, holding the cache field, record, callback slot or index the
// family works on. The table of settings holds one Binding per setting; a
// setting of an existing family is added with one row there.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <variant>

#include "PTabletSettingsAPI.h"
#include "dispatch/value_cache.h"

namespace PevraNUV {

using RecordsSlot = decltype(&PevraNUV_Callbacks::OnMenuOp);  // (records, index or count)
using SwitchSlot = decltype(&PevraNUV_Callbacks::OnTopSwitch);
using NumberSlot = decltype(&PevraNUV_Callbacks::OnTiltSensitivity);

// ---- The buttons a function code and its text belong to.

// An eraser press: its own record, reported as an array of one at index 0.
struct EraserPress {
    PevraNUV_ButtonFunction ValueCache::*record;
    RecordsSlot slot;
};
// A side switch: its single press and its hover click, reported whole.
struct SideSwitch {
    PevraNUV_SideSwitch ValueCache::*record;
    SwitchSlot slot;
};
// A radial-menu wedge: the hosts receive all ten and the changed index.
struct Wedge {
    int index;
};

// ---- The families.

struct NotHandled {};  // a key the library never asks for (the function names)

// Function code of a button. A new code empties the button's text.
template <typename Button>
struct FunctionCode {
    Button button;
};
// Application path or keystrokes of a button: both write the button's one text.
template <typename Button>
struct FunctionText {
    Button button;
};
struct HoverClick {
    SideSwitch sideSwitch;
};
// A version text; the hosts receive both versions together.
struct VersionText {
    std::u16string ValueCache::*field;
};
// A number the hosts are told of.
struct ReportedNumber {
    std::int32_t ValueCache::*field;
    NumberSlot slot;
};
// A number, or an on/off flag (any number but 0 is on), kept and told to no host.
struct CachedNumber {
    std::int32_t ValueCache::*field;
};
struct CachedFlag {
    std::int32_t ValueCache::*field;
};
// One half of a pen or BT-module pairing: a serial number and an id that
// arrive separately and are filed together into one field of the pen.
struct Pairing {
    std::u16string ValueCache::*serial;
    std::u16string ValueCache::*id;
    PevraNUV_Char (PevraNUV_PenInfo::*field)[16];
};
struct PairingHalf {
    Pairing pairing;
    std::u16string ValueCache::*own;
};
struct CurrentPen {};
struct BatteryStatus {};
struct CapturedKeys {};
struct ZoomMap {};
// The run-application list, keyed by each entry's text.
struct RunAppOptions {
    RecordsSlot slot;
};
// A list of function codes.
struct CodeOptions {
    std::set<std::int32_t> ValueCache::*list;
    RecordsSlot slot;
};

using Binding = std::variant<NotHandled, FunctionCode<EraserPress>, FunctionCode<SideSwitch>, FunctionCode<Wedge>,
                             FunctionText<EraserPress>, FunctionText<SideSwitch>, FunctionText<Wedge>, HoverClick,
                             VersionText, ReportedNumber, CachedNumber, CachedFlag, PairingHalf, CurrentPen,
                             BatteryStatus, CapturedKeys, ZoomMap, RunAppOptions, CodeOptions>;

}  // namespace PevraNUV
