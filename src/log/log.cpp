// The diagnostic log.
#include "log/log.h"

#include <cstdarg>
#include <cwchar>
#include <iomanip>
#include <locale>
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

// Whether the file's conversion (that of its stream's locale) carries every
// character of text. A stream that fails half-way through a record leaves a
// torn record behind and stays failed, so such a record is never started.
bool FileCanCarry(const wchar_t* text) {
    using Conversion = std::codecvt<wchar_t, char, std::mbstate_t>;
    const Conversion& conversion = std::use_facet<Conversion>(g_logFile.getloc());
    if (conversion.always_noconv()) return true;
    const wchar_t* end = text + std::wcslen(text);
    std::vector<char> bytes(static_cast<std::size_t>(end - text) * conversion.max_length() + 1);
    std::mbstate_t state{};
    const wchar_t* converted = text;
    char* written = bytes.data();
    return conversion.out(state, text, end, converted, bytes.data(), bytes.data() + bytes.size(), written) ==
               std::codecvt_base::ok &&
           converted == end;
}

// Closes the file whatever state its stream is in: a stream left holding
// text it could not convert throws when it is closed, and closes the file
// all the same.
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
    // A stream that failed stays failed: close the file, and the next call
    // opens it again and appends.
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
        // A record the file cannot carry is dropped whole; the debugger
        // output has it.
        if (FileCanCarry(text.data())) WriteRecord(text.data());
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
