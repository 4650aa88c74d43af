// Key capture through the exports: the switch messages, and the captured
// keystrokes handed into the host's buffer.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/log.h"
#include "settings/catalogue.h"
#include "test_support.h"

namespace {

using namespace ptsa_test;
using Batch = std::vector<std::u16string>;

const std::u16string kStart = uR"({"ComponentsDriver\\BTButtonHandler\\KeystrokeCapture":"1"})";
const std::u16string kStop = uR"({"ComponentsDriver\\BTButtonHandler\\KeystrokeCapture":"0"})";
constexpr unsigned char kUntouched = 0xAB;

class KeyCaptureTest : public ExportTest {
protected:
    void SetUp() override {
        ExportTest::SetUp();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_logPath = std::filesystem::temp_directory_path() / ("ptsa_key_capture_" + std::to_string(stamp) + ".log");
        PevraNUV::SetLogFilePath(m_logPath.wstring());
        PevraNUV::g_logEnabled = true;
    }
    void TearDown() override {
        PevraNUV::g_logEnabled = false;
        PevraNUV::SetLogFilePath(std::wstring());
        std::filesystem::remove(m_logPath);
        ExportTest::TearDown();
    }
    // How many "too small" records the log holds, each ending in CR LF.
    std::size_t TooSmallRecords() const {
        std::ifstream file(m_logPath, std::ios::binary);
        const std::string log{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        const std::string record = " -- Key capture buffer too small.\r\n";
        std::size_t count = 0;
        for (std::size_t at = log.find(record); at != std::string::npos; at = log.find(record, at + 1)) ++count;
        return count;
    }
    void Capture(const std::u16string& keys) { Client().DispatchValue(PevraNUV::KeyOf(74), keys); }

    // The bytes of a host buffer after the call, one more than handed over.
    static std::vector<unsigned char> Finish(std::size_t bytes) {
        alignas(PevraNUV_Char) unsigned char buffer[64];
        std::memset(buffer, kUntouched, sizeof buffer);
        PevraNUV_FinishKeyCapture(reinterpret_cast<PevraNUV_Char*>(buffer), bytes);
        return {buffer, buffer + bytes + 1};
    }
    // What they must be: the text, zeros to the end, the byte beyond untouched.
    static std::vector<unsigned char> Expected(const std::u16string& text, std::size_t bytes) {
        std::vector<unsigned char> expected(bytes, 0);
        std::memcpy(expected.data(), text.data(), std::min(bytes, text.size() * 2));
        expected.push_back(kUntouched);
        return expected;
    }

private:
    std::filesystem::path m_logPath;
};

struct FinishCase {
    std::u16string captured;
    std::size_t bytes;
    bool fits;
};

class FinishKeyCapture : public KeyCaptureTest, public ::testing::WithParamInterface<FinishCase> {};

TEST_P(FinishKeyCapture, HandsTheKeystrokesOverOnceWithTheBufferZeroedBeyond) {
    const auto& [captured, bytes, fits] = GetParam();
    Capture(captured);
    EXPECT_EQ(Finish(bytes), Expected(fits ? captured : u"", bytes));
    EXPECT_EQ(TooSmallRecords(), fits ? 0u : 1u);
    EXPECT_EQ(Outgoing(), Batch{kStop});
    EXPECT_EQ(Finish(20), Expected(u"", 20)) << "the keystrokes are gone";
}

INSTANTIATE_TEST_SUITE_P(Exports, FinishKeyCapture,
                         ::testing::Values(FinishCase{u"abc", 8, true}, FinishCase{u"abc", 7, false},
                                           FinishCase{u"abc", 9, true},  // an odd last byte is zeroed, never written
                                           FinishCase{u"ab", 20, true}, FinishCase{u"", 1, false}));

TEST_F(KeyCaptureTest, EveryStartAndFinishQueuesItsMessageEvenWithoutRoomForTheZero) {
    PevraNUV_StartKeyCapture();
    PevraNUV_StartKeyCapture();
    PevraNUV_FinishKeyCapture(nullptr, 0);
    EXPECT_EQ(Outgoing(), (Batch{kStart, kStart, kStop}));
    EXPECT_EQ(TooSmallRecords(), 1u);
}

TEST_F(KeyCaptureTest, TheBufferIsZeroedEvenWhenTheClientShutsDown) {
    Capture(u"abc");
    Client().m_shuttingDown = true;
    const std::vector<unsigned char> buffer = Finish(10);
    Client().m_shuttingDown = false;
    EXPECT_EQ(buffer, Expected(u"", 10));
    EXPECT_TRUE(Outgoing().empty());
    EXPECT_EQ(Finish(10), Expected(u"abc", 10)) << "the keystrokes wait for a client that runs tasks";
}

}  // namespace
