// The library in this process, the reference service in another, over the
// real transport.
#include <gtest/gtest.h>

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
    const int threads = PevraNUV::platform::ThreadCount();
    for (int cycle = 0; cycle < 50; ++cycle) {
        ASSERT_EQ(PevraNUV_Connect(0), 0) << "cycle " << cycle;
        PevraNUV_Shutdown();
    }
    EXPECT_EQ(PevraNUV::platform::OpenHandleCount(), handles);
    // A sync thread has left the client when Shutdown returns; give the
    // system a moment to retire it.
    for (int wait = 0; wait < 100 && PevraNUV::platform::ThreadCount() != threads; ++wait)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(PevraNUV::platform::ThreadCount(), threads);
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

}  // namespace
