// Every handler family fed its values, with callbacks that read every byte
// they are given (so that a record read past its
// end, or a text without its zero, shows under AddressSanitizer).
#include <cstring>

#include "dispatch/handlers.h"
#include "fuzz_input.h"
#include "settings/setting_table.h"

namespace {

volatile unsigned g_sink;

void Touch(const void* data, std::size_t bytes) {
    const auto* byte = static_cast<const unsigned char*>(data);
    unsigned sum = 0;
    for (std::size_t i = 0; i < bytes; ++i) sum += byte[i];
    g_sink = sum;
}

template <std::size_t N>
void TouchText(const PevraNUV_Char (&text)[N]) {
    std::size_t length = 0;
    while (length < N && text[length]) ++length;
    if (length == N) __builtin_trap();  // a text field without its zero
}

void TouchRecords(const PevraNUV_ButtonFunction* records, std::size_t count) {
    Touch(records, count * sizeof *records);
    for (std::size_t i = 0; i < count; ++i) TouchText(records[i].text);
}

PevraNUV_Callbacks RecordingTable() {
    PevraNUV_Callbacks table{};
    table.OnVersions = [](void*, const PevraNUV_Versions* v) { TouchText(v->hidRouterVersion), TouchText(v->serviceVersion); };
    table.OnPenInfo = [](void*, const PevraNUV_PenInfo* pen) {
        Touch(pen, sizeof *pen), TouchText(pen->serialNumber), TouchText(pen->penId), TouchText(pen->btId);
    };
    const auto one = [](void*, const PevraNUV_ButtonFunction* records, std::size_t index) {
        index == 0 ? TouchRecords(records, 1) : __builtin_trap();
    };
    table.OnEraserSinglePress = table.OnEraserDoublePress = table.OnEraserLongPress = one;
    table.OnTopSwitch = table.OnBottomSwitch = [](void*, const PevraNUV_SideSwitch* s) {
        Touch(s, sizeof *s);
        TouchText(s->press.text);
        if (s->hoverClick > 1) __builtin_trap();
    };
    table.OnMenuOp = [](void*, const PevraNUV_ButtonFunction* wedges, std::size_t index) {
        index <= 9 ? TouchRecords(wedges, 10) : __builtin_trap();
    };
    const auto list = [](void*, const PevraNUV_ButtonFunction* records, std::size_t count) { TouchRecords(records, count); };
    table.OnRunAppOptions = table.OnTopButtonSingleOptions = table.OnTopButtonDoubleOptions =
        table.OnTopButtonLongOptions = table.OnSideSwitchOptions = table.OnRadialWedgeOptions = list;
    table.OnTipSensitivity = table.OnTiltSensitivity = [](void*, std::int32_t value) { g_sink = value; };
    table.OnSlavedDisplayZoom = [](void*, PevraNUV_ZoomMap zoom) { g_sink = zoom.a + zoom.d; };
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One cache for the whole run: it and its lists grow across inputs, as
    // they do across a connection.
    static PevraNUV::ValueCache cache;
    static PevraNUV::HostRegistry hosts = [] {
        static PevraNUV_Callbacks table = RecordingTable();
        PevraNUV::HostRegistry registry;
        registry.Register(&table, nullptr);
        return registry;
    }();
    if (size < 1) return 0;
    const PevraNUV::SettingId id = PevraNUV::HandlerTable[data[0] % PevraNUV::HandlerTable.size()];
    PevraNUV::HandleValue(PevraNUV::SettingOf(id).binding, cache, hosts, PevraNUV::fuzz::Units(data + 1, size - 1));
    // Option lists only grow, and each report hands over the whole list:
    // start them again now and then so that inputs stay fast.
    if (cache.m_runAppOptions.size() > 64) cache.m_runAppOptions.clear();
    for (auto* list : {&cache.m_topButtonSingleOptions, &cache.m_topButtonDoubleOptions, &cache.m_topButtonLongOptions,
                       &cache.m_sideSwitchOptions, &cache.m_radialWedgeOptions})
        if (list->size() > 64) list->clear();
    return 0;
}
