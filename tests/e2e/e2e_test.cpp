// The library in this process, the reference service in another, over the
// real transport.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <vector>

#include "child_process.h"
#include "host.h"
#include "usage.h"

using namespace PevraNUV::test;
using namespace std::chrono_literals;

namespace {

const std::string kHandshakeEnd = "zoom(0,0,100,100)";  // the last value the handshake reads

class EndToEnd : public ::testing::Test {
protected:
    // A client of this test's session: the one made at load predates it.
    void SetUp() override {
        PevraNUV_Shutdown();
        log = std::make_unique<LogFile>(::testing::TempDir() + "ptsa_e2e_" + std::to_string(ProcessId()) + ".log");
    }
    void TearDown() override { PevraNUV_Shutdown(); }
    static std::unique_ptr<ChildProcess> StartService(const std::vector<std::string>& arguments = {}) {
        auto service = std::make_unique<ChildProcess>(PTSA_SERVICE_PATH, arguments);
        EXPECT_TRUE(service->WaitForLine("ready", 10000)) << "the service did not start";
        return service;
    }
    void Connected() {  // registered, connected, the handshake in
        host.Forget(), host.Register();
        ASSERT_EQ(Connect(), 0);
        ASSERT_TRUE(host.WaitToHear(kHandshakeEnd));
    }
    // Until the sync thread has left the process.
    static bool ThreadsBackTo(long threads) {
        for (int wait = 0; wait < 500 && MeasureUsage().threads != threads; ++wait) std::this_thread::sleep_for(10ms);
        return MeasureUsage().threads == threads;
    }

    Host host;
    std::unique_ptr<LogFile> log;
};

TEST_F(EndToEnd, ChangesTravelThroughTheServiceToTheSyncThread) {
    auto service = StartService();
    PevraNUV_SetTipSensitivity(4242);  // queued before Connect: dropped, never sent
    ASSERT_NO_FATAL_FAILURE(Connected());
    EXPECT_TRUE(host.HasHeard("versions(3.1.0,2.4.7)") && host.HasHeard("tip(3)") && host.HasHeard("tilt(5)"));
    PevraNUV_SetTiltSensitivity(7);
    ASSERT_TRUE(host.WaitToHear("tilt(7)"));
    const auto threads = host.Threads();
    EXPECT_TRUE(threads.size() == 1 && !threads.count(std::this_thread::get_id())) << "not all on the sync thread";
    PevraNUV_Shutdown();
    ASSERT_NO_FATAL_FAILURE(Connected());  // a fresh handshake reads back what the service holds
    EXPECT_TRUE(host.HasHeard("tilt(7)")) << "the service does not hold the change";
    EXPECT_TRUE(host.HasHeard("tip(3)")) << "a change queued before Connect reached the service";
    const Outcome other = RunProgram(PTSA_CLI_PATH, {"set", "tilt", "61"}, 60000);  // a client of its own
    ASSERT_EQ(other.exitCode, 0) << other.out << other.err;
    EXPECT_TRUE(host.WaitToHear("tilt(61)")) << "another client's change was not pushed here";
}

TEST_F(EndToEnd, KeyCapture) {
    auto service = StartService({"--stdin-control"});
    ASSERT_NO_FATAL_FAILURE(Connected());
    PevraNUV_StartKeyCapture();
    PevraNUV_SetTiltSensitivity(11);  // answered after the start of the capture
    ASSERT_TRUE(host.WaitToHear("tilt(11)"));
    service->WriteLine("key Ctrl+");
    service->WriteLine("key Alt+K");
    // The service pushes in order: once this value is here, the keys are too.
    service->WriteLine(R"(set ComponentsDriver\PenHandler\PenTransducer\TiltSensitivity 56)");
    ASSERT_TRUE(host.WaitToHear("tilt(56)"));
    PevraNUV_Char keys[32];
    PevraNUV_FinishKeyCapture(keys, sizeof keys);
    EXPECT_EQ(std::u16string(keys, keys + 11), std::u16string(u"Ctrl+Alt+K", 11));
    PevraNUV_FinishKeyCapture(keys, sizeof keys);
    EXPECT_EQ(keys[0], 0) << "finishing forgets the keys";
    const long withLink = MeasureUsage().threads;
    service->WriteLine("close-pushes");  // the push pipe alone closes: the link ends on it
    EXPECT_TRUE(ThreadsBackTo(withLink - 1));
    EXPECT_EQ(log->Messages(), "SyncThread read failed.\n");
}

// What a misbehaving service does to the link. Every row connects, waits
// for the handshake's end or the link's, and then changes the tilt.
struct Fault {
    const char* name;
    std::vector<std::string> service;  // its arguments; {"-"}: no service
    int connect;
    bool handshake;  // its last value arrives
    bool survives;   // the tilt's answer arrives; else the sync thread ends
    const char* log;  // the messages logged (a regular expression)
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

const Fault kFaults[] = {
    {"NoService", {"-"}, 1, false, false, "Timed out waiting for Service\\.\n"},
    {"NoRequestPipe", {"--no-request-pipe"}, 1, false, false, "Couldn't find Service\\.\n"},
    {"Handshake_Ack0", {"--bad-reply", "handshake-ack-0"}, 0, false, false, "Unknown protocol version\\.\n"},
    {"Handshake_Cut", {"--bad-reply", "handshake-cut"}, 0, false, false, "Unknown protocol version\\.\n"},
    {"Handshake_ExtraMember", {"--bad-reply", "handshake-extra"}, 0, false, false, "Unknown protocol version\\.\n"},
    {"Handshake_Ack2", {"--bad-reply", "handshake-ack-2"}, 0, true, true, ""},
    {"Handshake_Ack10", {"--bad-reply", "handshake-ack-10"}, 0, true, true, ""},
    {"EmptyReplies", {"--bad-reply", "empty"}, 0, false, false, ""},
    {"ReadReplyWithoutMark", {"--bad-reply", "no-val-mark"}, 0, false, false, "Get value: bad format\\.\n"},
    {"WriteReplyAck0", {"--bad-reply", "ack-0"}, 0, true, false, "Set value: bad format\\.\n"},
    {"ReplyTooLate", {"--delay-reply-ms", "1500", "--only-request", "3"}, 0, false, false, "Ack read failed\\.\n"},
    {"RequestPipeClosed", {"--close-after", "2"}, 0, false, false, "Ack read failed\\.\n"},
    {"DiesInTheHandshake", {"--die-in-handshake", "5"}, 0, false, false, "(Ack|SyncThread) read failed\\.\n"},
    {"OddByteCount", {"--odd-bytes"}, 0, true, true, ""},
    {"RepliesInPieces", {"--long-reply", "3000"}, 0, true, true, ""},
    {"OneMiBReply", {"--long-reply", "524288", "--only-request", "3"}, 0, true, true, ""},
};

class FaultMatrix : public EndToEnd, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultMatrix, Link) {
    const Fault& fault = GetParam();
    const long threads = MeasureUsage().threads;
    auto service = fault.service[0] == "-" ? nullptr : StartService(fault.service);
    host.Register();
    EXPECT_EQ(PevraNUV_Connect(0), fault.connect);
    if (fault.handshake) EXPECT_TRUE(host.WaitToHear(kHandshakeEnd));
    PevraNUV_SetTiltSensitivity(8);
    if (fault.survives) EXPECT_TRUE(host.WaitToHear("tilt(8)"));
    if (!fault.survives) EXPECT_TRUE(ThreadsBackTo(threads)) << "the sync thread goes on";
    EXPECT_EQ(host.HasHeard(kHandshakeEnd), fault.handshake);
    EXPECT_EQ(host.HasHeard("tilt(8)"), fault.survives);
    EXPECT_TRUE(std::regex_match(log->Messages(), std::regex(fault.log))) << log->Messages();
    if (fault.connect == 0) EXPECT_EQ(PevraNUV_Connect(0), 0) << "a failed link still counts as connected";
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

// Cycle after cycle, Shutdown returns once the sync thread has ended, and no
// handle or thread is left behind.
TEST_F(EndToEnd, ConnectShutdownCycles) {
    auto service = StartService();
    for (int warmUp = 0; warmUp < 2; ++warmUp) {  // state made once, by the runtime
        ASSERT_NO_FATAL_FAILURE(Connected());
        PevraNUV_Shutdown();
    }
    std::this_thread::sleep_for(200ms);  // the count without a sync thread that Shutdown did not wait for
    const Usage before = MeasureUsage();
    int threadLeft = 0;
    for (int round = 0; round < 20; ++round) {
        ASSERT_NO_FATAL_FAILURE(Connected());
        PevraNUV_Shutdown();
        threadLeft += MeasureUsage().threads != before.threads;  // at once: no settling
    }
    EXPECT_EQ(threadLeft, 0) << "cycles after which the sync thread outlived Shutdown";
    ThreadsBackTo(before.threads);
    EXPECT_EQ(MeasureUsage().handles, before.handles);
}

}  // namespace
