// The diagnostic log: the record format, appending, the file path, a failed
// open, concurrent writers, and what each log level selects.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "platform/platform.h"

namespace fs = std::filesystem;
namespace platform = PevraNUV::platform;
using PevraNUV::LogMessage;
using PevraNUV::SetLogFilePath;

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

std::vector<std::string> SplitRecords(const std::string& text) {
    std::vector<std::string> records;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        records.push_back(text.substr(start, end + 2 - start));
    if (start < text.size()) records.push_back(text.substr(start));  // an unterminated tail
    return records;
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

#if !defined(_WIN32)
    // What the log sent to the debugger output since the last call.
    static std::string TakeDebuggerOutput() {
        std::string text = ::testing::internal::GetCapturedStderr();
        ::testing::internal::CaptureStderr();
        return text;
    }
#endif

    // Closes the log file (by clearing the path) and returns its bytes.
    static std::string ReadClosed(const fs::path& path) {
        SetLogFilePath(std::wstring());
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path m_folder;

private:
    std::wstring m_savedPath;
    bool m_savedEnabled = false;
};

}  // namespace

TEST_F(LogTest, RecordIsTimeIdsAndTextWithCrLf) {
    fs::path file = FileIn("format.log");
    SetLogFilePath(file.wstring());
    platform::LocalTime before = platform::CurrentLocalTime();
    LogMessage(L"SyncThread read failed.\r\n");
    platform::LocalTime after = platform::CurrentLocalTime();
    std::string text = ReadClosed(file);

    std::smatch fields;
    ASSERT_TRUE(std::regex_match(text, fields, kRecord)) << text;
    int hour = std::stoi(fields[1]), minute = std::stoi(fields[2]), second = std::stoi(fields[3]),
        millisecond = std::stoi(fields[4]);
    EXPECT_LT(hour, 24);
    EXPECT_LT(minute, 60);
    EXPECT_LT(second, 60);
    int stamp = MillisecondOfDay({hour, minute, second, millisecond});
    if (MillisecondOfDay(before) <= MillisecondOfDay(after)) {  // not across midnight
        EXPECT_GE(stamp, MillisecondOfDay(before));
        EXPECT_LE(stamp, MillisecondOfDay(after));
    }
    EXPECT_EQ(fields[5].str(), PaddedId(platform::CurrentProcessId()));
    EXPECT_EQ(fields[6].str(), PaddedId(platform::CurrentThreadId()));
    EXPECT_EQ(fields[7].str(), "SyncThread read failed.");
    EXPECT_EQ(text.substr(12, 4), " -- ");
}

TEST_F(LogTest, FormatsItsArguments) {
    fs::path file = FileIn("arguments.log");
    SetLogFilePath(file.wstring());
    LogMessage(L"%d of %u: %ls.\r\n", -3, 4294967295u, L"text");
    const std::wstring longText(3000, L'x');  // beyond any first guess of the size
    LogMessage(L"%ls\r\n", longText.c_str());
    std::vector<std::string> records = SplitRecords(ReadClosed(file));
    ASSERT_EQ(records.size(), 2u);
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(records[0], fields, kRecord)) << records[0];
    EXPECT_EQ(fields[7].str(), "-3 of 4294967295: text.");
    ASSERT_TRUE(std::regex_match(records[1], fields, kRecord));
    EXPECT_EQ(fields[7].str(), std::string(3000, 'x'));
}

TEST_F(LogTest, AppendsAfterEarlierContent) {
    fs::path file = FileIn("append.log");
    { std::ofstream(file, std::ios::binary) << "earlier run\r\n"; }
    SetLogFilePath(file.wstring());
    LogMessage(L"Ack read failed.\r\n");
    LogMessage(L"Set value: bad format.\r\n");
    std::vector<std::string> records = SplitRecords(ReadClosed(file));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], "earlier run\r\n");
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(records[1], fields, kRecord));
    EXPECT_EQ(fields[7].str(), "Ack read failed.");
    ASSERT_TRUE(std::regex_match(records[2], fields, kRecord));
    EXPECT_EQ(fields[7].str(), "Set value: bad format.");

    // Closed and opened again: still appending.
    SetLogFilePath(file.wstring());
    LogMessage(L"Unknown protocol version.\r\n");
    records = SplitRecords(ReadClosed(file));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0], "earlier run\r\n");
}

TEST_F(LogTest, EmptyPathWritesNoFile) {
    fs::path file = FileIn("unused.log");
    SetLogFilePath(file.wstring());
    SetLogFilePath(std::wstring());
    LogMessage(L"Couldn't find Service.\r\n");
    EXPECT_FALSE(PevraNUV::g_logFile.is_open());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::is_empty(m_folder));
}

TEST_F(LogTest, PathSeamMovesTheFile) {
    fs::path first = FileIn("first.log"), second = FileIn("second.log");
    SetLogFilePath(first.wstring());
    EXPECT_EQ(PevraNUV::g_logFilePath, first.wstring());
    EXPECT_FALSE(fs::exists(first)) << "opened lazily by the first record";
    LogMessage(L"one\r\n");
    SetLogFilePath(second.wstring());
    LogMessage(L"two\r\n");
    LogMessage(L"three\r\n");
    std::string secondText = ReadClosed(second);
    std::string firstText = ReadClosed(first);
    EXPECT_EQ(SplitRecords(firstText).size(), 1u);
    EXPECT_NE(firstText.find(" -- one\r\n"), std::string::npos);
    ASSERT_EQ(SplitRecords(secondText).size(), 2u);
    EXPECT_NE(secondText.find(" -- two\r\n"), std::string::npos);
    EXPECT_NE(secondText.find(" -- three\r\n"), std::string::npos);
}

TEST_F(LogTest, FailedOpenIsRetriedByTheNextCall) {
    fs::path folder = FileIn("later");
    fs::path file = folder / "retry.log";
    SetLogFilePath(file.wstring());
    LogMessage(L"lost\r\n");  // the folder does not exist yet
    EXPECT_FALSE(PevraNUV::g_logFile.is_open());
    EXPECT_FALSE(fs::exists(file));
    fs::create_directory(folder);
    LogMessage(L"kept\r\n");
    std::vector<std::string> records = SplitRecords(ReadClosed(file));
    ASSERT_EQ(records.size(), 1u);
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(records[0], fields, kRecord));
    EXPECT_EQ(fields[7].str(), "kept");
}

// A character that the stream's locale cannot convert (the test runs in the
// classic locale) must not stop the log nor tear a record: the records after
// it are written whole, and the file can still be closed.
TEST_F(LogTest, AnUnconvertibleTextDoesNotStopTheFile) {
    fs::path file = FileIn("unconvertible.log");
    SetLogFilePath(file.wstring());
    LogMessage(L"before\r\n");
    LogMessage(L"%ls\r\n", L"\u4e2d\u6587 \u20ac");
    LogMessage(L"after\r\n");
    std::string text;
    ASSERT_NO_THROW(text = ReadClosed(file));
    std::vector<std::string> records = SplitRecords(text);
    ASSERT_GE(records.size(), 2u) << text;
    ASSERT_LE(records.size(), 3u) << text;
    std::smatch fields;
    for (const std::string& record : records) ASSERT_TRUE(std::regex_match(record, fields, kRecord)) << text;
    ASSERT_TRUE(std::regex_match(records.front(), fields, kRecord));
    EXPECT_EQ(fields[7].str(), "before");
    ASSERT_TRUE(std::regex_match(records.back(), fields, kRecord));
    EXPECT_EQ(fields[7].str(), "after");
}

TEST_F(LogTest, ConcurrentWritersGiveWholeRecords) {
    fs::path file = FileIn("threads.log");
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
    std::vector<std::string> records = SplitRecords(ReadClosed(file));
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kThreads * kRecords));

    std::vector<int> next(kThreads, 0);  // each writer's records in its order
    const std::regex text(R"(writer (\d) record (\d+) of a longer line)");
    for (const std::string& record : records) {
        std::smatch fields, parts;
        ASSERT_TRUE(std::regex_match(record, fields, kRecord)) << record;
        std::string message = fields[7].str();
        ASSERT_TRUE(std::regex_match(message, parts, text)) << record;
        int writer = std::stoi(parts[1]);
        ASSERT_LT(writer, kThreads);
        EXPECT_EQ(fields[6].str(), threadIds[writer]);
        EXPECT_EQ(std::stoi(parts[2]), next[writer]++);
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, kRecords));
}

#if !defined(_WIN32)
// Outside Windows the debugger output is standard error: the text alone.
TEST_F(LogTest, DebuggerOutputIsTheTextAlone) {
    fs::path file = FileIn("debugger.log");
    SetLogFilePath(file.wstring());
    TakeDebuggerOutput();
    LogMessage(L"Timed out waiting for Service.\r\n");
    SetLogFilePath(std::wstring());
    LogMessage(L"SyncThread no connection.\r\n");
    EXPECT_EQ(TakeDebuggerOutput(), "Timed out waiting for Service.\r\nSyncThread no connection.\r\n");
}
#endif

TEST_F(LogTest, LevelsSelectNothingTheDebuggerOrTheFile) {
    const std::wstring besideLibrary = platform::LibraryFolder() + L"PTabletSettingsAPI.log";
    ASSERT_FALSE(platform::LibraryFolder().empty());
    struct Case {
        int level;
        bool enabled;
        std::wstring path;
    } cases[] = {
        {-1, false, L""}, {0, false, L""}, {3, false, L""}, {4, true, L""}, {5, true, besideLibrary}, {6, true, besideLibrary},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        SetLogFilePath(FileIn("stale.log").wstring());
        PevraNUV::ApplyLogLevel(c.level);
        EXPECT_EQ(PevraNUV::g_logEnabled.load(), c.enabled);
        EXPECT_EQ(PevraNUV::g_logFilePath, c.path);
    }
    EXPECT_FALSE(fs::exists(FileIn("stale.log")));
}

TEST_F(LogTest, LevelFiveWritesBesideTheLibrary) {
    const fs::path file = fs::path(platform::LibraryFolder()) / "PTabletSettingsAPI.log";
    const bool existed = fs::exists(file);
    const std::uintmax_t sizeBefore = existed ? fs::file_size(file) : 0;
    PevraNUV::ApplyLogLevel(5);
    PevraNUV::Log(L"Key capture buffer too small.\r\n");
    PevraNUV::ApplyLogLevel(3);  // closes the file
    ASSERT_TRUE(fs::exists(file));
    std::string text;
    {
        std::ifstream in(file, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(sizeBefore));
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (!existed) fs::remove(file);
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(text, fields, kRecord)) << text;
    EXPECT_EQ(fields[7].str(), "Key capture buffer too small.");
}

TEST_F(LogTest, LevelFourLogsWithoutAFileAndThreeNotAtAll) {
    const fs::path besideLibrary = fs::path(platform::LibraryFolder()) / "PTabletSettingsAPI.log";
    const bool existed = fs::exists(besideLibrary);
    for (int level : {4, 3}) {
        SCOPED_TRACE(level);
        PevraNUV::ApplyLogLevel(level);
#if !defined(_WIN32)
        TakeDebuggerOutput();
#endif
        PevraNUV::Log(L"SyncThread lost connection.\r\n");
#if !defined(_WIN32)
        EXPECT_EQ(TakeDebuggerOutput(), level == 4 ? "SyncThread lost connection.\r\n" : "");
#endif
        EXPECT_FALSE(PevraNUV::g_logFile.is_open());
        EXPECT_EQ(fs::exists(besideLibrary), existed);
    }
}
