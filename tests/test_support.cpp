#include "test_support.h"

#include <algorithm>
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

std::vector<Call> Journal::Calls() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_calls;
}

std::vector<Call> Journal::CallsTo(int slot) const {
    std::vector<Call> calls = Calls();
    calls.erase(std::remove_if(calls.begin(), calls.end(), [slot](const Call& call) { return call.slot != slot; }),
                calls.end());
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

Call Begin(int slot, void* context, const void* pointer = nullptr) {
    Call call;
    call.slot = slot;
    call.context = context;
    call.pointer = pointer;
    return call;
}

// The callbacks of one shape, for every slot of that shape.
template <int S>
void OnRecords(void* context, const PevraNUV_ButtonFunction* records, std::size_t number) {
    Call call = Begin(S, context, records);
    call.number = number;
    const std::size_t count = S == kOnMenuOp ? 10 : S < kOnMenuOp ? 1 : number;
    if (count > 0) call.records.assign(records, records + count);
    Journal::Instance().Record(std::move(call));
}

template <int S>
void OnSideSwitch(void* context, const PevraNUV_SideSwitch* sideSwitch) {
    Call call = Begin(S, context, sideSwitch);
    call.sideSwitch = *sideSwitch;
    Journal::Instance().Record(std::move(call));
}

template <int S>
void OnNumber(void* context, std::int32_t value) {
    Call call = Begin(S, context);
    call.value = value;
    Journal::Instance().Record(std::move(call));
}

template <int S>
void OnRange(void* context, std::int32_t low, std::int32_t high) {
    Call call = Begin(S, context);
    call.value = low;
    call.high = high;
    Journal::Instance().Record(std::move(call));
}

void OnVersions(void* context, const PevraNUV_Versions* versions) {
    Call call = Begin(kOnVersions, context, versions);
    call.versions = *versions;
    Journal::Instance().Record(std::move(call));
}

void OnPenInfo(void* context, const PevraNUV_PenInfo* pen) {
    Call call = Begin(kOnPenInfo, context, pen);
    call.pen = *pen;
    Journal::Instance().Record(std::move(call));
}

void OnZoom(void* context, PevraNUV_ZoomMap zoom) {
    Call call = Begin(kOnSlavedDisplayZoom, context);
    call.zoom = zoom;
    Journal::Instance().Record(std::move(call));
}

void OnWedgeCount(void* context, std::size_t count) {
    Call call = Begin(kOnWedgeCount, context);
    call.number = count;
    Journal::Instance().Record(std::move(call));
}

}  // namespace

const PevraNUV_Callbacks kRecordingTable = {
    OnVersions,
    OnPenInfo,
    OnRecords<kOnEraserSinglePress>,
    OnRecords<kOnEraserDoublePress>,
    OnRecords<kOnEraserLongPress>,
    OnSideSwitch<kOnTopSwitch>,
    OnSideSwitch<kOnBottomSwitch>,
    OnRecords<kOnMenuOp>,
    OnNumber<kOnTipSensitivity>,
    OnNumber<kOnTiltSensitivity>,
    OnZoom,
    OnRecords<kOnRunAppOptions>,
    OnRecords<kOnTopButtonSingleOptions>,
    OnRecords<kOnTopButtonDoubleOptions>,
    OnRecords<kOnTopButtonLongOptions>,
    OnRecords<kOnSideSwitchOptions>,
    OnRecords<kOnRadialWedgeOptions>,
    OnWedgeCount,
    OnRange<kOnRangeA>,
    OnRange<kOnRangeB>,
};

const PevraNUV_ButtonFunction& ReportedButton(const Call& call) {
    if (call.slot == kOnTopSwitch || call.slot == kOnBottomSwitch) return call.sideSwitch.press;
    return call.records.at(call.slot == kOnMenuOp ? call.number : 0);
}

std::u16string Text(const PevraNUV_Char* field, std::size_t capacity) {
    std::u16string text;
    for (std::size_t i = 0; i < capacity && field[i] != 0; ++i) text += static_cast<char16_t>(field[i]);
    return text;
}

void SetText(PevraNUV_ButtonFunction& record, const std::u16string& text) {
    constexpr std::size_t capacity = sizeof record.text / sizeof record.text[0];
    std::fill(std::begin(record.text), std::end(record.text), PevraNUV_Char{0});
    for (std::size_t i = 0; i < text.size() && i < capacity; ++i) record.text[i] = static_cast<PevraNUV_Char>(text[i]);
}

void ClientTest::SetUp() {
    Journal::Instance().Clear();
    client = PevraNUV::SettingsClient::Create();
}

void ClientTest::TearDown() {
    PevraNUV::SettingsClient::Destroy(client);
    Journal::Instance().Clear();
}

void ClientTest::Register(const PevraNUV_Callbacks* table, void* context) {
    client->RunSerialized([&] { PevraNUV::RegisterHost(*client, table, context); });
}

void ClientTest::RegisterRecorder() {
    Register(&kRecordingTable, &host);
    Journal::Instance().Clear();
}

void ClientTest::Dispatch(int id, const std::u16string& value) { client->DispatchValue(PevraNUV::KeyOf(id), value); }

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
