// Threads, process and session ids, local time, debugger output.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cwchar>
#include <new>
#include <string>

#include "platform/platform.h"

namespace PevraNUV::platform {

namespace {

struct ThreadStart {
    ThreadRoutine routine;
    void* parameter;
};

void* RunThread(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.routine(start.parameter);
    return nullptr;
}

}  // namespace

// The handle of a thread is its pthread_t, on the heap.
bool Thread::Start(ThreadRoutine routine, void* parameter) {
    if (Started()) return false;
    auto* start = new (std::nothrow) ThreadStart{routine, parameter};
    auto* thread = new (std::nothrow) pthread_t;
    if (start && thread && ::pthread_create(thread, nullptr, RunThread, start) == 0) {
        m_thread = thread;
        return true;
    }
    delete start;
    delete thread;
    return false;
}

void Thread::Join() {
    if (!Started()) return;
    auto* thread = static_cast<pthread_t*>(m_thread);
    ::pthread_join(*thread, nullptr);
    delete thread;
    m_thread = kInvalidHandle;
}

bool QuerySessionId(std::uint32_t& sessionId) {
    pid_t session = ::getsid(0);
    if (session < 0) return false;
    sessionId = static_cast<std::uint32_t>(session);
    return true;
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

LocalTime CurrentLocalTime() {
    timeval now;
    ::gettimeofday(&now, nullptr);
    tm parts{};
    time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &parts);
    return {parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(now.tv_usec / 1000)};
}

void WriteDebugOutput(const wchar_t* text) {
    // Standard error takes the text as UTF-8, one write per message.
    std::string bytes;
    for (const wchar_t* unit = text; *unit; ++unit) {
        auto code = static_cast<std::uint32_t>(*unit);
        if (code < 0x80) {
            bytes += static_cast<char>(code);
        } else if (code < 0x800) {
            bytes += static_cast<char>(0xC0 | (code >> 6));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes += static_cast<char>(0xE0 | (code >> 12));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (code >> 18));
            bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    ssize_t ignored = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    (void)ignored;
}

std::wstring LibraryFolder() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path.resize(slash + 1);
    return std::wstring(path.begin(), path.end());
}

std::wstring UserTempFolder() { return {}; }

bool AppendToFile(const std::wstring& path, const std::string& bytes) {
    // LibraryFolder() widened the path byte by byte; narrow it the same way.
    std::string narrow(path.begin(), path.end());
    const int fd = ::open(narrow.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return written;
}

}  // namespace PevraNUV::platform
