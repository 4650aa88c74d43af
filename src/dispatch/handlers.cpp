// The value handlers, one per family of setting.
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
//   a std::u16string (versions, pen serials, the pairing halves, the
//   run-application texts).
// - An empty option list is reported with the count 0 and a valid pointer
//   (to one zero record), never a null one.
#include "dispatch/handlers.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "dispatch/fixed_text.h"
#include "dispatch/number.h"
#include "dispatch/option_pairs.h"

namespace PevraNUV {

namespace {

constexpr std::size_t kMaxIdLength = 15;  // the units of a 16-unit text field, less its zero

// The function code with which every run-application option is reported:
// the code of the option list itself, not PevraNUV_FunctionRunApplication
// (23), which a host assigns to run the entry it picked.
constexpr std::int32_t kRunAppOptionCode = 88;

// Context of one handler call.
struct Call {
    ValueCache& cache;
    const HostRegistry& hosts;
    std::u16string_view value;
};

// ---- Buttons: where each kind keeps its function record, and how the hosts
// hear that it changed.

PevraNUV_ButtonFunction& RecordOf(ValueCache& cache, const EraserPress& press) { return cache.*press.record; }
PevraNUV_ButtonFunction& RecordOf(ValueCache& cache, const SideSwitch& side) { return (cache.*side.record).press; }
PevraNUV_ButtonFunction& RecordOf(ValueCache& cache, const Wedge& wedge) { return cache.m_menuWedges[wedge.index]; }

void Report(const Call& call, const EraserPress& press) {
    call.hosts.NotifyHosts(press.slot, &(call.cache.*press.record), std::size_t{0});
}
void Report(const Call& call, const SideSwitch& side) { call.hosts.NotifyHosts(side.slot, &(call.cache.*side.record)); }
void Report(const Call& call, const Wedge& wedge) {
    call.hosts.NotifyHosts(&PevraNUV_Callbacks::OnMenuOp, call.cache.m_menuWedges, static_cast<std::size_t>(wedge.index));
}

void Handle(const Call&, const NotHandled&) {}

// A new code empties the text: the hosts see the code alone until its
// application path or keystrokes arrive. An empty or unreadable value is
// dropped.
template <typename Button>
void Handle(const Call& call, const FunctionCode<Button>& binding) {
    const std::optional<std::int32_t> code = ReadNumber(call.value);
    if (!code) return;
    PevraNUV_ButtonFunction& record = RecordOf(call.cache, binding.button);
    if (*code == record.function) return;
    record.function = *code;
    std::fill(std::begin(record.text), std::end(record.text), PevraNUV_Char{0});
    Report(call, binding.button);
}

// The last text received wins. Compared as it would be stored, so an
// over-long value received twice is reported once.
template <typename Button>
void Handle(const Call& call, const FunctionText<Button>& binding) {
    PevraNUV_ButtonFunction& record = RecordOf(call.cache, binding.button);
    if (HoldsText(record.text, call.value)) return;
    StoreText(record.text, call.value);
    Report(call, binding.button);
}

void Handle(const Call& call, const HoverClick& binding) {
    const std::optional<std::int32_t> number = ReadNumber(call.value);
    if (!number) return;
    const std::uint32_t on = *number != 0 ? 1 : 0;
    PevraNUV_SideSwitch& record = call.cache.*binding.sideSwitch.record;
    if (on == record.hoverClick) return;
    record.hoverClick = on;
    Report(call, binding.sideSwitch);
}

// Any length is stored; the hosts hear of the versions only while both fit
// their 15-unit fields.
void Handle(const Call& call, const VersionText& binding) {
    ValueCache& cache = call.cache;
    if (cache.*binding.field == call.value) return;
    cache.*binding.field = call.value;
    if (cache.m_serviceVersion.size() > kMaxIdLength || cache.m_hidRouterVersion.size() > kMaxIdLength) return;
    PevraNUV_Versions versions{};
    StoreText(versions.hidRouterVersion, cache.m_hidRouterVersion);
    StoreText(versions.serviceVersion, cache.m_serviceVersion);
    call.hosts.NotifyHosts(&PevraNUV_Callbacks::OnVersions, &versions);
}

void Handle(const Call& call, const ReportedNumber& binding) {
    const std::optional<std::int32_t> number = ReadNumber(call.value);
    if (!number || *number == call.cache.*binding.field) return;
    call.cache.*binding.field = *number;
    call.hosts.NotifyHosts(binding.slot, *number);
}

void Handle(const Call& call, const CachedNumber& binding) {
    if (const std::optional<std::int32_t> number = ReadNumber(call.value)) call.cache.*binding.field = *number;
}

void Handle(const Call& call, const CachedFlag& binding) {
    if (const std::optional<std::int32_t> number = ReadNumber(call.value)) call.cache.*binding.field = *number != 0;
}

// ---- Pen records.

PevraNUV_PenInfo NewPen(std::u16string_view serial) {
    PevraNUV_PenInfo pen{};
    StoreText(pen.serialNumber, serial);
    return pen;
}

// A pen on file is reported; an unknown one is filed silently and reported
// when it is named again.
void Handle(const Call& call, const CurrentPen&) {
    ValueCache& cache = call.cache;
    cache.m_currentPenSerial = call.value;
    const auto pen = cache.m_pens.find(call.value);
    if (pen == cache.m_pens.end()) {
        cache.m_pens.emplace(std::u16string(call.value), NewPen(call.value));
        return;
    }
    call.hosts.NotifyHosts(&PevraNUV_Callbacks::OnPenInfo, &pen->second);
}

// Stores its half, also when empty; once both halves are there they are
// filed into the pen's record and forgotten. No host is told.
void Handle(const Call& call, const PairingHalf& binding) {
    ValueCache& cache = call.cache;
    cache.*binding.own = call.value;
    std::u16string& serial = cache.*binding.pairing.serial;
    std::u16string& id = cache.*binding.pairing.id;
    if (serial.empty() || id.empty()) return;
    PevraNUV_PenInfo& pen = cache.m_pens.try_emplace(serial, NewPen(serial)).first->second;
    StoreText(pen.*binding.pairing.field, id);
    serial.clear();
    id.clear();
}

// Reported with every value once a pen is on file. An empty value keeps the
// status; an unreadable one changes nothing and calls nobody.
void Handle(const Call& call, const BatteryStatus&) {
    ValueCache& cache = call.cache;
    if (cache.m_pens.empty()) return;
    std::optional<std::int32_t> status;
    if (!call.value.empty()) {
        status = ReadNumber(call.value);
        if (!status) return;
    }
    PevraNUV_PenInfo& pen = cache.m_pens.try_emplace(cache.m_currentPenSerial).first->second;
    if (status) pen.batteryStatus = *status;
    call.hosts.NotifyHosts(&PevraNUV_Callbacks::OnPenInfo, &pen);
}

// Kept until PevraNUV_FinishKeyCapture hands it over.
void Handle(const Call& call, const CapturedKeys&) { call.cache.m_capturedKeys = call.value; }

// All four numbers are read before any is stored.
void Handle(const Call& call, const ZoomMap&) {
    const std::optional<PevraNUV_ZoomMap> zoom = ReadZoomMap(call.value);
    if (!zoom) return;
    PevraNUV_ZoomMap& held = call.cache.m_zoomMap;
    if (zoom->a == held.a && zoom->b == held.b && zoom->c == held.c && zoom->d == held.d) return;
    held = *zoom;
    call.hosts.NotifyHosts(&PevraNUV_Callbacks::OnSlavedDisplayZoom, held);
}

// ---- Option lists.

// Reports a whole list, ascending, as a temporary array of records that
// lives until the last host has returned. An empty list still comes with a
// valid pointer (to one zero record) and the count 0.
template <typename List, typename Fill>
void ReportOptions(const Call& call, RecordsSlot slot, const List& list, Fill fill) {
    std::vector<PevraNUV_ButtonFunction> records(std::max<std::size_t>(list.size(), 1));
    auto record = records.begin();
    for (const auto& entry : list) fill(*record++, entry);
    call.hosts.NotifyHosts(slot, records.data(), list.size());
}

// Keyed by the pair's second string, the text a host shows.
void Handle(const Call& call, const RunAppOptions& binding) {
    auto& options = call.cache.m_runAppOptions;
    ReadPairs(call.value, [&](std::u16string_view first, std::u16string_view second) {
        options[std::u16string(second)] = std::u16string(first);
    });
    ReportOptions(call, binding.slot, options, [](PevraNUV_ButtonFunction& record, const auto& entry) {
        record.function = kRunAppOptionCode;
        StoreText(record.text, entry.first);
    });
}

// Codes read from the pairs' first strings; a pair whose first string does
// not read as a number is skipped.
void Handle(const Call& call, const CodeOptions& binding) {
    std::set<std::int32_t>& codes = call.cache.*binding.list;
    ReadPairs(call.value, [&](std::u16string_view first, std::u16string_view) {
        if (const std::optional<std::int32_t> code = ReadNumber(first)) codes.insert(*code);
    });
    ReportOptions(call, binding.slot, codes,
                  [](PevraNUV_ButtonFunction& record, std::int32_t code) { record.function = code; });
}

}  // namespace

void HandleValue(const Binding& binding, ValueCache& cache, const HostRegistry& hosts, std::u16string_view value) {
    const Call call{cache, hosts, value};
    std::visit([&](const auto& family) { Handle(call, family); }, binding);
}

}  // namespace PevraNUV
