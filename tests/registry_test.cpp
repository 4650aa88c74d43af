// Host registration: the three reports, one entry per table, the order in
// which tables are called, and callbacks that call back into the library.
#include <string>
#include <thread>
#include <vector>

#include "settings/catalogue.h"
#include "test_support.h"

namespace {

using namespace ptsa_test;

class RegistryTest : public ClientTest {
protected:
    RegistryTest() : ClientTest(false) {}

    // What the tables heard, each call with the index of its context.
    std::string HeardBy(const std::vector<Call>& calls) const {
        std::string heard;
        for (const Call& call : calls)
            heard += call.heard + "@" + std::to_string(static_cast<const int*>(call.context) - contexts) + " ";
        return heard;
    }
    std::string HeardBy(int id, const std::u16string& value) { return HeardBy(Feed(id, value)); }
    static std::string Registration(int context) {
        const std::string at = "@" + std::to_string(context) + " ";
        return "wedgeCount(10)" + at + "rangeA(0,6)" + at + "rangeB(-90,90)" + at;
    }
    static std::string Tilt(int context, int value) {
        return "tilt(" + std::to_string(value) + ")@" + std::to_string(context) + " ";
    }
    // Registers table other from inside the tilt callback of table running,
    // with the journal cleared.
    void RegisterFromTheTiltCallback(int running, int other) {
        Journal::Instance().Clear();
        Journal::Instance().SetHook([=](const Call& call) {
            if (call.slot == kOnTiltSensitivity && call.context == &contexts[running])
                Register(&tables[other], &contexts[other]);
        });
    }

    // Three copies of the recording table, in ascending address order.
    PevraNUV_Callbacks tables[3] = {kRecordingTable, kRecordingTable, kRecordingTable};
    int contexts[3] = {};
};

TEST_F(RegistryTest, RegistrationReportsRunOnTheRegisteringThread) {
    std::thread registrar([&] { Register(&tables[0], &contexts[0]); });
    const std::thread::id registrarId = registrar.get_id();
    registrar.join();
    EXPECT_EQ(HeardBy(Calls()), Registration(0));
    for (const Call& call : Calls()) EXPECT_EQ(call.thread, registrarId);
}

TEST_F(RegistryTest, RegisteringAgainKeepsOneEntryWithTheNewContext) {
    Register(&tables[0], &contexts[0]);
    Register(&tables[0], &contexts[1]);
    EXPECT_EQ(HeardBy(Calls()), Registration(0) + Registration(1));
    EXPECT_EQ(HeardBy(72, u"7"), Tilt(1, 7));
}

TEST_F(RegistryTest, ALateTableHearsOnlyItsRegistrationAndLaterChanges) {
    Register(&tables[0], &contexts[0]);
    Dispatch(72, u"7");
    Journal::Instance().Clear();
    Register(&tables[1], &contexts[1]);
    EXPECT_EQ(HeardBy(Calls()), Registration(1));
}

TEST_F(RegistryTest, TablesAreCalledInAscendingAddressOrderWithTheSamePointers) {
    for (int i : {2, 0, 1}) Register(&tables[i], &contexts[i]);
    EXPECT_EQ(HeardBy(72, u"7"), Tilt(0, 7) + Tilt(1, 7) + Tilt(2, 7));
    for (auto [id, value] : {std::pair{76, u"[{\"1\":\"a\"}]"}, std::pair{7, u"5"}, std::pair{0, u"1"}}) {
        const std::vector<Call> calls = Feed(id, value);
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[0].pointer, calls[2].pointer);
        EXPECT_EQ(calls[1].pointer, calls[2].pointer);
    }
}

TEST_F(RegistryTest, NullSlotsAreSkippedAndASlotChangedLaterIsCalled) {
    const PevraNUV_Callbacks empty{};
    Register(&empty, &contexts[0]);
    for (auto [id, value] : {std::pair{0, u"1"}, std::pair{2, u"S"}, std::pair{2, u"S"}, std::pair{7, u"5"},
                             std::pair{23, u"1"}, std::pair{72, u"7"}, std::pair{81, u"{1,2,3,4}"}, std::pair{76, u""}})
        Dispatch(id, value);
    EXPECT_TRUE(Calls().empty());
    Register(&tables[1], &contexts[1]);
    tables[1].OnTiltSensitivity = nullptr;
    EXPECT_EQ(HeardBy(72, u"8"), "");
    tables[1].OnTiltSensitivity = kRecordingTable.OnTiltSensitivity;
    EXPECT_EQ(HeardBy(72, u"9"), Tilt(1, 9)) << "the library keeps the table's address, not a copy";
}

// A table registered from inside a callback joins the walk in progress when
// it lies above the running table, and the next event otherwise.
TEST_F(RegistryTest, ATableRegisteredFromACallbackAboveTheRunningOneIsCalledAtOnce) {
    Register(&tables[1], &contexts[1]);
    RegisterFromTheTiltCallback(1, 2);
    Dispatch(72, u"7");
    EXPECT_EQ(HeardBy(Calls()), Tilt(1, 7) + Registration(2) + Tilt(2, 7));
}

TEST_F(RegistryTest, ATableRegisteredFromACallbackBelowTheRunningOneWaitsForTheNextEvent) {
    Register(&tables[1], &contexts[1]);
    RegisterFromTheTiltCallback(1, 0);
    Dispatch(72, u"7");
    EXPECT_EQ(HeardBy(Calls()), Tilt(1, 7) + Registration(0));
    EXPECT_EQ(HeardBy(72, u"8"), Tilt(0, 8) + Tilt(1, 8));
}

// ---- Through the exports, on the process-wide client.

using RegistryExportTest = ExportTest;

TEST_F(RegistryExportTest, RegistrationReportsComeBeforeTheExportReturnsAndANullTableIsIgnored) {
    int host = 0;
    PevraNUV_RegisterCallbacks(nullptr, &host);
    EXPECT_TRUE(Client().m_callbackTables.empty());
    PevraNUV_RegisterCallbacks(&kRecordingTable, &host);
    EXPECT_EQ(Heard(Journal::Instance().Calls()), "wedgeCount(10)\nrangeA(0,6)\nrangeB(-90,90)");
}

TEST_F(RegistryExportTest, ACallbackMayCallASetterWhichIsQueuedAtOnce) {
    PevraNUV_RegisterCallbacks(&kRecordingTable, nullptr);
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

}  // namespace
