// The diagnostic log: the record format, appending, the file path, a failed
// open, concurrent writers, and what each log level selects.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "platform/platform.h"

namespace fs = std::filesystem;
namespace platform = PevraNUV::platform;
using PevraNUV::LogMessage;
using PevraNUV::SetLogFilePath;
using Texts = std::vector<std::string>;

namespace {

// hh:mm:ss.mmm -- PPPPP/TTTTT -- text CR LF
const std::regex kRecord(R"((\d\d):(\d\d):(\d\d)\.(\d\d\d) -- (\d{5,})/(\d{5,}) -- ([^\r\n]*)\r\n)");

// An id as a record shows it: zero-padded to five digits, longer ids whole.
std::string PaddedId(std::uint32_t id) {
    std::string digits = std::to_string(id);
    return digits.size() < 5 ? std::string(5 - digits.size(), '0') + digits : digits;
}

int MillisecondOfDay(const platform::LocalTime& t) {
    return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

// Closes the log file (by clearing the path) and returns its bytes.
std::string ReadClosed(const fs::path& path) {
    SetLogFilePath(std::wstring());
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The texts of a closed log file's records, in order; a line that is not a
// whole record stands as "?" and the line.
Texts RecordTexts(const fs::path& path) {
    const std::string text = ReadClosed(path);
    Texts texts;
    for (std::size_t start = 0, end; start < text.size(); start = end) {
        end = text.find("\r\n", start);
        end = end == std::string::npos ? text.size() : end + 2;
        const std::string line = text.substr(start, end - start);
        std::smatch fields;
        texts.push_back(std::regex_match(line, fields, kRecord) ? fields[7].str() : "?" + line);
    }
    return texts;
}

// Saves the log's process-wide state and puts it back after each test; every
// file lives in a folder of the test's own that is removed afterwards.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedPath = PevraNUV::g_logFilePath;
        m_savedEnabled = PevraNUV::g_logEnabled.load();
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        m_folder = fs::temp_directory_path() /
                   ("ptsa-log-" + std::to_string(platform::CurrentProcessId()) + "-" + test->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
#if !defined(_WIN32)
        ::testing::internal::CaptureStderr();  // the debugger output, kept out of the test report
#endif
    }
    void TearDown() override {
#if !defined(_WIN32)
        ::testing::internal::GetCapturedStderr();
#endif
        SetLogFilePath(m_savedPath);
        PevraNUV::g_logEnabled = m_savedEnabled;
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    fs::path FileIn(const std::string& name) const { return m_folder / name; }

    fs::path m_folder;

private:
    std::wstring m_savedPath;
    bool m_savedEnabled = false;
};

}  // namespace

TEST_F(LogTest, RecordIsTimeIdsAndTextWithCrLf) {
    const fs::path file = FileIn("format.log");
    SetLogFilePath(file.wstring());
    const platform::LocalTime before = platform::CurrentLocalTime();
    LogMessage(L"SyncThread read failed.\r\n");
    const platform::LocalTime after = platform::CurrentLocalTime();
    const std::string text = ReadClosed(file);

    std::smatch fields;
    ASSERT_TRUE(std::regex_match(text, fields, kRecord)) << text;
    const int hour = std::stoi(fields[1]), minute = std::stoi(fields[2]), second = std::stoi(fields[3]);
    EXPECT_LT(hour, 24);
    EXPECT_LT(minute, 60);
    EXPECT_LT(second, 60);
    const int stamp = MillisecondOfDay({hour, minute, second, std::stoi(fields[4])});
    if (MillisecondOfDay(before) <= MillisecondOfDay(after)) {  // not across midnight
        EXPECT_GE(stamp, MillisecondOfDay(before));
        EXPECT_LE(stamp, MillisecondOfDay(after));
    }
    EXPECT_EQ(fields[5].str(), PaddedId(platform::CurrentProcessId()));
    EXPECT_EQ(fields[6].str(), PaddedId(platform::CurrentThreadId()));
    EXPECT_EQ(fields[7].str(), "SyncThread read failed.");
}

TEST_F(LogTest, FormatsItsArguments) {
    const fs::path file = FileIn("arguments.log");
    SetLogFilePath(file.wstring());
    LogMessage(L"%d of %u: %ls.\r\n", -3, 4294967295u, L"text");
    const std::wstring longText(3000, L'x');  // beyond any first guess of the size
    LogMessage(L"%ls\r\n", longText.c_str());
    EXPECT_EQ(RecordTexts(file), (Texts{"-3 of 4294967295: text.", std::string(3000, 'x')}));
}

TEST_F(LogTest, AppendsAfterEarlierContentAlsoWhenOpenedAgain) {
    const fs::path file = FileIn("append.log");
    { std::ofstream(file, std::ios::binary) << "earlier run\r\n"; }
    SetLogFilePath(file.wstring());
    LogMessage(L"Ack read failed.\r\n");
    EXPECT_EQ(RecordTexts(file), (Texts{"?earlier run\r\n", "Ack read failed."}));
    SetLogFilePath(file.wstring());
    LogMessage(L"Unknown protocol version.\r\n");
    EXPECT_EQ(RecordTexts(file), (Texts{"?earlier run\r\n", "Ack read failed.", "Unknown protocol version."}));
}

TEST_F(LogTest, ThePathMovesTheFileAndAnEmptyOneWritesNone) {
    const fs::path first = FileIn("first.log"), second = FileIn("second.log"), unused = FileIn("unused.log");
    SetLogFilePath(first.wstring());
    EXPECT_FALSE(fs::exists(first)) << "opened lazily by the first record";
    LogMessage(L"one\r\n");
    SetLogFilePath(second.wstring());
    LogMessage(L"two\r\n");
    LogMessage(L"three\r\n");
    EXPECT_EQ(RecordTexts(second), (Texts{"two", "three"}));
    EXPECT_EQ(RecordTexts(first), (Texts{"one"}));
    SetLogFilePath(unused.wstring());
    SetLogFilePath(std::wstring());
    LogMessage(L"Couldn't find Service.\r\n");
    EXPECT_FALSE(PevraNUV::g_logFile.is_open());
    EXPECT_FALSE(fs::exists(unused));
}

TEST_F(LogTest, FailedOpenIsRetriedByTheNextCall) {
    const fs::path folder = FileIn("later"), file = folder / "retry.log";
    SetLogFilePath(file.wstring());
    LogMessage(L"lost\r\n");  // the folder does not exist yet
    EXPECT_FALSE(PevraNUV::g_logFile.is_open());
    fs::create_directory(folder);
    LogMessage(L"kept\r\n");
    EXPECT_EQ(RecordTexts(file), (Texts{"kept"}));
}

// A character that the stream's locale cannot convert (the test runs in the
// classic locale) must not stop the log nor tear a record: the records after
// it are written whole, and the file can still be closed.
TEST_F(LogTest, AnUnconvertibleTextDoesNotStopTheFile) {
    const fs::path file = FileIn("unconvertible.log");
    SetLogFilePath(file.wstring());
    LogMessage(L"before\r\n");
    LogMessage(L"%ls\r\n", L"\u4e2d\u6587 \u20ac");
    LogMessage(L"after\r\n");
    Texts texts;
    ASSERT_NO_THROW(texts = RecordTexts(file));
    ASSERT_GE(texts.size(), 2u);
    ASSERT_LE(texts.size(), 3u);
    EXPECT_EQ(texts.front(), "before");
    EXPECT_EQ(texts.back(), "after");
    for (const std::string& text : texts) EXPECT_NE(text[0], '?') << text;
}

TEST_F(LogTest, ConcurrentWritersGiveWholeRecords) {
    const fs::path file = FileIn("threads.log");
    SetLogFilePath(file.wstring());
    constexpr int kThreads = 2, kRecords = 500;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    std::vector<std::string> threadIds(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            threadIds[t] = PaddedId(platform::CurrentThreadId());
            ++ready;
            while (ready < kThreads) std::this_thread::yield();  // start together
            for (int i = 0; i < kRecords; ++i) LogMessage(L"writer %d record %d of a longer line\r\n", t, i);
        });
    }
    for (std::thread& thread : threads) thread.join();
    const std::string text = ReadClosed(file);
    std::vector<int> next(kThreads, 0);  // each writer's records in its order
    std::size_t whole = 0;
    const std::regex message(R"(writer (\d) record (\d+) of a longer line)");
    for (std::sregex_iterator record(text.begin(), text.end(), kRecord), end; record != end; ++record) {
        const std::smatch& fields = *record;
        whole += fields.length(0);
        const std::string body = fields[7].str();
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(body, parts, message)) << body;
        const int writer = std::stoi(parts[1]);
        ASSERT_LT(writer, kThreads);
        EXPECT_EQ(fields[6].str(), threadIds[writer]);
        EXPECT_EQ(std::stoi(parts[2]), next[writer]++);
    }
    EXPECT_EQ(whole, text.size()) << "every record whole";
    EXPECT_EQ(next, std::vector<int>(kThreads, kRecords));
}

TEST_F(LogTest, LevelsSelectNothingTheDebuggerOrTheFileBesideTheLibrary) {
    ASSERT_FALSE(platform::LibraryFolder().empty());
    const fs::path besideLibrary = fs::path(platform::LibraryFolder()) / "PTabletSettingsAPI.log";
    const struct {
        int level;
        bool enabled;
        std::wstring path;
    } cases[] = {{-1, false, L""}, {0, false, L""}, {3, false, L""},
                 {4, true, L""},   {6, true, besideLibrary.wstring()}, {5, true, besideLibrary.wstring()}};
    for (const auto& c : cases) {
        SetLogFilePath(FileIn("stale.log").wstring());
        PevraNUV::ApplyLogLevel(c.level);
        EXPECT_EQ(PevraNUV::g_logEnabled.load(), c.enabled) << c.level;
        EXPECT_EQ(PevraNUV::g_logFilePath, c.path) << c.level;
    }
    EXPECT_FALSE(fs::exists(FileIn("stale.log")));

    // At level 5, the records go to the file beside the library.
    const bool existed = fs::exists(besideLibrary);
    const std::uintmax_t sizeBefore = existed ? fs::file_size(besideLibrary) : 0;
    PevraNUV::Log(L"Key capture buffer too small.\r\n");
    PevraNUV::ApplyLogLevel(3);  // closes the file
    std::ifstream in(besideLibrary, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(sizeBefore));
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    if (!existed) fs::remove(besideLibrary);
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(text, fields, kRecord)) << text;
    EXPECT_EQ(fields[7].str(), "Key capture buffer too small.");
}

#if !defined(_WIN32)
// Outside Windows the debugger output is standard error: the text alone, at
// level 4 and with a file alike, and nothing at level 3.
TEST_F(LogTest, DebuggerOutputIsTheTextAlone) {
    const auto take = [] {
        const std::string text = ::testing::internal::GetCapturedStderr();
        ::testing::internal::CaptureStderr();
        return text;
    };
    SetLogFilePath(FileIn("debugger.log").wstring());
    take();
    LogMessage(L"Timed out waiting for Service.\r\n");
    PevraNUV::ApplyLogLevel(4);
    PevraNUV::Log(L"SyncThread lost connection.\r\n");
    EXPECT_FALSE(PevraNUV::g_logFile.is_open());
    PevraNUV::ApplyLogLevel(3);
    PevraNUV::Log(L"SyncThread no connection.\r\n");
    EXPECT_EQ(take(), "Timed out waiting for Service.\r\nSyncThread lost connection.\r\n");
}
#endif
