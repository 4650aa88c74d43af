// The library in this process, the reference service in another, over the
// real transport.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "api/library.h"
#include "child_process.h"
#include "log/log.h"
#include "platform/platform.h"

using namespace std::chrono_literals;
using PevraNUV::test::ChildProcess;

namespace {

// Records the callbacks that matter here, and lets a test wait for them.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::int32_t> tilt;
    std::vector<std::int32_t> tip;
    std::vector<PevraNUV_ZoomMap> zoom;
    std::vector<std::vector<std::int32_t>> topSingleOptions;
    int versions = 0;
    std::uint32_t tiltThread = 0;

    template <typename Predicate>
    bool WaitFor(Predicate predicate, std::chrono::milliseconds timeout = 5000ms) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, predicate);
    }
};

Recorder* g_recorder = nullptr;

PevraNUV_Callbacks RecordingTable() {
    PevraNUV_Callbacks table{};
    table.OnTiltSensitivity = [](void*, std::int32_t value) {
        std::lock_guard<std::mutex> lock(g_recorder->mutex);
        g_recorder->tilt.push_back(value);
        g_recorder->tiltThread = PevraNUV::platform::CurrentThreadId();
        g_recorder->changed.notify_all();
    };
    table.OnTipSensitivity = [](void*, std::int32_t value) {
        std::lock_guard<std::mutex> lock(g_recorder->mutex);
        g_recorder->tip.push_back(value);
        g_recorder->changed.notify_all();
    };
    table.OnSlavedDisplayZoom = [](void*, PevraNUV_ZoomMap zoom) {
        std::lock_guard<std::mutex> lock(g_recorder->mutex);
        g_recorder->zoom.push_back(zoom);
        g_recorder->changed.notify_all();
    };
    table.OnTopButtonSingleOptions = [](void*, const PevraNUV_ButtonFunction* options, std::size_t count) {
        std::lock_guard<std::mutex> lock(g_recorder->mutex);
        std::vector<std::int32_t> codes;
        for (std::size_t i = 0; i < count; ++i) codes.push_back(options[i].function);
        g_recorder->topSingleOptions.push_back(codes);
        g_recorder->changed.notify_all();
    };
    table.OnVersions = [](void*, const PevraNUV_Versions*) {
        std::lock_guard<std::mutex> lock(g_recorder->mutex);
        ++g_recorder->versions;
        g_recorder->changed.notify_all();
    };
    return table;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        g_recorder = &m_recorder;
        PevraNUV_Shutdown();
        m_logPath = ::testing::TempDir() + "ptsa_e2e_" + std::to_string(PevraNUV::platform::CurrentProcessId()) + ".log";
        std::remove(m_logPath.c_str());
        PevraNUV::SetLogFilePath(std::wstring(m_logPath.begin(), m_logPath.end()));
        PevraNUV::g_logEnabled = true;
    }
    void TearDown() override {
        PevraNUV_Shutdown();
        PevraNUV::g_logEnabled = false;
        PevraNUV::SetLogFilePath(std::wstring());
        std::remove(m_logPath.c_str());
        g_recorder = nullptr;
    }

    // Starts the reference service of this session with extra arguments.
    std::unique_ptr<ChildProcess> StartService(std::vector<std::string> arguments = {}) {
        auto service = std::make_unique<ChildProcess>(PTSA_SERVICE_PATH, arguments);
        EXPECT_TRUE(service->Started());
        EXPECT_TRUE(service->WaitForLine("ready", 10000)) << "the service did not report ready";
        return service;
    }

    void ConnectWithCallbacks() {
        PevraNUV_RegisterCallbacks(&m_table, nullptr);
        ASSERT_EQ(PevraNUV_Connect(0), 0);
    }

    std::string Log() { return ReadFile(m_logPath); }

    bool WaitForTilt(std::int32_t value) {
        return m_recorder.WaitFor([&] { return !m_recorder.tilt.empty() && m_recorder.tilt.back() == value; });
    }

    // A sync thread has left its client when Shutdown returns, and is gone
    // from the process a moment later (longer on a loaded machine or under
    // an emulator): the count once two samples 50 ms apart agree.
    static int SettledThreadCount() {
        int count = PevraNUV::platform::ThreadCount();
        for (int sample = 0; sample < 100; ++sample) {
            std::this_thread::sleep_for(50ms);
            const int again = PevraNUV::platform::ThreadCount();
            if (again == count) break;
            count = again;
        }
        return count;
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

    Recorder m_recorder;
    PevraNUV_Callbacks m_table = RecordingTable();
    std::string m_logPath;
};

TEST_F(EndToEnd, ConnectWithoutServiceFailsAndLogs) {
    EXPECT_EQ(PevraNUV_Connect(0), 1);
    EXPECT_NE(Log().find(" -- Timed out waiting for Service.\r\n"), std::string::npos) << Log();
}

TEST_F(EndToEnd, HandshakeValuesReachTheHost) {
    auto service = StartService();
    ConnectWithCallbacks();
    EXPECT_TRUE(m_recorder.WaitFor([&] { return m_recorder.versions > 0; })) << "no versions after the handshake";
    EXPECT_EQ(PevraNUV_Connect(0), 0) << "a connected client reports 0 again";
}

TEST_F(EndToEnd, OneChangeComesBackThroughTheCallbacksOnTheSyncThread) {
    auto service = StartService();
    ConnectWithCallbacks();
    PevraNUV_SetTiltSensitivity(7);
    ASSERT_TRUE(m_recorder.WaitFor([&] {
        return !m_recorder.tilt.empty() && m_recorder.tilt.back() == 7;
    })) << "OnTiltSensitivity(7) never came";
    EXPECT_NE(m_recorder.tiltThread, PevraNUV::platform::CurrentThreadId());

    const PevraNUV_ZoomMap zoom{1, -2, 300, 0};
    PevraNUV_SetSlavedDisplayZoom(zoom);
    ASSERT_TRUE(m_recorder.WaitFor([&] { return !m_recorder.zoom.empty() && m_recorder.zoom.back().c == 300; }));
    EXPECT_EQ(m_recorder.zoom.back().a, 1);
    EXPECT_EQ(m_recorder.zoom.back().b, -2);
    EXPECT_EQ(m_recorder.zoom.back().d, 0);
}

TEST_F(EndToEnd, MessagesQueuedBeforeConnectAreNeverSent) {
    auto service = StartService();
    PevraNUV_SetTipSensitivity(4242);
    ConnectWithCallbacks();
    PevraNUV_SetTiltSensitivity(3);
    ASSERT_TRUE(m_recorder.WaitFor([&] { return !m_recorder.tilt.empty() && m_recorder.tilt.back() == 3; }));
    std::lock_guard<std::mutex> lock(m_recorder.mutex);
    for (std::int32_t value : m_recorder.tip) EXPECT_NE(value, 4242);
}

TEST_F(EndToEnd, ShutdownOfAConnectedClientStopsTheSyncThreadAtOnce) {
    auto service = StartService();
    ConnectWithCallbacks();
    ASSERT_TRUE(m_recorder.WaitFor([&] { return m_recorder.versions > 0; }));
    const auto start = std::chrono::steady_clock::now();
    PevraNUV_Shutdown();
    const auto took = std::chrono::steady_clock::now() - start;
    // The stop is acknowledged by the thread's end, not by a 100 ms poll.
    EXPECT_LT(took, 100ms);
}

TEST_F(EndToEnd, ConnectAndShutdownCyclesLeaveNothingBehind) {
    auto service = StartService();
    for (int cycle = 0; cycle < 3; ++cycle) {  // warm up lazily created state
        ASSERT_EQ(PevraNUV_Connect(0), 0);
        PevraNUV_Shutdown();
    }
    const int handles = PevraNUV::platform::OpenHandleCount();
    const int threads = SettledThreadCount();
    for (int cycle = 0; cycle < 50; ++cycle) {
        ASSERT_EQ(PevraNUV_Connect(0), 0) << "cycle " << cycle;
        PevraNUV_Shutdown();
    }
    EXPECT_EQ(PevraNUV::platform::OpenHandleCount(), handles);
    EXPECT_EQ(SettledThreadCount(), threads);
}

TEST_F(EndToEnd, AChangeByAnotherClientIsPushedHere) {
    auto service = StartService();
    ConnectWithCallbacks();
    ASSERT_TRUE(m_recorder.WaitFor([&] { return m_recorder.versions > 0; }));
    ChildProcess other(PTSA_PEER_HOST_PATH, {"tilt", "61"});
    ASSERT_TRUE(other.WaitForLine("done", 10000));
    EXPECT_TRUE(m_recorder.WaitFor([&] { return !m_recorder.tilt.empty() && m_recorder.tilt.back() == 61; }))
        << "the other client's change was not pushed here";
}

// ---- What each fault of the service does to the link -------------------

struct Fault {
    const char* name;
    std::vector<std::string> serviceArguments;
    bool setTilt;              // the fault shows on a write, after the handshake
    const char* logMessage;    // the record expected in the log, or nullptr for none
    bool threadSurvives;
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class FaultMatrix : public EndToEnd, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultMatrix, EndsOrKeepsTheLinkAsSpecified) {
    const Fault& fault = GetParam();
    auto service = StartService(fault.serviceArguments);
    PevraNUV_RegisterCallbacks(&m_table, nullptr);
    ASSERT_EQ(PevraNUV_Connect(0), 0);
    if (fault.setTilt) PevraNUV_SetTiltSensitivity(9);
    if (fault.threadSurvives) {
        PevraNUV_SetTiltSensitivity(8);
        EXPECT_TRUE(WaitForTilt(8)) << "the link did not survive";
        EXPECT_TRUE(PevraNUV::CurrentClient().HasSyncThread());
    } else {
        EXPECT_TRUE(SyncThreadEnds()) << "the sync thread did not end";
        // A failed link still counts as connected: Connect does not reconnect.
        EXPECT_EQ(PevraNUV_Connect(0), 0);
    }
    const std::string log = Log();
    if (fault.logMessage) {
        EXPECT_NE(log.find(std::string(" -- ") + fault.logMessage + "\r\n"), std::string::npos) << log;
    } else {
        EXPECT_EQ(log, "") << "no record was expected";
    }
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
        Fault{"ReplyPastTheTimeLimit", {"--delay-reply-ms", "1500", "--only-request", "3"}, false, "Ack read failed.", false},
        Fault{"RequestPipeClosed", {"--close-after", "2"}, false, "Ack read failed.", false},
        Fault{"OddByteCount", {"--odd-bytes"}, false, nullptr, true},
        Fault{"RepliesInPieces", {"--long-reply", "3000"}, false, nullptr, true}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, ServiceDyingInTheHandshakeEndsTheThread) {
    auto service = StartService({"--die-in-handshake", "5"});
    PevraNUV_RegisterCallbacks(&m_table, nullptr);
    ASSERT_EQ(PevraNUV_Connect(0), 0);
    EXPECT_TRUE(SyncThreadEnds());
    // Whichever pipe notices first: the push pipe or the pending exchange.
    const std::string log = Log();
    EXPECT_TRUE(log.find(" -- SyncThread read failed.\r\n") != std::string::npos ||
                log.find(" -- Ack read failed.\r\n") != std::string::npos)
        << log;
}

TEST_F(EndToEnd, APushLongerThanOnePieceArrivesWhole) {
    auto service = StartService({"--stdin-control"});
    ConnectWithCallbacks();
    ASSERT_TRUE(m_recorder.WaitFor([&] { return !m_recorder.topSingleOptions.empty(); }));
    std::string list = "[";
    for (int code = 1000; code < 1080; ++code) list += "{\"" + std::to_string(code) + "\":\"Option\"},";
    list += "]";
    ASSERT_GT(list.size(), 1024u);  // several 1024-byte pieces in UTF-16
    service->WriteLine("push TopButtonSingleOptionsList " + list);
    ASSERT_TRUE(m_recorder.WaitFor([&] {
        const auto& codes = m_recorder.topSingleOptions.back();
        return std::find(codes.begin(), codes.end(), 1079) != codes.end();
    })) << "the end of the long push never arrived";
    const auto& codes = m_recorder.topSingleOptions.back();
    EXPECT_NE(std::find(codes.begin(), codes.end(), 1000), codes.end());
    EXPECT_EQ(PevraNUV::CurrentClient().HasSyncThread(), true);
}

TEST_F(EndToEnd, PushesThatCannotBeUsedAreDroppedAndTheLinkGoesOn) {
    auto service = StartService({"--stdin-control"});
    ConnectWithCallbacks();
    PevraNUV_SetTiltSensitivity(12);
    ASSERT_TRUE(WaitForTilt(12));
    {
        std::lock_guard<std::mutex> lock(m_recorder.mutex);
        m_recorder.tilt.clear();
    }
    for (const char* push : {"raw :", "raw x", "raw ", "raw {\"a\":", "raw no colon at all"})
        service->WriteLine(push);
    service->WriteLine("push ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity abc");
    service->WriteLine("push ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity 99999999999");
    service->WriteLine("set ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity 13");
    ASSERT_TRUE(WaitForTilt(13)) << "the link did not survive the pushes";
    std::lock_guard<std::mutex> lock(m_recorder.mutex);
    EXPECT_EQ(m_recorder.tilt, (std::vector<std::int32_t>{13})) << "an unreadable value reached the host";
    EXPECT_EQ(Log(), "");
}

TEST_F(EndToEnd, AStopWinsOverWaitingMessages) {
    auto service = StartService({"--delay-reply-ms", "5"});
    ConnectWithCallbacks();
    ASSERT_TRUE(m_recorder.WaitFor([&] { return m_recorder.versions > 0; }, 10000ms));
    for (unsigned value = 1; value <= 400; ++value) PevraNUV_SetTiltSensitivity(value);
    const auto start = std::chrono::steady_clock::now();
    PevraNUV_Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms) << "the stop waited for the queue";
    // What the service holds now shows how far the queue got.
    m_recorder.tilt.clear();
    ConnectWithCallbacks();
    PevraNUV_SetTipSensitivity(77);
    ASSERT_TRUE(m_recorder.WaitFor([&] { return !m_recorder.tip.empty() && m_recorder.tip.back() == 77; }, 10000ms));
    std::lock_guard<std::mutex> lock(m_recorder.mutex);
    ASSERT_FALSE(m_recorder.tilt.empty());
    EXPECT_LT(m_recorder.tilt.back(), 400);
}

TEST_F(EndToEnd, KeyCaptureFromStartToFinish) {
    auto service = StartService({"--stdin-control"});
    ConnectWithCallbacks();
    PevraNUV_StartKeyCapture();
    PevraNUV_SetTiltSensitivity(11);  // answered after the start of the capture
    ASSERT_TRUE(WaitForTilt(11));
    service->WriteLine("key Ctrl+");
    service->WriteLine("key Alt+K");
    // The service pushes in order: once this value is here, the keys are too.
    service->WriteLine("set ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity 56");
    ASSERT_TRUE(WaitForTilt(56));
    PevraNUV_Char buffer[32];
    PevraNUV_FinishKeyCapture(buffer, sizeof buffer);
    const std::u16string expected = u"Ctrl+Alt+K";
    EXPECT_EQ(std::u16string(buffer, buffer + expected.size()), expected);
    EXPECT_EQ(buffer[expected.size()], 0);
    // Finishing handed the keys over and forgot them.
    PevraNUV_FinishKeyCapture(buffer, sizeof buffer);
    EXPECT_EQ(buffer[0], 0);
}

}  // namespace
