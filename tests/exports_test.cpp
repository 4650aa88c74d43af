// The exported functions without a settings service: PevraNUV_Shutdown puts
// a fresh client in place of the old one, and a client that shuts down runs
// no task.
#include <cstdint>
#include <string>

#include "api/library.h"
#include "log/log.h"
#include "platform/platform.h"
#include "settings/catalogue.h"
#include "test_support.h"

using PevraNUV::SettingsClient;
namespace platform = PevraNUV::platform;

namespace {

using namespace ptsa_test;

// Every test leaves the library as after load: a fresh client, logging off.
class Exports : public ExportTest {
protected:
    void SetUp() override {
        ExportTest::SetUp();
#if !defined(_WIN32)
        ::testing::internal::CaptureStderr();  // the debugger output, kept out of the test report
#endif
    }
    void TearDown() override {
        ExportTest::TearDown();
        PevraNUV::ApplyLogLevel(PevraNUV::kDefaultLogLevel);
#if !defined(_WIN32)
        ::testing::internal::GetCapturedStderr();
#endif
    }

    // What a fresh client looks like to the host.
    static void ExpectFresh() {
        SettingsClient& client = Client();
        EXPECT_FALSE(client.IsConnected());
        EXPECT_FALSE(client.m_shuttingDown.load());
        EXPECT_EQ(client.m_logLevel, 3);
        EXPECT_FALSE(PevraNUV::g_logEnabled.load()) << "the log follows the fresh client's level 3";
        EXPECT_TRUE(client.m_callbackTables.empty());
        EXPECT_TRUE(client.m_outgoing.empty());
        EXPECT_NE(client.m_stopEvent.load(), platform::kInvalidHandle);
        ASSERT_NE(client.m_sendEvent.load(), platform::kInvalidHandle);
        EXPECT_EQ(platform::WaitForOne(client.m_sendEvent.load(), 0), platform::WaitResult::TimedOut);
    }
};

}  // namespace

TEST_F(Exports, ShutdownReplacesTheClientWithAFreshOne) {
    PevraNUV_SetLogLevel(4);
    PevraNUV_RegisterCallbacks(&kRecordingTable, nullptr);
    PevraNUV_SetTiltSensitivity(7);
    SettingsClient* old = &Client();
    ASSERT_EQ(old->m_logLevel, 4);
    ASSERT_TRUE(PevraNUV::g_logEnabled.load());
    ASSERT_EQ(old->m_callbackTables.size(), 1u);
    ASSERT_EQ(old->m_outgoing.size(), 2u);
    const auto oldAddress = reinterpret_cast<std::uintptr_t>(old);

    PevraNUV_Shutdown();
    Journal::Instance().Clear();
    EXPECT_NE(reinterpret_cast<std::uintptr_t>(&Client()), oldAddress) << "the new client exists before the old one goes";
    ExpectFresh();
    Client().DispatchValue(PevraNUV::KeyOf(72), u"7");
    EXPECT_TRUE(Journal::Instance().Calls().empty()) << "no table registered with the old client is called";
    EXPECT_EQ(Client().m_tiltSensitivity, 7) << "the new client took the value";
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
        ExpectFresh();
    }
    if (handlesBefore >= 0) EXPECT_LE(platform::OpenHandleCount(), handlesBefore) << "no handle leaked";
}

TEST_F(Exports, TasksOfAShuttingDownClientAreSkipped) {
    static PevraNUV_Callbacks table{};
    const PevraNUV_ButtonFunction record{8, {u'a'}};
    Client().m_shuttingDown = true;
    PevraNUV_SetLogLevel(4);
    PevraNUV_RegisterCallbacks(&table, nullptr);
    PevraNUV_SetEraserSinglePress(&record);
    PevraNUV_SetMenuOp(3, &record);
    PevraNUV_SetTiltSensitivity(7);
    PevraNUV_ResetSlavedDisplayZoom();
    PevraNUV_StartKeyCapture();
    Client().m_shuttingDown = false;
    EXPECT_EQ(Client().m_logLevel, 3);
    EXPECT_FALSE(PevraNUV::g_logEnabled.load());
    EXPECT_TRUE(Client().m_callbackTables.empty());
    EXPECT_TRUE(Client().m_outgoing.empty());
}
