// The diagnostic log.
#include "log/log.h"

#include <cstdio>
#include <mutex>

#include "platform/platform.h"

namespace PevraNUV {

std::atomic<bool> g_logEnabled{false};

namespace {

constexpr const wchar_t* kLogFileName = L"PTabletSettingsAPI.log";

// The file's two places, under their one lock. Never destroyed: a sync
// thread that a host left running may still log while the process exits.
struct LogFile {
    std::mutex lock;
    std::wstring path;
    std::wstring fallbackPath;
};

LogFile& g_logFile = *new LogFile;

std::string Record(const wchar_t* sentence) {
    const platform::LocalTime now = platform::CurrentLocalTime();
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d -- %05lu/%05lu -- ", now.hour, now.minute, now.second,
                  now.millisecond, static_cast<unsigned long>(platform::CurrentProcessId()),
                  static_cast<unsigned long>(platform::CurrentThreadId()));
    std::string record = prefix;
    // The sentences are ASCII: one byte a unit.
    for (const wchar_t* unit = sentence; *unit; ++unit) record += static_cast<char>(*unit);
    return record;
}

}  // namespace

void LogMessage(const wchar_t* sentence) {
    try {
        platform::WriteDebugOutput(sentence);
        const std::string record = Record(sentence);
        std::lock_guard<std::mutex> guard(g_logFile.lock);
        if (g_logFile.path.empty() || platform::AppendToFile(g_logFile.path, record)) return;
        if (!g_logFile.fallbackPath.empty()) platform::AppendToFile(g_logFile.fallbackPath, record);
    } catch (...) {
        // The log never changes the outcome of the operation that logs.
    }
}

void SetLogFilePath(const std::wstring& path, const std::wstring& fallbackPath) {
    std::lock_guard<std::mutex> guard(g_logFile.lock);
    g_logFile.path = path;
    g_logFile.fallbackPath = fallbackPath;
}

void ApplyLogLevel(int level) {
    std::wstring path, fallbackPath;
    if (level >= kFileLogLevel) {
        const std::wstring folder = platform::LibraryFolder();
        const std::wstring temp = platform::UserTempFolder();
        if (!folder.empty()) path = folder + kLogFileName;
        if (!temp.empty()) fallbackPath = temp + kLogFileName;
        if (path.empty()) path.swap(fallbackPath);
    }
    SetLogFilePath(path, fallbackPath);
    g_logEnabled.store(level >= kDebuggerLogLevel, std::memory_order_relaxed);
}

}  // namespace PevraNUV
