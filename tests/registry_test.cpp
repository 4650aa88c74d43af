// Host registration: the three reports, one entry per table, the order in
// which tables are called, and callbacks that call back into the library.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "api/library.h"
#include "log/log.h"
#include "settings/catalogue.h"
#include "test_support.h"

namespace {

using namespace ptsa_test;

// Contexts, by their slots and values.
std::vector<std::pair<void*, int>> Contexts(const std::vector<Call>& calls) {
    std::vector<std::pair<void*, int>> contexts;
    for (const Call& call : calls) contexts.emplace_back(call.context, call.slot);
    return contexts;
}

void ExpectRegistrationReports(const std::vector<Call>& calls, void* context, std::thread::id thread) {
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].slot, kOnWedgeCount);
    EXPECT_EQ(calls[0].number, 10u);
    EXPECT_EQ(calls[1].slot, kOnRangeA);
    EXPECT_EQ(calls[1].value, 0);
    EXPECT_EQ(calls[1].high, 6);
    EXPECT_EQ(calls[2].slot, kOnRangeB);
    EXPECT_EQ(calls[2].value, -90);
    EXPECT_EQ(calls[2].high, 90);
    for (const Call& call : calls) {
        EXPECT_EQ(call.context, context);
        EXPECT_EQ(call.thread, thread);
    }
}

class RegistryTest : public ClientTest {
protected:
    // Three copies of the recording table, in ascending address order.
    PevraNUV_Callbacks tables[3] = {kRecordingTable, kRecordingTable, kRecordingTable};
    int contexts[3] = {};
};

TEST_F(RegistryTest, RegistrationReportsRunOnTheRegisteringThread) {
    std::thread::id registrar;
    std::thread thread([&] {
        registrar = std::this_thread::get_id();
        Register(&tables[0], &contexts[0]);
    });
    thread.join();
    ExpectRegistrationReports(Calls(), &contexts[0], registrar);
}

TEST_F(RegistryTest, RegisteringAgainKeepsOneEntryWithTheNewContext) {
    Register(&tables[0], &contexts[0]);
    Register(&tables[0], &contexts[1]);
    const std::vector<Call> calls = Calls();
    ASSERT_EQ(calls.size(), 6u);
    ExpectRegistrationReports({calls.begin(), calls.begin() + 3}, &contexts[0], std::this_thread::get_id());
    ExpectRegistrationReports({calls.begin() + 3, calls.end()}, &contexts[1], std::this_thread::get_id());
    EXPECT_EQ(client->m_callbackTables.size(), 1u);

    Journal::Instance().Clear();
    Dispatch(72, u"7");
    ASSERT_EQ(Calls().size(), 1u);
    EXPECT_EQ(Calls()[0].context, &contexts[1]);
}

TEST_F(RegistryTest, OnlyTheNewTableHearsItsRegistrationAndNothingIsReplayed) {
    Register(&tables[0], &contexts[0]);
    Dispatch(72, u"7");
    Dispatch(0, u"1.0");
    Journal::Instance().Clear();
    Register(&tables[1], &contexts[1]);
    ExpectRegistrationReports(Calls(), &contexts[1], std::this_thread::get_id());
}

TEST_F(RegistryTest, TablesAreCalledInAscendingAddressOrder) {
    for (int i : {2, 0, 1}) Register(&tables[i], &contexts[i]);
    Journal::Instance().Clear();
    Dispatch(72, u"7");
    const std::vector<Call> calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].context, &contexts[i]);
        EXPECT_EQ(calls[i].value, 7);
    }
}

TEST_F(RegistryTest, EveryHostReceivesTheSamePointers) {
    Register(&tables[0], &contexts[0]);
    Register(&tables[1], &contexts[1]);
    Journal::Instance().Clear();
    Dispatch(76, uR"([{"1":"a"}])");
    Dispatch(7, u"5");
    const std::vector<Call> calls = Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].pointer, calls[1].pointer);
    EXPECT_EQ(calls[2].pointer, calls[3].pointer);
}

TEST_F(RegistryTest, ATableOfNullSlotsIsRegisteredAndNeverCalled) {
    const PevraNUV_Callbacks empty{};
    Register(&empty, &contexts[0]);
    EXPECT_EQ(client->m_callbackTables.size(), 1u);
    const std::vector<std::pair<int, std::u16string>> values = {{0, u"1"},  {7, u"5"},          {23, u"1"},
                                                                {72, u"7"}, {81, u"{1,2,3,4}"}, {76, u""}};
    for (const auto& [id, value] : values) Dispatch(id, value);
    Dispatch(2, u"S");
    Dispatch(2, u"S");
    EXPECT_TRUE(Calls().empty());
}

TEST_F(RegistryTest, AChangedSlotTakesEffectAtTheNextCall) {
    Register(&tables[0], &contexts[0]);
    Journal::Instance().Clear();
    tables[0].OnTiltSensitivity = nullptr;
    Dispatch(72, u"7");
    EXPECT_TRUE(Calls().empty());
    tables[0].OnTiltSensitivity = kRecordingTable.OnTiltSensitivity;
    Dispatch(72, u"8");
    EXPECT_EQ(Calls().size(), 1u);
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
    EXPECT_EQ(Contexts(Calls()), (std::vector<std::pair<void*, int>>{{&contexts[1], kOnTiltSensitivity},
                                                                      {&contexts[2], kOnWedgeCount},
                                                                      {&contexts[2], kOnRangeA},
                                                                      {&contexts[2], kOnRangeB},
                                                                      {&contexts[2], kOnTiltSensitivity}}));
}

TEST_F(RegistryTest, ATableRegisteredFromACallbackBelowTheRunningOneWaitsForTheNextEvent) {
    Register(&tables[1], &contexts[1]);
    Journal::Instance().Clear();
    Journal::Instance().SetHook([&](const Call& call) {
        if (call.slot == kOnTiltSensitivity && call.context == &contexts[1]) Register(&tables[0], &contexts[0]);
    });
    Dispatch(72, u"7");
    EXPECT_EQ(Journal::Instance().CallsTo(kOnTiltSensitivity).size(), 1u);
    EXPECT_EQ(Journal::Instance().CallsTo(kOnWedgeCount).size(), 1u);
    Journal::Instance().Clear();
    Dispatch(72, u"8");
    EXPECT_EQ(Contexts(Journal::Instance().CallsTo(kOnTiltSensitivity)),
              (std::vector<std::pair<void*, int>>{{&contexts[0], kOnTiltSensitivity},
                                                  {&contexts[1], kOnTiltSensitivity}}));
}

// ---- Through the exports, on the process-wide client.

class RegistryExportTest : public ExportTest {
protected:
    int host = 0;
};

TEST_F(RegistryExportTest, ANullTableIsIgnored) {
    PevraNUV_RegisterCallbacks(nullptr, &host);
    EXPECT_TRUE(Client().m_callbackTables.empty());
    EXPECT_TRUE(Journal::Instance().Calls().empty());
}

TEST_F(RegistryExportTest, RegistrationReportsComeBeforeTheExportReturns) {
    PevraNUV_RegisterCallbacks(&kRecordingTable, &host);
    ExpectRegistrationReports(Journal::Instance().Calls(), &host, std::this_thread::get_id());
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
    Client().DispatchValue(PevraNUV::KeyOf(0), u"1.0");
    EXPECT_TRUE(Journal::Instance().Calls().empty());
    EXPECT_EQ(Client().m_tiltSensitivity, 7) << "the new client took the value";
}

}  // namespace
