// The exported functions without a settings service: connecting fails, and
// PevraNUV_Shutdown puts a fresh client in place of the old one.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>

#if !defined(_WIN32)
#include <unistd.h>

#include <filesystem>
#endif

#include "PTabletSettingsAPI.h"
#include "api/library.h"
#include "log/log.h"
#include "platform/platform.h"

using PevraNUV::g_client;
using PevraNUV::SettingsClient;
namespace platform = PevraNUV::platform;

namespace {

const std::u16string kTiltWrite = uR"({"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity":"7"})";
const std::u16string kTiltRead = uR"({"GetVal":"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity"})";

int g_wedgeCountReports = 0;
void CountWedges(void*, size_t) { ++g_wedgeCountReports; }

// Every test leaves the library as after load: a fresh client, logging off.
class Exports : public ::testing::Test {
protected:
    void SetUp() override {
#if !defined(_WIN32)
        ::testing::internal::CaptureStderr();  // the debugger output, kept out of the test report
#endif
    }
    void TearDown() override {
        PevraNUV_Shutdown();
        PevraNUV::ApplyLogLevel(PevraNUV::kDefaultLogLevel);
#if !defined(_WIN32)
        ::testing::internal::GetCapturedStderr();
#endif
    }

    // What a fresh client looks like to the host.
    static void ExpectFresh(SettingsClient& client) {
        EXPECT_FALSE(client.IsConnected());
        EXPECT_FALSE(client.m_shuttingDown.load());
        EXPECT_EQ(client.m_logLevel, 3);
        EXPECT_TRUE(client.m_callbackTables.empty());
        EXPECT_TRUE(client.m_outgoing.empty());
        EXPECT_NE(client.m_stopEvent.load(), platform::kInvalidHandle);
        ASSERT_NE(client.m_sendEvent.load(), platform::kInvalidHandle);
        EXPECT_EQ(platform::WaitForOne(client.m_sendEvent.load(), 0), platform::WaitResult::TimedOut);
    }
};

}  // namespace

TEST_F(Exports, ConnectWithoutServiceReportsFailure) {
#if !defined(_WIN32)
    // The socket file of this session's send-only pipe must not exist: a
    // service listening in the test's session would make this test wrong.
    const std::u16string& name = g_client.load()->m_sendOnlyPipeName;
    std::string file(name.begin() + name.rfind(u'\\') + 1, name.end());
    std::filesystem::path socket = "/tmp/pevra-" + std::to_string(::getuid());
    socket /= file;
    ASSERT_FALSE(std::filesystem::exists(socket)) << socket << ": a service listens in this session; run under setsid";
#endif
    for (int timeout : {0, 1, 1000, -1}) {
        SCOPED_TRACE(timeout);
        EXPECT_EQ(PevraNUV_Connect(timeout), 1);
        EXPECT_FALSE(g_client.load()->IsConnected());
    }
}

TEST_F(Exports, ShutdownReplacesTheClientWithAFreshOne) {
    static PevraNUV_Callbacks table{};
    table.OnWedgeCount = CountWedges;
    g_wedgeCountReports = 0;

    SettingsClient* old = g_client.load();
    PevraNUV_SetLogLevel(4);
    PevraNUV_RegisterCallbacks(&table, nullptr);
    PevraNUV_SetTiltSensitivity(7);
    ASSERT_EQ(old->m_logLevel, 4);
    ASSERT_EQ(old->m_callbackTables.size(), 1u);
    ASSERT_EQ(g_wedgeCountReports, 1);
    ASSERT_EQ(old->m_outgoing.size(), 2u);
    const auto oldAddress = reinterpret_cast<std::uintptr_t>(old);

    PevraNUV_Shutdown();
    SettingsClient* fresh = g_client.load();
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(reinterpret_cast<std::uintptr_t>(fresh), oldAddress) << "the new client exists before the old one goes";
    ExpectFresh(*fresh);
    EXPECT_FALSE(PevraNUV::g_logEnabled.load()) << "the log follows the fresh client's level 3";
    EXPECT_EQ(g_wedgeCountReports, 1);
}

TEST_F(Exports, ShutdownCyclesAlwaysLeaveAFreshClient) {
    static PevraNUV_Callbacks table{};
    PevraNUV_Shutdown();  // the first cycle may set up lazily held resources
    const int handlesBefore = platform::OpenHandleCount();
    for (int cycle = 0; cycle < 200; ++cycle) {
        SCOPED_TRACE(cycle);
        PevraNUV_SetLogLevel(cycle % 5);  // 0 to 4: never a file
        PevraNUV_RegisterCallbacks(&table, &table);
        PevraNUV_SetTopHoverClick(static_cast<unsigned>(cycle));
        PevraNUV_StartKeyCapture();
        EXPECT_EQ(PevraNUV_Connect(0), 1);
        PevraNUV_Shutdown();
        ExpectFresh(*g_client.load());
    }
    if (handlesBefore >= 0) EXPECT_LE(platform::OpenHandleCount(), handlesBefore) << "no handle leaked";
}

TEST_F(Exports, SettersAfterShutdownQueueOnTheNewClient) {
    PevraNUV_SetTiltSensitivity(1);
    PevraNUV_Shutdown();
    PevraNUV_SetTiltSensitivity(7);
    EXPECT_EQ(g_client.load()->m_outgoing, (std::deque<std::u16string>{kTiltWrite, kTiltRead}));
    PevraNUV_SetLogLevel(4);
    EXPECT_EQ(g_client.load()->m_logLevel, 4);
}

TEST_F(Exports, TasksOfAShuttingDownClientAreSkipped) {
    static PevraNUV_Callbacks table{};
    SettingsClient* client = g_client.load();
    client->m_shuttingDown = true;
    PevraNUV_SetLogLevel(4);
    PevraNUV_RegisterCallbacks(&table, nullptr);
    PevraNUV_SetTiltSensitivity(7);
    PevraNUV_StartKeyCapture();
    EXPECT_EQ(client->m_logLevel, 3);
    EXPECT_FALSE(PevraNUV::g_logEnabled.load());
    EXPECT_TRUE(client->m_callbackTables.empty());
    EXPECT_TRUE(client->m_outgoing.empty());
}
