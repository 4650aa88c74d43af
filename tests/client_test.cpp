// The client without a service: serialised tasks, the exports' shutdown,
// key capture's buffer, and the log.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include "api/library.h"
#include "client/key_capture.h"
#include "log/log.h"
#include "platform/trust.h"
#include "test_support.h"

namespace PevraNUV {
// The client's private queue and gate, as these tests see them.
struct ClientProbe {
    static std::deque<std::u16string>& Outgoing(SettingsClient& client) { return client.m_outgoing; }
    static void CloseToTasks(SettingsClient& client) { client.m_shuttingDown = true; }
};
}  // namespace PevraNUV

namespace {

using namespace PevraNUV;
using ptsa_test::Recorder;

// Whom the connect step lets serve the pipes on Windows, the caller being
// "me" in session 1.
TEST(Trust, TheCallersUserInItsSessionOrLocalSystem) {
    const std::u16string_view me = u"S-1-5-21-7-8-9-1001", other = u"S-1-5-21-7-8-9-1002", system = u"S-1-5-18";
    const struct {
        std::u16string_view server;
        std::uint32_t session;
        std::u16string_view caller;
        bool trusted;
    } cases[] = {{me, 1, me, true},        {me, 0, me, false},      {me, 2, me, false},     {other, 1, me, false},
                 {other, 0, me, false},    {system, 0, me, true},   {system, 1, me, true},  {system, 2, me, true},
                 {u"S-1-5-19", 0, me, false}, {u"S-1-5-18-1", 0, me, false}, {me, 1, system, false}, {u"", 1, u"", false}};
    for (std::size_t row = 0; row < std::size(cases); ++row)
        EXPECT_EQ(platform::MayServeSettings(cases[row].server, cases[row].session, cases[row].caller, 1), cases[row].trusted)
            << "row " << row;
}

TEST(RunSerialized, NestsContainsAndStopsAtShutdown) {
    SettingsClient client;
    std::string ran;
    client.RunSerialized([&] {
        client.RunSerialized([&] { ran += "nested "; });
        ran += "outer ";
    });
    client.RunSerialized([] { throw std::runtime_error("contained"); });
    std::thread other([&] { client.RunSerialized([&] { ran += "other-thread "; }); });
    other.join();  // the lock was released after the exception
    ClientProbe::CloseToTasks(client);
    client.RunSerialized([&] { ran += "after-stop"; });
    EXPECT_EQ(ran, "nested outer other-thread ");
}

TEST(Shutdown, LeavesAFreshClient) {
    Recorder recorder;
    PevraNUV_RegisterCallbacks(&Recorder::kTable, &recorder);
    PevraNUV_SetTiltSensitivity(3);  // queued, never sent: not connected
    PevraNUV_SetLogLevel(kDebuggerLogLevel);
    SettingsClient* old = g_client.load();
    PevraNUV_Shutdown();
    EXPECT_NE(g_client.load(), old);
    EXPECT_FALSE(g_logEnabled.load()) << "the log level is 3 again";
    EXPECT_TRUE(ClientProbe::Outgoing(CurrentClient()).empty());
    recorder.Take();
    CurrentClient().Hosts().NotifyHosts(&PevraNUV_Callbacks::OnTiltSensitivity, 1);
    EXPECT_EQ(recorder.Take(), "") << "registrations go with the old client";
}

// Each setter queues its own setting (the batches themselves are the wire
// tests'; the other setters' roads end to end are session_test.cpp's); a
// client that is not connected keeps what is queued.
TEST(Exports, EachSetterWritesItsOwnSetting) {
    static const PevraNUV_ButtonFunction record{5, {}};
    const std::pair<void (*)(), std::string> cases[] = {
        {[] { PevraNUV_SetMenuOp(10, &record); }, ""},
        {[] { PevraNUV_SetMenuOp(-1, &record); }, ""},
        {[] { PevraNUV_SetTopHoverClick(1); }, R"(ButtonUpperSide\\HoverClick":"1"})"},
        {[] { PevraNUV_SetMenuCenterRightClick(3); }, R"(RadialMenuCenterRightClick":"3"})"},
    };
    for (const auto& [call, written] : cases) {
        ClientProbe::Outgoing(CurrentClient()).clear();
        call();
        const auto& queued = ClientProbe::Outgoing(CurrentClient());
        const std::string first = queued.empty() ? "" : std::string(queued.front().begin(), queued.front().end());
        EXPECT_EQ(first.substr(first.size() - std::min(first.size(), written.size())), written);
        EXPECT_EQ(queued.size(), written.empty() ? 0u : 2u) << written;
    }
    PevraNUV_Shutdown();
}

TEST(KeyCapture, FinishZeroesTheBufferAndHandsOverWhatFits) {
    const struct {
        std::u16string captured;
        std::size_t bytes;
        std::string handed;
    } cases[] = {{u"ctrl+z", 14, "ctrl+z"}, {u"ctrl+z", 15, "ctrl+z"}, {u"ctrl+z", 13, ""}, {u"", 2, ""}, {u"ab", 0, ""}};
    for (const auto& c : cases) {
        SettingsClient client;
        client.Cache().m_capturedKeys = c.captured;
        PevraNUV_Char buffer[10];
        std::fill(std::begin(buffer), std::end(buffer), PevraNUV_Char{'#'});
        FinishKeyCapture(client, c.bytes ? buffer : nullptr, c.bytes);
        EXPECT_EQ(ptsa_test::Narrow(buffer), c.bytes ? c.handed : std::string(10, '#')) << c.bytes;
        for (std::size_t unit = c.handed.size(); unit < c.bytes / 2; ++unit) EXPECT_EQ(buffer[unit], 0);
        if (c.bytes % 2) EXPECT_EQ(reinterpret_cast<unsigned char*>(buffer)[c.bytes - 1], 0);
        EXPECT_TRUE(client.Cache().m_capturedKeys.empty()) << "forgotten either way";
        ASSERT_EQ(ClientProbe::Outgoing(client).size(), 1u);
        EXPECT_NE(ClientProbe::Outgoing(client)[0].find(u"KeystrokeCapture\":\"0\""), std::u16string::npos);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(Log, RecordsGoToTheFileOrItsSecondPlace) {
    const std::string path = testing::TempDir() + "ptsa_log_test.log";
    const std::string missingFolder = testing::TempDir() + "no-such-folder/ptsa.log";
    std::remove(path.c_str());
    const std::wstring wide(path.begin(), path.end()), missing(missingFolder.begin(), missingFolder.end());

    ApplyLogLevel(kDefaultLogLevel);
    SetLogFilePath(wide);
    Log(kLogCouldNotFindService);  // level 3: nothing
    EXPECT_EQ(ReadFile(path), "");
    ApplyLogLevel(kDebuggerLogLevel);
    SetLogFilePath(wide);
    Log(kLogCouldNotFindService);
    SetLogFilePath(missing, wide);  // the first place cannot be written
    Log(kLogAckReadFailed);
    ApplyLogLevel(kDefaultLogLevel);
    Log(kLogAckReadFailed);
    const std::regex record(R"(\d\d:\d\d:\d\d\.\d\d\d -- \d{5,}/\d{5,} -- )");
    const std::string text = ReadFile(path);
    EXPECT_TRUE(std::regex_search(text, record)) << text;
    EXPECT_EQ(std::regex_replace(text, record, ""), "Couldn't find Service.\r\nAck read failed.\r\n");
    std::remove(path.c_str());
}

}  // namespace
