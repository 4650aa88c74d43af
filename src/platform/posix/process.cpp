// Threads, process and session ids, local time, debugger output.
#include <dirent.h>
#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
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

bool StartDetachedThread(ThreadRoutine routine, void* parameter) {
    auto* start = new (std::nothrow) ThreadStart{routine, parameter};
    if (!start) return false;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int error = pthread_create(&thread, &attributes, RunThread, start);
    pthread_attr_destroy(&attributes);
    if (error != 0) delete start;
    return error == 0;
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

void OpenForAppend(std::wofstream& stream, const std::wstring& path) {
    // LibraryFolder() widened the path byte by byte; narrow it the same way.
    std::string bytes;
    for (wchar_t unit : path) bytes += static_cast<char>(unit);
    stream.open(bytes, std::ios::out | std::ios::app | std::ios::binary);
}

namespace {

int CountEntries(const char* folderPath) {
    DIR* folder = ::opendir(folderPath);
    if (!folder) return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(folder))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(folder);
    return count;
}

}  // namespace

int OpenHandleCount() {
    return CountEntries("/proc/self/fd") - 1;  // less the descriptor of the listing itself
}

int ThreadCount() { return CountEntries("/proc/self/task"); }

CriticalSection::CriticalSection() {
    static_assert(sizeof(pthread_mutex_t) <= sizeof m_storage, "storage too small");
    new (m_storage) pthread_mutex_t(PTHREAD_MUTEX_INITIALIZER);
}

CriticalSection::~CriticalSection() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(m_storage)); }

void CriticalSection::Enter() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(m_storage)); }

void CriticalSection::Leave() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(m_storage)); }

}  // namespace PevraNUV::platform
