// Threads with an owner that joins them.
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

std::uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

}  // namespace PevraNUV::platform
