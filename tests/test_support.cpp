#include "test_support.h"

#include <utility>

#include "api/library.h"
#include "dispatch/registry.h"
#include "settings/catalogue.h"

namespace ptsa_test {

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

std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (char16_t unit : text) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    return narrow;
}

template <std::size_t N>
std::string Narrow(const PevraNUV_Char (&field)[N]) {
    return Narrow(Text(field));
}

std::string Button(const PevraNUV_ButtonFunction& record) {
    return std::to_string(record.function) + "," + Narrow(record.text);
}

constexpr const char* kNames[] = {
    "versions", "pen", "eraserSingle", "eraserDouble", "eraserLong", "topSwitch", "bottomSwitch", "wedge",
    "tip", "tilt", "zoom", "runAppOptions", "topSingleOptions", "topDoubleOptions", "topLongOptions",
    "sideSwitchOptions", "wedgeOptions", "wedgeCount", "rangeA", "rangeB"};

// Records a call of slot S with its arguments as text.
template <int S>
void Record(void* context, const void* pointer, const std::string& arguments, Call call = {}) {
    call.slot = S;
    call.context = context;
    call.pointer = pointer;
    call.heard = std::string(kNames[S]) + (S == kOnMenuOp ? std::to_string(call.number) : "") + "(" + arguments + ")";
    Journal::Instance().Record(std::move(call));
}

template <int S>
void OnRecords(void* context, const PevraNUV_ButtonFunction* records, std::size_t number) {
    Call call;
    call.number = number;
    if (S == kOnMenuOp) call.wedges.assign(records, records + 10);
    std::string arguments;
    if (S <= kOnMenuOp) {
        arguments = Button(records[S == kOnMenuOp ? number : 0]);
    } else {  // an option list: code, or code:text
        for (std::size_t i = 0; i < number; ++i) {
            const std::string text = Narrow(records[i].text);
            arguments += (i ? "," : "") + std::to_string(records[i].function) + (text.empty() ? "" : ":" + text);
        }
    }
    Record<S>(context, records, arguments, call);
}

template <int S>
void OnSideSwitch(void* context, const PevraNUV_SideSwitch* sideSwitch) {
    Record<S>(context, sideSwitch, Button(sideSwitch->press) + "," + std::to_string(sideSwitch->hoverClick));
}

template <int S>
void OnNumber(void* context, std::int32_t value) {
    Call call;
    call.value = value;
    Record<S>(context, nullptr, std::to_string(value), call);
}

template <int S>
void OnRange(void* context, std::int32_t low, std::int32_t high) {
    Record<S>(context, nullptr, std::to_string(low) + "," + std::to_string(high));
}

}  // namespace

const PevraNUV_Callbacks kRecordingTable = {
    [](void* context, const PevraNUV_Versions* versions) {
        Record<kOnVersions>(context, versions,
                            Narrow(versions->serviceVersion) + "," + Narrow(versions->hidRouterVersion));
    },
    [](void* context, const PevraNUV_PenInfo* pen) {
        Record<kOnPenInfo>(context, pen, Narrow(pen->serialNumber) + "," + Narrow(pen->penId) + "," +
                                             Narrow(pen->btId) + "," + std::to_string(pen->batteryStatus));
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
        Record<kOnSlavedDisplayZoom>(context, nullptr,
                                     std::to_string(zoom.a) + "," + std::to_string(zoom.b) + "," +
                                         std::to_string(zoom.c) + "," + std::to_string(zoom.d));
    },
    OnRecords<kOnRunAppOptions>,
    OnRecords<kOnTopButtonSingleOptions>,
    OnRecords<kOnTopButtonDoubleOptions>,
    OnRecords<kOnTopButtonLongOptions>,
    OnRecords<kOnSideSwitchOptions>,
    OnRecords<kOnRadialWedgeOptions>,
    [](void* context, std::size_t count) {
        Call call;
        call.number = count;
        Record<kOnWedgeCount>(context, nullptr, std::to_string(count), call);
    },
    OnRange<kOnRangeA>,
    OnRange<kOnRangeB>,
};

std::string Heard(const std::vector<Call>& calls) {
    std::string heard;
    for (const Call& call : calls) heard += (heard.empty() ? "" : "\n") + call.heard;
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
