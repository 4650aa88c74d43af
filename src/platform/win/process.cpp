// Threads, process and session ids, local time, debugger output.
#include <new>

#include "platform/win/internal.h"

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

bool Thread::Start(ThreadRoutine routine, void* parameter) {
    if (Started()) return false;
    auto* start = new (std::nothrow) ThreadStart{routine, parameter};
    if (!start) return false;
    HANDLE thread = ::CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
    if (!thread) {
        delete start;
        return false;
    }
    m_thread = thread;
    return true;
}

void Thread::Join() {
    if (!Started()) return;
    ::WaitForSingleObject(m_thread, INFINITE);
    ::CloseHandle(m_thread);
    m_thread = kInvalidHandle;
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

std::wstring UserTempFolder() {
    wchar_t path[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, path);
    return length > 0 && length <= MAX_PATH ? std::wstring(path, length) : std::wstring();
}

bool AppendToFile(const std::wstring& path, const std::string& bytes) {
    UniqueHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

}  // namespace PevraNUV::platform
