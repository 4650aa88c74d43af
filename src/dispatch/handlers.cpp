// The value handlers: each turns a received value into the client's cached
// form and, when the value changed, tells every registered host. Handlers run
// as tasks under m_lock on the sync thread (DispatchValue).
//
// One parameterised handler per family; the table at the end binds every
// handled id to its family and its field, record, slot or index.
//
// Decisions where the behaviour was left open:
// - A value that should hold a number but does not read as one (no digits,
//   or outside int32) is dropped: no field changes, no host is called. Every
//   number of a value is read before anything is stored, so no record is
//   ever half updated. In an option list only the pair whose first string
//   does not read is skipped; a battery status that does not read changes
//   nothing and calls nobody.
// - A text longer than its fixed host-facing field (15 units for serial
//   numbers and ids, 511 for function and option texts) is truncated to fit
//   with its terminating zero, and a text holding a zero unit is cut there,
//   where the host stops reading; the full text stays where the cache holds
//   a std::u16string (versions, m_pens keys, m_currentPenSerial, the pairing
//   strings, m_runAppOptions).
// - An empty option list is reported with the count 0 and a valid pointer
//   (to one zero record), never a null one.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "client/settings_client.h"
#include "dispatch/fixed_text.h"
#include "dispatch/number.h"
#include "dispatch/option_pairs.h"
#include "settings/catalogue.h"

namespace PevraNUV {

namespace {

using HandlerMap = std::map<int, ValueHandler>;
using RecordsSlot = decltype(&PevraNUV_Callbacks::OnMenuOp);  // (records, index or count)
using SwitchSlot = decltype(&PevraNUV_Callbacks::OnTopSwitch);
using NumberSlot = decltype(&PevraNUV_Callbacks::OnTiltSensitivity);

constexpr std::size_t kMaxIdLength = 15;  // the units of a 16-unit text field, less its zero
constexpr std::int32_t kRunApplicationCode = 88;

// ---- Buttons: the eraser presses, the side switches, the radial-menu wedges.

// A side switch: its record, and the slot that reports it whole.
struct SideSwitch {
    PevraNUV_SideSwitch SettingsClient::*field;
    SwitchSlot slot;
};
constexpr SideSwitch kTopSwitch{&SettingsClient::m_topSwitch, &PevraNUV_Callbacks::OnTopSwitch};
constexpr SideSwitch kBottomSwitch{&SettingsClient::m_bottomSwitch, &PevraNUV_Callbacks::OnBottomSwitch};

void Report(SettingsClient& client, const SideSwitch& sideSwitch) {
    client.NotifyHosts(sideSwitch.slot, &(client.*sideSwitch.field));
}

// A button as its handlers see it: its function record, and how the hosts
// hear that the record changed.
struct Button {
    std::function<PevraNUV_ButtonFunction&(SettingsClient&)> record;
    std::function<void(SettingsClient&)> report;
};

// An eraser press: its own record, reported as an array of one at index 0.
Button EraserPress(PevraNUV_ButtonFunction SettingsClient::*press, RecordsSlot slot) {
    return {[press](SettingsClient& client) -> PevraNUV_ButtonFunction& { return client.*press; },
            [press, slot](SettingsClient& client) { client.NotifyHosts(slot, &(client.*press), std::size_t{0}); }};
}

// The single press of a side switch, reported with the whole switch.
Button SwitchPress(SideSwitch sideSwitch) {
    return {[sideSwitch](SettingsClient& client) -> PevraNUV_ButtonFunction& {
                return (client.*sideSwitch.field).press;
            },
            [sideSwitch](SettingsClient& client) { Report(client, sideSwitch); }};
}

// A radial-menu wedge: the hosts receive all ten and the changed index.
Button Wedge(int index) {
    return {[index](SettingsClient& client) -> PevraNUV_ButtonFunction& { return client.m_menuWedges[index]; },
            [index](SettingsClient& client) {
                client.NotifyHosts(&PevraNUV_Callbacks::OnMenuOp, client.m_menuWedges, static_cast<std::size_t>(index));
            }};
}

// Every button by its base id (the ButtonFunction key); its application
// path and keystrokes keys follow at fixed offsets.
std::vector<std::pair<int, Button>> Buttons() {
    std::vector<std::pair<int, Button>> buttons = {
        {kEraserSingleId, EraserPress(&SettingsClient::m_eraserSingle, &PevraNUV_Callbacks::OnEraserSinglePress)},
        {kEraserDoubleId, EraserPress(&SettingsClient::m_eraserDouble, &PevraNUV_Callbacks::OnEraserDoublePress)},
        {kEraserLongId, EraserPress(&SettingsClient::m_eraserLong, &PevraNUV_Callbacks::OnEraserLongPress)},
        {kTopSwitchId, SwitchPress(kTopSwitch)},
        {kBottomSwitchId, SwitchPress(kBottomSwitch)},
    };
    for (int wedge = 0; wedge < kWedgeCount; ++wedge) buttons.emplace_back(WedgeBaseId(wedge), Wedge(wedge));
    return buttons;
}

// ---- The families of single values.

// Version text. Any length is stored; the hosts hear of the versions only
// while both fit their 15-unit fields.
ValueHandler VersionText(std::u16string SettingsClient::*version) {
    return [version](SettingsClient& client, const std::u16string& value) {
        if (client.*version == value) return;
        client.*version = value;
        if (client.m_serviceVersion.size() > kMaxIdLength || client.m_hidRouterVersion.size() > kMaxIdLength) return;
        PevraNUV_Versions versions{};
        StoreText(versions.hidRouterVersion, client.m_hidRouterVersion);
        StoreText(versions.serviceVersion, client.m_serviceVersion);
        client.NotifyHosts(&PevraNUV_Callbacks::OnVersions, &versions);
    };
}

// Function code. A new code empties the text: the hosts see the code alone
// until its application path or keystrokes arrive. An empty or unreadable
// value is dropped.
ValueHandler FunctionCode(Button button) {
    return [button](SettingsClient& client, const std::u16string& value) {
        const std::optional<std::int32_t> code = ReadNumber(value);
        if (!code) return;
        PevraNUV_ButtonFunction& record = button.record(client);
        if (*code == record.function) return;
        record.function = *code;
        std::fill(std::begin(record.text), std::end(record.text), PevraNUV_Char{0});
        button.report(client);
    };
}

// Function text: the application path and the keystrokes of a button write
// the same text; the last received wins. Compared as it would be stored, so
// an over-long value received twice is reported once.
ValueHandler FunctionText(Button button) {
    return [button](SettingsClient& client, const std::u16string& value) {
        PevraNUV_ButtonFunction& record = button.record(client);
        if (HoldsText(record.text, value)) return;
        StoreText(record.text, value);
        button.report(client);
    };
}

// Hover click: any number but 0 is on.
ValueHandler HoverClick(SideSwitch sideSwitch) {
    return [sideSwitch](SettingsClient& client, const std::u16string& value) {
        const std::optional<std::int32_t> number = ReadNumber(value);
        if (!number) return;
        const std::uint32_t on = *number != 0 ? 1 : 0;
        PevraNUV_SideSwitch& record = client.*sideSwitch.field;
        if (on == record.hoverClick) return;
        record.hoverClick = on;
        Report(client, sideSwitch);
    };
}

ValueHandler ReportedNumber(std::int32_t SettingsClient::*field, NumberSlot slot) {
    return [field, slot](SettingsClient& client, const std::u16string& value) {
        const std::optional<std::int32_t> number = ReadNumber(value);
        if (!number || *number == client.*field) return;
        client.*field = *number;
        client.NotifyHosts(slot, *number);
    };
}

// Kept for the library's own use; no host is told.
ValueHandler CachedOnly(void (*store)(SettingsClient&, std::int32_t)) {
    return [store](SettingsClient& client, const std::u16string& value) {
        if (const std::optional<std::int32_t> number = ReadNumber(value)) store(client, *number);
    };
}

// Zoom map: all four numbers are read before any is stored.
void ZoomMap(SettingsClient& client, const std::u16string& value) {
    const std::optional<PevraNUV_ZoomMap> zoom = ReadZoomMap(value);
    if (!zoom) return;
    const PevraNUV_ZoomMap& held = client.m_zoomMap;
    if (zoom->a == held.a && zoom->b == held.b && zoom->c == held.c && zoom->d == held.d) return;
    client.m_zoomMap = *zoom;
    client.NotifyHosts(&PevraNUV_Callbacks::OnSlavedDisplayZoom, client.m_zoomMap);
}

// Kept until PevraNUV_FinishKeyCapture hands it over.
void CapturedKeys(SettingsClient& client, const std::u16string& value) { client.m_capturedKeys = value; }

// ---- Pen records.

PevraNUV_PenInfo NewPen(std::u16string_view serial) {
    PevraNUV_PenInfo pen{};
    StoreText(pen.serialNumber, serial);
    return pen;
}

// Current pen: a pen on file is reported; an unknown one is filed silently
// and reported when it is named again.
void CurrentPen(SettingsClient& client, const std::u16string& value) {
    client.m_currentPenSerial = value;
    const auto pen = client.m_pens.find(value);
    if (pen == client.m_pens.end()) {
        client.m_pens.emplace(value, NewPen(value));
        return;
    }
    client.NotifyHosts(&PevraNUV_Callbacks::OnPenInfo, &pen->second);
}

// A serial number and an id that arrive separately, in either order, and
// are filed together into one field of the pen's record.
struct Pairing {
    std::u16string SettingsClient::*serial;
    std::u16string SettingsClient::*id;
    PevraNUV_Char (PevraNUV_PenInfo::*field)[16];
};
constexpr Pairing kPenPairing{&SettingsClient::m_penSerial, &SettingsClient::m_penId, &PevraNUV_PenInfo::penId};
constexpr Pairing kBtPairing{&SettingsClient::m_btSerial, &SettingsClient::m_btId, &PevraNUV_PenInfo::btId};

// One half of a pairing, stored in `own`, also when empty. No host is told.
ValueHandler PairingHalf(Pairing pairing, std::u16string SettingsClient::*own) {
    return [pairing, own](SettingsClient& client, const std::u16string& value) {
        client.*own = value;
        std::u16string& serial = client.*pairing.serial;
        std::u16string& id = client.*pairing.id;
        if (serial.empty() || id.empty()) return;
        PevraNUV_PenInfo& pen = client.m_pens.try_emplace(serial, NewPen(serial)).first->second;
        StoreText(pen.*pairing.field, id);
        serial.clear();
        id.clear();
    };
}

// Battery status of the current pen, reported with every value once a pen
// is on file. An empty value keeps the status; an unreadable one changes
// nothing and calls nobody.
void BatteryStatus(SettingsClient& client, const std::u16string& value) {
    if (client.m_pens.empty()) return;
    std::optional<std::int32_t> status;
    if (!value.empty()) {
        status = ReadNumber(value);
        if (!status) return;
    }
    PevraNUV_PenInfo& pen = client.m_pens.try_emplace(client.m_currentPenSerial).first->second;
    if (status) pen.batteryStatus = *status;
    client.NotifyHosts(&PevraNUV_Callbacks::OnPenInfo, &pen);
}

// ---- Option lists.

// Reports a whole list, ascending, as a temporary array of records that
// lives until the last host has returned. An empty list still comes with a
// valid pointer (to one zero record) and the count 0.
template <typename List, typename Fill>
void ReportOptions(SettingsClient& client, RecordsSlot slot, const List& list, Fill fill) {
    std::vector<PevraNUV_ButtonFunction> records(std::max<std::size_t>(list.size(), 1));
    auto record = records.begin();
    for (const auto& entry : list) fill(*record++, entry);
    client.NotifyHosts(slot, records.data(), list.size());
}

// The run-application options, keyed by their text (the pair's second
// string), each reported with function 88.
void RunAppOptions(SettingsClient& client, const std::u16string& value) {
    ReadPairs(value, [&](std::u16string_view first, std::u16string_view second) {
        client.m_runAppOptions[std::u16string(second)] = std::u16string(first);
    });
    ReportOptions(client, &PevraNUV_Callbacks::OnRunAppOptions, client.m_runAppOptions,
                  [](PevraNUV_ButtonFunction& record, const auto& entry) {
                      record.function = kRunApplicationCode;
                      StoreText(record.text, entry.first);
                  });
}

// A list of function codes, read from the pairs' first strings; a pair whose
// first string does not read as a number is skipped.
ValueHandler FunctionCodeOptions(std::set<std::int32_t> SettingsClient::*list, RecordsSlot slot) {
    return [list, slot](SettingsClient& client, const std::u16string& value) {
        std::set<std::int32_t>& codes = client.*list;
        ReadPairs(value, [&](std::u16string_view first, std::u16string_view) {
            if (const std::optional<std::int32_t> code = ReadNumber(first)) codes.insert(*code);
        });
        ReportOptions(client, slot, codes,
                      [](PevraNUV_ButtonFunction& record, std::int32_t code) { record.function = code; });
    };
}

// ---- The table: every handled id and its handler.

HandlerMap BuildHandlers() {
    HandlerMap handlers = {
        {0, VersionText(&SettingsClient::m_serviceVersion)},
        {1, VersionText(&SettingsClient::m_hidRouterVersion)},
        {2, CurrentPen},
        {3, PairingHalf(kPenPairing, &SettingsClient::m_penSerial)},
        {4, PairingHalf(kPenPairing, &SettingsClient::m_penId)},
        {5, PairingHalf(kBtPairing, &SettingsClient::m_btSerial)},
        {6, PairingHalf(kBtPairing, &SettingsClient::m_btId)},
        {kTopHoverClickId, HoverClick(kTopSwitch)},
        {kBottomHoverClickId, HoverClick(kBottomSwitch)},
        {kMenuCenterRightClickId,
         CachedOnly([](SettingsClient& client, std::int32_t number) { client.m_menuCenterRightClick = number != 0; })},
        {70, BatteryStatus},
        {71, CachedOnly([](SettingsClient& client, std::int32_t number) { client.m_batteryAlertDelay = number; })},
        {kTiltSensitivityId, ReportedNumber(&SettingsClient::m_tiltSensitivity, &PevraNUV_Callbacks::OnTiltSensitivity)},
        {kTipSensitivityId, ReportedNumber(&SettingsClient::m_tipSensitivity, &PevraNUV_Callbacks::OnTipSensitivity)},
        {kCapturedKeystrokesId, CapturedKeys},
        {75, RunAppOptions},
        {76, FunctionCodeOptions(&SettingsClient::m_topButtonSingleOptions, &PevraNUV_Callbacks::OnTopButtonSingleOptions)},
        {77, FunctionCodeOptions(&SettingsClient::m_topButtonDoubleOptions, &PevraNUV_Callbacks::OnTopButtonDoubleOptions)},
        {78, FunctionCodeOptions(&SettingsClient::m_topButtonLongOptions, &PevraNUV_Callbacks::OnTopButtonLongOptions)},
        {79, FunctionCodeOptions(&SettingsClient::m_sideSwitchOptions, &PevraNUV_Callbacks::OnSideSwitchOptions)},
        {80, FunctionCodeOptions(&SettingsClient::m_radialWedgeOptions, &PevraNUV_Callbacks::OnRadialWedgeOptions)},
        {kZoomMapId, ZoomMap},
    };
    for (const auto& [baseId, button] : Buttons()) {
        handlers.emplace(baseId, FunctionCode(button));
        handlers.emplace(baseId + kAppPathOffset, FunctionText(button));
        handlers.emplace(baseId + kKeystrokesOffset, FunctionText(button));
    }
    return handlers;
}

}  // namespace

ValueHandler HandlerForSetting(int id) {
    static const HandlerMap handlers = BuildHandlers();
    const auto handler = handlers.find(id);
    return handler == handlers.end() ? ValueHandler() : handler->second;
}

}  // namespace PevraNUV
