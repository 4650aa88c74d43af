#include "test_support.h"

#include <utility>

#include "api/library.h"
#include "dispatch/registry.h"
#include "settings/catalogue.h"

namespace ptsa_test {

const PevraNUV_ButtonFunction& Call::Button() const {
    if (slot == kOnTopSwitch || slot == kOnBottomSwitch) return sideSwitch.press;
    return records.at(slot == kOnMenuOp ? number : 0);
}

Journal& Journal::Instance() {
    static Journal journal;
    return journal;
}

void Journal::Clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_calls.clear();
    m_hook = nullptr;
}

std::vector<Call> Journal::Calls(int slot) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<Call> calls;
    for (const Call& call : m_calls)
        if (slot < 0 || call.slot == slot) calls.push_back(call);
    return calls;
}

void Journal::SetHook(std::function<void(const Call&)> hook) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_hook = std::move(hook);
}

void Journal::Record(Call call) {
    call.thread = std::this_thread::get_id();
    std::function<void(const Call&)> hook;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_calls.push_back(call);
        hook = m_hook;
    }
    if (hook) hook(call);
}

namespace {

// Records a call of slot S after fill has copied its arguments.
template <int S, typename Fill>
void Record(void* context, const void* pointer, Fill fill) {
    Call call;
    call.slot = S;
    call.context = context;
    call.pointer = pointer;
    fill(call);
    Journal::Instance().Record(std::move(call));
}

template <int S>
void OnRecords(void* context, const PevraNUV_ButtonFunction* records, std::size_t number) {
    Record<S>(context, records, [&](Call& call) {
        call.number = number;
        const std::size_t count = S == kOnMenuOp ? 10 : S < kOnMenuOp ? 1 : number;
        if (count > 0) call.records.assign(records, records + count);
    });
}

template <int S>
void OnSideSwitch(void* context, const PevraNUV_SideSwitch* sideSwitch) {
    Record<S>(context, sideSwitch, [&](Call& call) { call.sideSwitch = *sideSwitch; });
}

template <int S>
void OnNumber(void* context, std::int32_t value) {
    Record<S>(context, nullptr, [&](Call& call) { call.value = value; });
}

template <int S>
void OnRange(void* context, std::int32_t low, std::int32_t high) {
    Record<S>(context, nullptr, [&](Call& call) { call.value = low, call.high = high; });
}

}  // namespace

const PevraNUV_Callbacks kRecordingTable = {
    [](void* context, const PevraNUV_Versions* versions) {
        Record<kOnVersions>(context, versions, [&](Call& call) { call.versions = *versions; });
    },
    [](void* context, const PevraNUV_PenInfo* pen) {
        Record<kOnPenInfo>(context, pen, [&](Call& call) { call.pen = *pen; });
    },
    OnRecords<kOnEraserSinglePress>,
    OnRecords<kOnEraserDoublePress>,
    OnRecords<kOnEraserLongPress>,
    OnSideSwitch<kOnTopSwitch>,
    OnSideSwitch<kOnBottomSwitch>,
    OnRecords<kOnMenuOp>,
    OnNumber<kOnTipSensitivity>,
    OnNumber<kOnTiltSensitivity>,
    [](void* context, PevraNUV_ZoomMap zoom) {
        Record<kOnSlavedDisplayZoom>(context, nullptr, [&](Call& call) { call.zoom = zoom; });
    },
    OnRecords<kOnRunAppOptions>,
    OnRecords<kOnTopButtonSingleOptions>,
    OnRecords<kOnTopButtonDoubleOptions>,
    OnRecords<kOnTopButtonLongOptions>,
    OnRecords<kOnSideSwitchOptions>,
    OnRecords<kOnRadialWedgeOptions>,
    [](void* context, std::size_t count) {
        Record<kOnWedgeCount>(context, nullptr, [&](Call& call) { call.number = count; });
    },
    OnRange<kOnRangeA>,
    OnRange<kOnRangeB>,
};

namespace {

std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (char16_t unit : text) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    return narrow;
}

std::string Button(const PevraNUV_ButtonFunction& record) {
    return std::to_string(record.function) + "," + Narrow(Text(record.text));
}

std::string Heard(const Call& call) {
    static const char* const kNames[] = {
        "versions", "pen", "eraserSingle", "eraserDouble", "eraserLong", "topSwitch", "bottomSwitch", "wedge",
        "tip", "tilt", "zoom", "runAppOptions", "topSingleOptions", "topDoubleOptions", "topLongOptions",
        "sideSwitchOptions", "wedgeOptions", "wedgeCount", "rangeA", "rangeB"};
    std::string name = kNames[call.slot], arguments;
    switch (call.slot) {
    case kOnVersions:
        arguments = Narrow(Text(call.versions.serviceVersion)) + "," + Narrow(Text(call.versions.hidRouterVersion));
        break;
    case kOnPenInfo:
        arguments = Narrow(Text(call.pen.serialNumber)) + "," + Narrow(Text(call.pen.penId)) + "," +
                    Narrow(Text(call.pen.btId)) + "," + std::to_string(call.pen.batteryStatus);
        break;
    case kOnTopSwitch:
    case kOnBottomSwitch:
        arguments = Button(call.sideSwitch.press) + "," + std::to_string(call.sideSwitch.hoverClick);
        break;
    case kOnMenuOp:
        name += std::to_string(call.number);
        arguments = Button(call.Button());
        break;
    case kOnEraserSinglePress:
    case kOnEraserDoublePress:
    case kOnEraserLongPress:
        arguments = Button(call.Button());
        break;
    case kOnTipSensitivity:
    case kOnTiltSensitivity:
        arguments = std::to_string(call.value);
        break;
    case kOnSlavedDisplayZoom:
        for (std::int32_t number : {call.zoom.a, call.zoom.b, call.zoom.c, call.zoom.d})
            arguments += (arguments.empty() ? "" : ",") + std::to_string(number);
        break;
    case kOnWedgeCount:
        arguments = std::to_string(call.number);
        break;
    case kOnRangeA:
    case kOnRangeB:
        arguments = std::to_string(call.value) + "," + std::to_string(call.high);
        break;
    default:  // the option lists: code, or code:text
        for (const PevraNUV_ButtonFunction& record : call.records) {
            const std::string text = Narrow(Text(record.text));
            arguments += (arguments.empty() ? "" : ",") + std::to_string(record.function) + (text.empty() ? "" : ":" + text);
        }
    }
    return name + "(" + arguments + ")";
}

}  // namespace

std::string Heard(const std::vector<Call>& calls) {
    std::string heard;
    for (const Call& call : calls) heard += (heard.empty() ? "" : "\n") + Heard(call);
    return heard;
}

void ClientTest::SetUp() {
    Journal::Instance().Clear();
    client = PevraNUV::SettingsClient::Create();
    if (m_record) Register(&kRecordingTable, &host);
    Journal::Instance().Clear();
}

void ClientTest::TearDown() {
    PevraNUV::SettingsClient::Destroy(client);
    Journal::Instance().Clear();
}

void ClientTest::Register(const PevraNUV_Callbacks* table, void* context) {
    client->RunSerialized([&] { PevraNUV::RegisterHost(*client, table, context); });
}

void ClientTest::Dispatch(int id, const std::u16string& value) { client->DispatchValue(PevraNUV::KeyOf(id), value); }

std::vector<Call> ClientTest::Feed(int id, const std::u16string& value) {
    Journal::Instance().Clear();
    Dispatch(id, value);
    std::vector<Call> calls = Calls();
    Journal::Instance().Clear();
    return calls;
}

void ExportTest::SetUp() {
    Journal::Instance().Clear();
    PevraNUV_Shutdown();
}

void ExportTest::TearDown() {
    PevraNUV_Shutdown();
    Journal::Instance().Clear();
}

PevraNUV::SettingsClient& ExportTest::Client() { return PevraNUV::CurrentClient(); }

std::vector<std::u16string> ExportTest::Outgoing() {
    const auto& queue = Client().m_outgoing;
    return {queue.begin(), queue.end()};
}

}  // namespace ptsa_test
