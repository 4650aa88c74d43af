// The diagnostic log.
#include "log/log.h"

#include <cstdarg>
#include <cwchar>
#include <iomanip>
#include <vector>

namespace PevraNUV {

namespace {

// Formats into a buffer that grows until the text fits; false on failure.
bool Format(std::vector<wchar_t>& text, const wchar_t* format, va_list arguments) {
    for (std::size_t size = 256; size <= (1u << 20); size *= 2) {
        text.resize(size);
        va_list copy;
        va_copy(copy, arguments);
        int length = std::vswprintf(text.data(), size, format, copy);
        va_end(copy);
        if (length >= 0 && static_cast<std::size_t>(length) < size) return true;
    }
    return false;
}

// Holds the log's critical section for one scope, through its own reference.
class LogLockGuard {
public:
    LogLockGuard() : m_lock(std::atomic_load(&g_logLock)) {
        if (m_lock) m_lock->Enter();
    }
    ~LogLockGuard() {
        if (m_lock) m_lock->Leave();
    }
    LogLockGuard(const LogLockGuard&) = delete;
    LogLockGuard& operator=(const LogLockGuard&) = delete;

private:
    std::shared_ptr<CPevSemaphore> m_lock;
};

// Closes the file whatever state its stream is in. A stream left holding
// text it could not convert throws when it is closed; the file is closed
// all the same, and the unconverted text is dropped.
void CloseLogFile() noexcept {
    try {
        g_logFile.close();
    } catch (...) {
    }
    g_logFile.clear();
}

void WriteRecord(const wchar_t* text) {
    platform::LocalTime now = platform::CurrentLocalTime();
    g_logFile << std::setfill(L'0') << std::setw(2) << now.hour << L':' << std::setw(2) << now.minute << L':'
              << std::setw(2) << now.second << L'.' << std::setw(3) << now.millisecond << L" -- " << std::setw(5)
              << platform::CurrentProcessId() << L'/' << std::setw(5) << platform::CurrentThreadId() << L" -- "
              << text;
    g_logFile.flush();
    // A record the stream could not take (a character its locale cannot
    // convert) leaves it failed: close the file, and the next call opens it
    // again and appends.
    if (!g_logFile) CloseLogFile();
}

}  // namespace

void LogMessage(const wchar_t* format, ...) {
    try {
        std::vector<wchar_t> text;
        va_list arguments;
        va_start(arguments, format);
        bool formatted = Format(text, format, arguments);
        va_end(arguments);
        if (!formatted) return;

        platform::WriteDebugOutput(text.data());

        LogLockGuard guard;
        if (g_logFilePath.empty()) return;
        if (!g_logFile.is_open()) {
            g_logFile.clear();
            platform::OpenForAppend(g_logFile, g_logFilePath);
            if (!g_logFile.is_open()) return;  // tried again by the next call
        }
        WriteRecord(text.data());
    } catch (...) {
        // The log never changes the outcome of the operation that logs.
    }
}

void SetLogFilePath(const std::wstring& path) {
    LogLockGuard guard;
    if (path == g_logFilePath) return;
    if (g_logFile.is_open()) CloseLogFile();
    g_logFilePath = path;
}

void ApplyLogLevel(int level) {
    if (level >= kFileLogLevel) {
        std::wstring folder = platform::LibraryFolder();
        SetLogFilePath(folder.empty() ? std::wstring() : folder + kLogFileName);
    } else {
        SetLogFilePath(std::wstring());
    }
    g_logEnabled.store(level >= kDebuggerLogLevel, std::memory_order_relaxed);
}

}  // namespace PevraNUV
