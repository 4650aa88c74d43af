// Shared by the unit tests: a recording callback table, clients to feed
// values to, and portable text helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "client/settings_client.h"

namespace ptsa_test {

// The slots of PevraNUV_Callbacks, in table order.
enum Slot : int {
    kOnVersions,
    kOnPenInfo,
    kOnEraserSinglePress,
    kOnEraserDoublePress,
    kOnEraserLongPress,
    kOnTopSwitch,
    kOnBottomSwitch,
    kOnMenuOp,
    kOnTipSensitivity,
    kOnTiltSensitivity,
    kOnSlavedDisplayZoom,
    kOnRunAppOptions,
    kOnTopButtonSingleOptions,
    kOnTopButtonDoubleOptions,
    kOnTopButtonLongOptions,
    kOnSideSwitchOptions,
    kOnRadialWedgeOptions,
    kOnWedgeCount,
    kOnRangeA,
    kOnRangeB,
};

// One callback call, with its arguments copied while they were valid.
struct Call {
    int slot = -1;
    void* context = nullptr;
    std::thread::id thread;
    const void* pointer = nullptr;  // the pointer argument as passed
    std::size_t number = 0;         // index (slots 2-4, 7) or count (11-17)
    std::int32_t value = 0;         // slots 8, 9; low for 18, 19
    std::int32_t high = 0;          // slots 18, 19
    PevraNUV_Versions versions{};
    PevraNUV_PenInfo pen{};
    PevraNUV_SideSwitch sideSwitch{};
    PevraNUV_ZoomMap zoom{};
    // Slots 2-4: the one record; slot 7: all ten wedges; 11-16: count records.
    std::vector<PevraNUV_ButtonFunction> records;
};

// Every call of the recording table, in order, from any thread.
class Journal {
public:
    static Journal& Instance();
    void Clear();
    std::vector<Call> Calls() const;
    std::vector<Call> CallsTo(int slot) const;
    // Runs after each recorded call, outside the journal's lock, on the
    // calling thread (with the client's lock held, as the callback is).
    void SetHook(std::function<void(const Call&)> hook);
    void Record(Call call);

private:
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::function<void(const Call&)> m_hook;
};

// All twenty slots record into the journal.
extern const PevraNUV_Callbacks kRecordingTable;

// The button record a call reports (slots 2-7).
const PevraNUV_ButtonFunction& ReportedButton(const Call& call);

// A fixed text field up to its zero unit, never past the field.
std::u16string Text(const PevraNUV_Char* field, std::size_t capacity);
template <std::size_t N>
std::u16string Text(const PevraNUV_Char (&field)[N]) {
    return Text(field, N);
}
// Fills a record's text field (cut to fit with its zero).
void SetText(PevraNUV_ButtonFunction& record, const std::u16string& text);

// A client of its own, made and destroyed as the library does, fed values
// the way the sync thread feeds them.
class ClientTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void Register(const PevraNUV_Callbacks* table, void* context);
    // Registers the recording table with &host and forgets its three reports.
    void RegisterRecorder();
    void Dispatch(int id, const std::u16string& value);
    std::vector<Call> Calls() const { return Journal::Instance().Calls(); }

    PevraNUV::SettingsClient* client = nullptr;
    int host = 0;  // its address is the recording table's context
};

// The process-wide client through the exports: fresh for every test, and
// replaced again afterwards so that no test's table stays registered.
class ExportTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    static PevraNUV::SettingsClient& Client();
    static std::vector<std::u16string> Outgoing();
};

}  // namespace ptsa_test
