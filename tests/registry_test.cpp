// Host registration: the three reports, one entry per table, the order in
// which tables are called, and callbacks that call back into the library.
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "log/log.h"
#include "settings/catalogue.h"
#include "test_support.h"

namespace {

using namespace ptsa_test;

// A call as (slot, context, first number argument, second).
using Summary = std::tuple<int, void*, std::int64_t, std::int32_t>;

std::vector<Summary> Summarise(const std::vector<Call>& calls) {
    std::vector<Summary> summaries;
    for (const Call& call : calls) {
        const std::int64_t first = call.slot == kOnWedgeCount ? static_cast<std::int64_t>(call.number) : call.value;
        summaries.emplace_back(call.slot, call.context, first, call.high);
    }
    return summaries;
}

// What registering a table with this context reports, in order.
std::vector<Summary> Registration(void* context) {
    return {{kOnWedgeCount, context, 10, 0}, {kOnRangeA, context, 0, 6}, {kOnRangeB, context, -90, 90}};
}

std::vector<Summary> Tilt(void* context, std::int32_t value) { return {{kOnTiltSensitivity, context, value, 0}}; }

std::vector<Summary> operator+(std::vector<Summary> a, const std::vector<Summary>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class RegistryTest : public ClientTest {
protected:
    RegistryTest() : ClientTest(false) {}
    // Three copies of the recording table, in ascending address order.
    PevraNUV_Callbacks tables[3] = {kRecordingTable, kRecordingTable, kRecordingTable};
    int contexts[3] = {};
};

TEST_F(RegistryTest, RegistrationReportsRunOnTheRegisteringThread) {
    std::thread registrar([&] { Register(&tables[0], &contexts[0]); });
    const std::thread::id registrarId = registrar.get_id();
    registrar.join();
    EXPECT_EQ(Summarise(Calls()), Registration(&contexts[0]));
    for (const Call& call : Calls()) EXPECT_EQ(call.thread, registrarId);
}

TEST_F(RegistryTest, RegisteringAgainKeepsOneEntryWithTheNewContext) {
    Register(&tables[0], &contexts[0]);
    Register(&tables[0], &contexts[1]);
    EXPECT_EQ(Summarise(Calls()), Registration(&contexts[0]) + Registration(&contexts[1]));
    EXPECT_EQ(client->m_callbackTables.size(), 1u);
    EXPECT_EQ(Summarise(Feed(72, u"7")), Tilt(&contexts[1], 7));
}

TEST_F(RegistryTest, ALateTableHearsOnlyItsRegistrationAndLaterChanges) {
    Register(&tables[0], &contexts[0]);
    Dispatch(72, u"7");
    Dispatch(0, u"1.0");
    Journal::Instance().Clear();
    Register(&tables[1], &contexts[1]);
    EXPECT_EQ(Summarise(Calls()), Registration(&contexts[1]));
}

TEST_F(RegistryTest, TablesAreCalledInAscendingAddressOrderWithTheSamePointers) {
    for (int i : {2, 0, 1}) Register(&tables[i], &contexts[i]);
    EXPECT_EQ(Summarise(Feed(72, u"7")), Tilt(&contexts[0], 7) + Tilt(&contexts[1], 7) + Tilt(&contexts[2], 7));
    for (auto [id, value] : {std::pair{76, u"[{\"1\":\"a\"}]"}, std::pair{7, u"5"}, std::pair{0, u"1"}}) {
        const std::vector<Call> calls = Feed(id, value);
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[0].pointer, calls[2].pointer);
        EXPECT_EQ(calls[1].pointer, calls[2].pointer);
    }
}

TEST_F(RegistryTest, ATableOfNullSlotsIsRegisteredAndNeverCalled) {
    const PevraNUV_Callbacks empty{};
    Register(&empty, &contexts[0]);
    EXPECT_EQ(client->m_callbackTables.size(), 1u);
    for (auto [id, value] : {std::pair{0, u"1"}, std::pair{2, u"S"}, std::pair{2, u"S"}, std::pair{7, u"5"},
                             std::pair{23, u"1"}, std::pair{72, u"7"}, std::pair{81, u"{1,2,3,4}"}, std::pair{76, u""}})
        Dispatch(id, value);
    EXPECT_TRUE(Calls().empty());
}

TEST_F(RegistryTest, AChangedSlotTakesEffectAtTheNextCall) {
    Register(&tables[0], &contexts[0]);
    tables[0].OnTiltSensitivity = nullptr;
    EXPECT_TRUE(Feed(72, u"7").empty());
    tables[0].OnTiltSensitivity = kRecordingTable.OnTiltSensitivity;
    EXPECT_EQ(Feed(72, u"8").size(), 1u);
}

// A table registered from inside a callback joins the walk in progress when
// it lies above the running table, and the next event otherwise.
TEST_F(RegistryTest, ATableRegisteredFromACallbackAboveTheRunningOneIsCalledAtOnce) {
    Register(&tables[1], &contexts[1]);
    Journal::Instance().Clear();
    Journal::Instance().SetHook([&](const Call& call) {
        if (call.slot == kOnTiltSensitivity && call.context == &contexts[1]) Register(&tables[2], &contexts[2]);
    });
    Dispatch(72, u"7");
    EXPECT_EQ(Summarise(Calls()), Tilt(&contexts[1], 7) + Registration(&contexts[2]) + Tilt(&contexts[2], 7));
}

TEST_F(RegistryTest, ATableRegisteredFromACallbackBelowTheRunningOneWaitsForTheNextEvent) {
    Register(&tables[1], &contexts[1]);
    Journal::Instance().Clear();
    Journal::Instance().SetHook([&](const Call& call) {
        if (call.slot == kOnTiltSensitivity && call.context == &contexts[1]) Register(&tables[0], &contexts[0]);
    });
    Dispatch(72, u"7");
    EXPECT_EQ(Summarise(Calls()), Tilt(&contexts[1], 7) + Registration(&contexts[0]));
    EXPECT_EQ(Summarise(Feed(72, u"8")), Tilt(&contexts[0], 8) + Tilt(&contexts[1], 8));
}

// ---- Through the exports, on the process-wide client.

class RegistryExportTest : public ExportTest {
protected:
    int host = 0;
};

TEST_F(RegistryExportTest, RegistrationReportsComeBeforeTheExportReturnsAndANullTableIsIgnored) {
    PevraNUV_RegisterCallbacks(nullptr, &host);
    EXPECT_TRUE(Client().m_callbackTables.empty());
    PevraNUV_RegisterCallbacks(&kRecordingTable, &host);
    EXPECT_EQ(Summarise(Journal::Instance().Calls()), Registration(&host));
}

TEST_F(RegistryExportTest, ACallbackMayCallASetterWhichIsQueuedAtOnce) {
    PevraNUV_RegisterCallbacks(&kRecordingTable, &host);
    std::vector<std::u16string> queuedInside;
    Journal::Instance().SetHook([&](const Call& call) {
        if (call.slot != kOnTiltSensitivity) return;
        PevraNUV_SetTipSensitivity(3);
        queuedInside = Outgoing();
    });
    Client().DispatchValue(PevraNUV::KeyOf(72), u"7");
    const std::vector<std::u16string> expected = {
        uR"({"ComponentsDriver\\PenHandler\\PenTransducer\\ButtonTip\\PressureCurve":"3"})",
        uR"({"GetVal":"ComponentsDriver\\PenHandler\\PenTransducer\\ButtonTip\\PressureCurve"})"};
    EXPECT_EQ(queuedInside, expected);
    EXPECT_EQ(Outgoing(), expected);
}

TEST_F(RegistryExportTest, ShutdownDropsRegistrationsAndResetsTheLogLevel) {
    PevraNUV_RegisterCallbacks(&kRecordingTable, &host);
    PevraNUV_SetLogLevel(4);
    EXPECT_EQ(Client().m_logLevel, 4);
    EXPECT_TRUE(PevraNUV::g_logEnabled.load());

    PevraNUV_Shutdown();
    Journal::Instance().Clear();
    EXPECT_EQ(Client().m_logLevel, 3);
    EXPECT_FALSE(PevraNUV::g_logEnabled.load());
    EXPECT_TRUE(Client().m_callbackTables.empty());
    Client().DispatchValue(PevraNUV::KeyOf(72), u"7");
    EXPECT_TRUE(Journal::Instance().Calls().empty());
    EXPECT_EQ(Client().m_tiltSensitivity, 7) << "the new client took the value";
}

}  // namespace
