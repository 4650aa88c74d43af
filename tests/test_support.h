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
    kOnVersions, kOnPenInfo, kOnEraserSinglePress, kOnEraserDoublePress, kOnEraserLongPress,
    kOnTopSwitch, kOnBottomSwitch, kOnMenuOp, kOnTipSensitivity, kOnTiltSensitivity,
    kOnSlavedDisplayZoom, kOnRunAppOptions, kOnTopButtonSingleOptions, kOnTopButtonDoubleOptions,
    kOnTopButtonLongOptions, kOnSideSwitchOptions, kOnRadialWedgeOptions, kOnWedgeCount, kOnRangeA, kOnRangeB,
};

// One callback call, with its arguments taken while they were valid.
struct Call {
    int slot = -1;
    void* context = nullptr;
    std::thread::id thread;
    const void* pointer = nullptr;  // the pointer argument as passed
    std::size_t number = 0;         // index (slots 2-4, 7) or count (11-17)
    std::int32_t value = 0;         // slots 8, 9
    std::vector<PevraNUV_ButtonFunction> wedges;  // slot 7: all ten
    // The call as slot(arguments): "tilt(-3)", "pen(serial,penId,btId,battery)",
    // "topSwitch(function,text,hoverClick)", "wedge3(function,text)",
    // "topSingleOptions(1,88:text)", "rangeA(0,6)".
    std::string heard;
};

// Every call of the recording table, in order, from any thread.
class Journal {
public:
    static Journal& Instance();
    void Clear();  // also drops the hook
    std::vector<Call> Calls(int slot = -1) const;  // all, or those of one slot
    // Runs after each recorded call on the calling thread, as the callback
    // itself would (with the client's lock held).
    void SetHook(std::function<void(const Call&)> hook);
    void Record(Call call);

private:
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::function<void(const Call&)> m_hook;
};

// All twenty slots record into the journal.
extern const PevraNUV_Callbacks kRecordingTable;

// What a host heard: the calls, one a line; "" for no call.
std::string Heard(const std::vector<Call>& calls);

// A fixed text field up to its zero unit, never past the field.
template <std::size_t N>
std::u16string Text(const PevraNUV_Char (&field)[N]) {
    std::u16string text;
    for (std::size_t i = 0; i < N && field[i] != 0; ++i) text += static_cast<char16_t>(field[i]);
    return text;
}

// A client of its own, made and destroyed as the library does, with the
// recording table registered (context &host) unless told otherwise.
class ClientTest : public ::testing::Test {
protected:
    explicit ClientTest(bool record = true) : m_record(record) {}
    void SetUp() override;
    void TearDown() override;
    void Register(const PevraNUV_Callbacks* table, void* context);
    void Dispatch(int id, const std::u16string& value);  // as the sync thread does
    std::vector<Call> Feed(int id, const std::u16string& value);  // the calls one value makes
    std::string Heard(int id, const std::u16string& value) { return ptsa_test::Heard(Feed(id, value)); }
    std::vector<Call> Calls() const { return Journal::Instance().Calls(); }

    PevraNUV::SettingsClient* client = nullptr;
    int host = 0;

private:
    bool m_record;
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
