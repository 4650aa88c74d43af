// The library in this process, the reference service in another, over the
// real transport.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "api/library.h"
#include "child_process.h"
#include "log/log.h"
#include "platform/platform.h"
#include "test_support.h"

using namespace std::chrono_literals;
using PevraNUV::test::ChildProcess;
using ptsa_test::Call;
using ptsa_test::Heard;
using ptsa_test::Journal;

namespace {

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        PevraNUV_Shutdown();
        Journal::Instance().Clear();
        m_logPath = ::testing::TempDir() + "ptsa_e2e_" + std::to_string(PevraNUV::platform::CurrentProcessId()) + ".log";
        std::remove(m_logPath.c_str());
        LogToFile();
    }
    // The library's log into m_logPath; Shutdown turns it off.
    void LogToFile() {
        PevraNUV::SetLogFilePath(std::wstring(m_logPath.begin(), m_logPath.end()));
        PevraNUV::g_logEnabled = true;
    }
    void TearDown() override {
        PevraNUV_Shutdown();
        PevraNUV::g_logEnabled = false;
        PevraNUV::SetLogFilePath(std::wstring());
        std::remove(m_logPath.c_str());
    }

    // Starts the reference service of this session with extra arguments.
    static std::unique_ptr<ChildProcess> StartService(const std::vector<std::string>& arguments = {}) {
        auto service = std::make_unique<ChildProcess>(PTSA_SERVICE_PATH, arguments);
        EXPECT_TRUE(service->WaitForLine("ready", 10000)) << "the service did not report ready";
        return service;
    }

    // Connect(0); after a Shutdown the Windows service may still be putting
    // up a fresh pipe instance for the client before: tries 1 ms apart.
    static int Connect() {
        int result = 1;
        for (int attempt = 0; attempt < 1000 && (result = PevraNUV_Connect(0)) != 0; ++attempt)
            std::this_thread::sleep_for(1ms);
        return result;
    }

    static void ConnectWithCallbacks() {
        PevraNUV_RegisterCallbacks(&ptsa_test::kRecordingTable, nullptr);
        ASSERT_EQ(Connect(), 0);
    }

    std::string Log() const {
        std::ifstream file(m_logPath, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    // Polls the host's calls until done holds for them.
    static bool WaitFor(const std::function<bool(const std::vector<Call>&)>& done,
                        std::chrono::milliseconds limit = 5000ms) {
        for (const auto deadline = std::chrono::steady_clock::now() + limit;; std::this_thread::sleep_for(5ms)) {
            if (done(Journal::Instance().Calls())) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
        }
    }
    // Until the host has heard this call, as ptsa_test::Heard writes it.
    static bool WaitToHear(const std::string& heard, std::chrono::milliseconds limit = 5000ms) {
        return WaitFor([&](const std::vector<Call>& calls) { return Heard(calls).find(heard) != std::string::npos; },
                       limit);
    }
    static bool WaitForHandshake() {
        return WaitFor([](const std::vector<Call>& calls) { return Heard(calls).find("zoom(") != std::string::npos; });
    }

    // The sync thread of the current client ends within the time limits of
    // one exchange.
    static bool SyncThreadEnds() {
        for (int wait = 0; wait < 400; ++wait) {
            if (!PevraNUV::CurrentClient().HasSyncThread()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    std::string m_logPath;
};

TEST_F(EndToEnd, ConnectWithoutServiceFailsAndLogs) {
    for (int timeout : {0, 1000, -1}) EXPECT_EQ(PevraNUV_Connect(timeout), 1) << timeout;
    EXPECT_NE(Log().find(" -- Timed out waiting for Service.\r\n"), std::string::npos) << Log();
}

TEST_F(EndToEnd, ChangesComeBackThroughTheCallbacksOnTheSyncThreadAndNothingQueuedBeforeConnectIsSent) {
    auto service = StartService();
    PevraNUV_SetTipSensitivity(4242);
    ConnectWithCallbacks();
    ASSERT_TRUE(WaitToHear("versions(3.1.0,2.4.7)")) << "no versions after the handshake";
    EXPECT_EQ(PevraNUV_Connect(0), 0) << "a connected client reports 0 again";
    PevraNUV_SetTiltSensitivity(7);
    PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap{1, -2, 300, 0});
    ASSERT_TRUE(WaitToHear("zoom(1,-2,300,0)"));
    const std::vector<Call> calls = Journal::Instance().Calls();
    EXPECT_NE(Heard(calls).find("tilt(7)\nzoom(1,-2,300,0)"), std::string::npos) << Heard(calls);
    EXPECT_EQ(Heard(calls).find("tip(4242)"), std::string::npos);
    EXPECT_NE(calls.back().thread, std::this_thread::get_id());
}

TEST_F(EndToEnd, ShutdownOfAConnectedClientStopsTheSyncThreadAtOnce) {
    auto service = StartService();
    ConnectWithCallbacks();
    ASSERT_TRUE(WaitForHandshake());
    const auto start = std::chrono::steady_clock::now();
    PevraNUV_Shutdown();
    // The stop is acknowledged by the thread's end, not by a 100 ms poll.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
}

// A sync thread has left its client when Shutdown returns, and is gone from
// the process a moment later (longer on a loaded machine or under an
// emulator): the count once two samples 50 ms apart agree.
int SettledThreadCount() {
    int count = PevraNUV::platform::ThreadCount();
    for (int sample = 0; sample < 100; ++sample) {
        std::this_thread::sleep_for(50ms);
        const int again = PevraNUV::platform::ThreadCount();
        if (again == count) break;
        count = again;
    }
    return count;
}

TEST_F(EndToEnd, ConnectAndShutdownCyclesLeaveNothingBehind) {
    auto service = StartService();
    for (int cycle = 0; cycle < 3; ++cycle) {  // warm up lazily created state
        ASSERT_EQ(Connect(), 0);
        PevraNUV_Shutdown();
    }
    const int handles = PevraNUV::platform::OpenHandleCount();
    const int threads = SettledThreadCount();
    for (int cycle = 0; cycle < 50; ++cycle) {
        ASSERT_EQ(Connect(), 0) << "cycle " << cycle;
        PevraNUV_Shutdown();
    }
    EXPECT_EQ(PevraNUV::platform::OpenHandleCount(), handles);
    EXPECT_EQ(SettledThreadCount(), threads);
}

TEST_F(EndToEnd, AChangeByAnotherClientIsPushedHere) {
    auto service = StartService();
    ConnectWithCallbacks();
    ASSERT_TRUE(WaitForHandshake());
    // ptsa-cli: a host of the shared library in a process of its own.
    const PevraNUV::test::Outcome other = PevraNUV::test::RunProgram(PTSA_CLI_PATH, {"set", "tilt", "61"}, 60000);
    ASSERT_EQ(other.exitCode, 0) << other.out << other.err;
    EXPECT_TRUE(WaitToHear("tilt(61)")) << "the other client's change was not pushed here";
}

// ---- What each fault of the service does to the link -------------------

struct Fault {
    const char* name;
    std::vector<std::string> serviceArguments;
    bool setTilt;            // the fault shows on a write, after the handshake
    const char* logMessage;  // the record expected in the log, or nullptr for none
    bool threadSurvives;
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class FaultMatrix : public EndToEnd, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultMatrix, EndsOrKeepsTheLinkAsSpecified) {
    const Fault& fault = GetParam();
    auto service = StartService(fault.serviceArguments);
    ConnectWithCallbacks();
    if (fault.setTilt) PevraNUV_SetTiltSensitivity(9);
    if (fault.threadSurvives) {
        PevraNUV_SetTiltSensitivity(8);
        EXPECT_TRUE(WaitToHear("tilt(8)")) << "the link did not survive";
        EXPECT_TRUE(PevraNUV::CurrentClient().HasSyncThread());
    } else {
        EXPECT_TRUE(SyncThreadEnds()) << "the sync thread did not end";
        EXPECT_EQ(PevraNUV_Connect(0), 0) << "a failed link still counts as connected: Connect does not reconnect";
    }
    const std::string expected = fault.logMessage ? std::string(" -- ") + fault.logMessage + "\r\n" : "";
    if (fault.logMessage) EXPECT_NE(Log().find(expected), std::string::npos) << Log();
    if (!fault.logMessage) EXPECT_EQ(Log(), "") << "no record was expected";
    // Shutdown of a client whose thread ended on a failure returns at once.
    const auto start = std::chrono::steady_clock::now();
    PevraNUV_Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, FaultMatrix,
    ::testing::Values(
        Fault{"EmptyReply", {"--bad-reply", "empty"}, false, nullptr, false},
        Fault{"ReadReplyWithoutMark", {"--bad-reply", "no-val-mark"}, false, "Get value: bad format.", false},
        Fault{"WriteReplyAck0", {"--bad-reply", "ack-0"}, true, "Set value: bad format.", false},
        Fault{"HandshakeAck0", {"--bad-reply", "handshake-ack-0"}, false, "Unknown protocol version.", false},
        Fault{"HandshakeCut", {"--bad-reply", "handshake-cut"}, false, "Unknown protocol version.", false},
        Fault{"HandshakeExtraMember", {"--bad-reply", "handshake-extra"}, false, "Unknown protocol version.", false},
        Fault{"HandshakeAck2", {"--bad-reply", "handshake-ack-2"}, false, nullptr, true},
        Fault{"HandshakeAck10", {"--bad-reply", "handshake-ack-10"}, false, nullptr, true},
        Fault{"ReplyPastTheTimeLimit", {"--delay-reply-ms", "1500", "--only-request", "3"}, false, "Ack read failed.",
              false},
        Fault{"RequestPipeClosed", {"--close-after", "2"}, false, "Ack read failed.", false},
        Fault{"OddByteCount", {"--odd-bytes"}, false, nullptr, true},
        Fault{"RepliesInPieces", {"--long-reply", "3000"}, false, nullptr, true},
        Fault{"OneMiBReply", {"--long-reply", "524288", "--only-request", "3"}, false, nullptr, true}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, ConnectFindsTheSendOnlyPipeButNoRequestPipe) {
    auto service = StartService({"--no-request-pipe"});
    EXPECT_EQ(PevraNUV_Connect(0), 1);
    EXPECT_NE(Log().find(" -- Couldn't find Service.\r\n"), std::string::npos) << Log();
    EXPECT_FALSE(PevraNUV::CurrentClient().HasSyncThread());
}

TEST_F(EndToEnd, ServiceDyingInOrAfterTheHandshakeEndsTheThread) {
    for (const bool inHandshake : {true, false}) {
        SCOPED_TRACE(inHandshake ? "dies in the handshake" : "dies between exchanges");
        const std::size_t logged = Log().size();
        auto service = StartService(inHandshake ? std::vector<std::string>{"--die-in-handshake", "5"}
                                                : std::vector<std::string>{});
        ConnectWithCallbacks();
        if (!inHandshake) {
            ASSERT_TRUE(WaitForHandshake());
            service->Stop();
            PevraNUV_SetTiltSensitivity(5);
        }
        EXPECT_TRUE(SyncThreadEnds());
        // Whichever pipe notices first: the push pipe or the pending exchange.
        const std::string log = Log().substr(logged);
        EXPECT_TRUE(log.find(" -- SyncThread read failed.\r\n") != std::string::npos ||
                    log.find(" -- Ack read failed.\r\n") != std::string::npos)
            << log;
        PevraNUV_Shutdown();
        LogToFile();
    }
}

TEST_F(EndToEnd, ClosingOnlyThePushPipeEndsTheThread) {
    auto service = StartService({"--stdin-control"});
    ConnectWithCallbacks();
    ASSERT_TRUE(WaitForHandshake());
    service->WriteLine("close-pushes");
    EXPECT_TRUE(SyncThreadEnds());
    EXPECT_NE(Log().find(" -- SyncThread read failed.\r\n"), std::string::npos) << Log();
}

TEST_F(EndToEnd, AfterTheServiceRestartsShutdownRegisterAndConnectAgain) {
    auto service = StartService();
    ConnectWithCallbacks();
    ASSERT_TRUE(WaitForHandshake());
    service->Stop();
    EXPECT_TRUE(SyncThreadEnds());
    EXPECT_EQ(PevraNUV_Connect(0), 0) << "the ended link still counts as connected: no reconnection";
    service = StartService();
    PevraNUV_Shutdown();
    Journal::Instance().Clear();
    ConnectWithCallbacks();
    ASSERT_TRUE(WaitForHandshake()) << "no handshake from the restarted service";
    PevraNUV_SetTiltSensitivity(44);
    EXPECT_TRUE(WaitToHear("tilt(44)"));
}

TEST_F(EndToEnd, PushesArriveWholeAndThoseThatCannotBeUsedAreDropped) {
    auto service = StartService({"--stdin-control"});
    ConnectWithCallbacks();
    ASSERT_TRUE(WaitForHandshake());
    Journal::Instance().Clear();
    std::string list = "[";
    for (int code = 1000; code < 1080; ++code) list += "{\"" + std::to_string(code) + "\":\"Option\"},";
    ASSERT_GT(list.size(), 1024u);  // several 1024-byte pieces in UTF-16
    service->WriteLine("push TopButtonSingleOptionsList " + list + "]");
    for (const char* push : {"raw :", "raw x", "raw ", "raw {\"a\":", "raw no colon at all"}) service->WriteLine(push);
    service->WriteLine(R"(push ComponentsDriver\ServiceVersion )" + std::string(512 * 1024, '7'));  // 1 MiB
    const std::string tilt = R"(ComponentsDriver\PenHandler\PenTransducer\TiltSensitivity )";
    service->WriteLine("push " + tilt + "abc");
    service->WriteLine("push " + tilt + "99999999999");
    service->WriteLine("set " + tilt + "13");
    ASSERT_TRUE(WaitToHear("tilt(13)")) << "the link did not survive the pushes";
    const std::string heard = Heard(Journal::Instance().Calls());
    EXPECT_NE(heard.find(",1000,"), std::string::npos) << heard;
    EXPECT_EQ(heard.find("versions("), std::string::npos) << "a version over 15 units silences OnVersions";
    EXPECT_NE(heard.find(",1079)\ntilt(13)"), std::string::npos) << "the end of the long push, then the tilt: " << heard;
    EXPECT_EQ(heard.find("tilt(") , heard.rfind("tilt(")) << "an unreadable value reached the host";
    EXPECT_EQ(Log(), "");
}

TEST_F(EndToEnd, AStopWinsOverWaitingMessages) {
    auto service = StartService({"--delay-reply-ms", "5"});
    ConnectWithCallbacks();
    ASSERT_TRUE(WaitToHear("versions(", 10000ms));
    for (unsigned value = 1; value <= 400; ++value) PevraNUV_SetTiltSensitivity(value);
    const auto start = std::chrono::steady_clock::now();
    PevraNUV_Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms) << "the stop waited for the queue";
    // What the service holds now shows how far the queue got.
    Journal::Instance().Clear();
    ConnectWithCallbacks();
    PevraNUV_SetTipSensitivity(77);
    ASSERT_TRUE(WaitToHear("tip(77)", 10000ms));
    const std::vector<Call> tilts = Journal::Instance().Calls(ptsa_test::kOnTiltSensitivity);
    ASSERT_FALSE(tilts.empty());
    EXPECT_LT(tilts.back().value, 400);
}

TEST_F(EndToEnd, KeyCaptureFromStartToFinish) {
    auto service = StartService({"--stdin-control"});
    ConnectWithCallbacks();
    PevraNUV_StartKeyCapture();
    PevraNUV_SetTiltSensitivity(11);  // answered after the start of the capture
    ASSERT_TRUE(WaitToHear("tilt(11)"));
    service->WriteLine("key Ctrl+");
    service->WriteLine("key Alt+K");
    // The service pushes in order: once this value is here, the keys are too.
    service->WriteLine(R"(set ComponentsDriver\PenHandler\PenTransducer\TiltSensitivity 56)");
    ASSERT_TRUE(WaitToHear("tilt(56)"));
    PevraNUV_Char buffer[32];
    PevraNUV_FinishKeyCapture(buffer, sizeof buffer);
    EXPECT_EQ(ptsa_test::Text(buffer), u"Ctrl+Alt+K");
    PevraNUV_FinishKeyCapture(buffer, sizeof buffer);
    EXPECT_EQ(buffer[0], 0) << "finishing handed the keys over and forgot them";
}

}  // namespace
