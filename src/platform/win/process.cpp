// Threads, process and session ids, local time, debugger output.
#include <fstream>
#include <new>

#include "platform/win/internal.h"

#include <tlhelp32.h>

namespace PevraNUV::platform {

namespace {

struct ThreadStart {
    ThreadRoutine routine;
    void* parameter;
};

DWORD WINAPI RunThread(LPVOID raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    return start.routine(start.parameter);
}

}  // namespace

bool StartDetachedThread(ThreadRoutine routine, void* parameter) {
    auto* start = new (std::nothrow) ThreadStart{routine, parameter};
    if (!start) return false;
    HANDLE thread = ::CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
    if (!thread) {
        delete start;
        return false;
    }
    ::CloseHandle(thread);
    return true;
}

bool QuerySessionId(std::uint32_t& sessionId) {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return false;
    sessionId = session;
    return true;
}

std::uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

std::uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

LocalTime CurrentLocalTime() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void WriteDebugOutput(const wchar_t* text) { ::OutputDebugStringW(text); }

std::wstring LibraryFolder() {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(&LibraryFolder), &module))
        return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = ::GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    path.resize(slash + 1);
    return path;
}

void OpenForAppend(std::wofstream& stream, const std::wstring& path) {
    stream.open(path.c_str(), std::ios::out | std::ios::app | std::ios::binary);
}

int OpenHandleCount() {
    DWORD count = 0;
    return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

int ThreadCount() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
    ::CloseHandle(snapshot);
    return count;
}

CriticalSection::CriticalSection() {
    static_assert(sizeof(CRITICAL_SECTION) <= sizeof m_storage, "storage too small");
    ::InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(m_storage));
}

CriticalSection::~CriticalSection() { ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(m_storage)); }

void CriticalSection::Enter() { ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(m_storage)); }

void CriticalSection::Leave() { ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(m_storage)); }

}  // namespace PevraNUV::platform
