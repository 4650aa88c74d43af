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
const std::string kTooSmall = "Key capture buffer too small.\r\n";
constexpr unsigned char kUntouched = 0xAB;

class KeyCaptureTest : public ExportTest {
protected:
    void TearDown() override {
        PevraNUV::g_logEnabled = false;
        PevraNUV::SetLogFilePath(std::wstring());
        if (!logPath.empty()) std::filesystem::remove(logPath);
        ExportTest::TearDown();
    }
    void StartLog() {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        logPath = std::filesystem::temp_directory_path() /
                  ("ptsa_key_capture_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                   "_" + std::to_string(stamp) + ".log");
        PevraNUV::SetLogFilePath(logPath.wstring());
        PevraNUV::g_logEnabled = true;
    }
    // How many records of the message the log file holds, each ending the
    // record's line exactly in CR LF.
    std::size_t TooSmallRecords() const {
        std::ifstream file(logPath, std::ios::binary);
        const std::string log{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        const std::string record = " -- " + kTooSmall;
        std::size_t count = 0;
        for (std::size_t at = log.find(record); at != std::string::npos; at = log.find(record, at + record.size()))
            ++count;
        return count;
    }
    void Capture(const std::u16string& keys) { Client().DispatchValue(PevraNUV::KeyOf(74), keys); }

    // Bytes of a host buffer, one more than handed over, to see what is written.
    std::vector<unsigned char> Finish(std::size_t bytes) {
        alignas(PevraNUV_Char) unsigned char buffer[64];
        std::memset(buffer, kUntouched, sizeof buffer);
        PevraNUV_FinishKeyCapture(reinterpret_cast<PevraNUV_Char*>(buffer), bytes);
        return {buffer, buffer + bytes + 1};
    }
    static std::vector<unsigned char> Units(const std::u16string& text, std::size_t bytes) {
        std::vector<unsigned char> expected(bytes, 0);
        std::memcpy(expected.data(), text.data(), std::min(bytes, text.size() * 2));
        expected.push_back(kUntouched);
        return expected;
    }

    std::filesystem::path logPath;
};

TEST_F(KeyCaptureTest, KeystrokesThatFitAreCopiedWithTheirZero) {
    StartLog();
    Capture(u"abc");
    EXPECT_EQ(Finish(8), Units(u"abc", 8));
    EXPECT_EQ(Outgoing(), Batch{kStop});
    EXPECT_EQ(Client().m_capturedKeys, u"");
    EXPECT_EQ(TooSmallRecords(), 0u);
}

TEST_F(KeyCaptureTest, KeystrokesThatDoNotFitLeaveTheBufferZeroAndAreGone) {
    StartLog();
    Capture(u"abc");
    EXPECT_EQ(Finish(7), Units(u"", 7));
    EXPECT_EQ(TooSmallRecords(), 1u);
    EXPECT_EQ(Finish(20), Units(u"", 20)) << "the keystrokes are gone";
    EXPECT_EQ(Outgoing(), (Batch{kStop, kStop}));
}

TEST_F(KeyCaptureTest, AnOddByteCountZeroesTheLastByteAndNeverWritesIt) {
    Capture(u"abc");
    EXPECT_EQ(Finish(9), Units(u"abc", 9));
}

TEST_F(KeyCaptureTest, TheWholeBufferIsZeroedBeyondTheText) {
    Capture(u"ab");
    EXPECT_EQ(Finish(20), Units(u"ab", 20));
}

TEST_F(KeyCaptureTest, NoRoomForTheZeroIsTooSmallYetTheStopIsQueued) {
    StartLog();
    PevraNUV_FinishKeyCapture(nullptr, 0);
    EXPECT_EQ(Finish(1), Units(u"", 1));
    EXPECT_EQ(TooSmallRecords(), 2u);
    EXPECT_EQ(Outgoing(), (Batch{kStop, kStop}));
}

TEST_F(KeyCaptureTest, FinishWithoutStartHandsOverWhateverWasCaptured) {
    Capture(u"xy");
    EXPECT_EQ(Finish(6), Units(u"xy", 6));
    EXPECT_EQ(Outgoing(), Batch{kStop});
}

TEST_F(KeyCaptureTest, EveryStartQueuesItsMessage) {
    PevraNUV_StartKeyCapture();
    PevraNUV_StartKeyCapture();
    EXPECT_EQ(Outgoing(), (Batch{kStart, kStart}));
}

TEST_F(KeyCaptureTest, TheBufferIsZeroedEvenWhenTheClientShutsDown) {
    Capture(u"abc");
    Client().m_shuttingDown = true;
    const std::vector<unsigned char> buffer = Finish(10);
    Client().m_shuttingDown = false;
    EXPECT_EQ(buffer, Units(u"", 10));
    EXPECT_TRUE(Outgoing().empty());
    EXPECT_EQ(Client().m_capturedKeys, u"abc");
}

}  // namespace
