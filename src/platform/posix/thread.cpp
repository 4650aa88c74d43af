// Threads with an owner that joins them, over pthreads.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <new>

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

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

}  // namespace PevraNUV::platform
