// Manual-reset events and waits over eventfd and poll.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/posix/internal.h"

namespace PevraNUV::platform {
namespace posix {

EventObject::~EventObject() { ::close(fd); }

EventObject* AsEvent(Handle handle) {
    if (handle == kInvalidHandle || handle == nullptr) return nullptr;
    return dynamic_cast<EventObject*>(static_cast<Object*>(handle));
}

PipeObject* AsPipe(Handle handle) {
    if (handle == kInvalidHandle || handle == nullptr) return nullptr;
    return dynamic_cast<PipeObject*>(static_cast<Object*>(handle));
}

namespace {

bool IsSignalled(const EventObject& event) {
    pollfd entry{event.fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN);
}

}  // namespace
}  // namespace posix

using posix::AsEvent;
using posix::EventObject;

void CloseHandle(Handle handle) {
    if (handle == kInvalidHandle || handle == nullptr) return;
    delete static_cast<posix::Object*>(handle);
}

Handle CreateManualResetEvent() {
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return kInvalidHandle;
    return static_cast<posix::Object*>(new EventObject(fd));
}

bool SetEvent(Handle handle) {
    EventObject* event = AsEvent(handle);
    if (!event) return false;
    const std::uint64_t one = 1;
    // A full counter (EAGAIN) is still signalled.
    return ::write(event->fd, &one, sizeof one) == sizeof one || errno == EAGAIN;
}

bool ResetEvent(Handle handle) {
    EventObject* event = AsEvent(handle);
    if (!event) return false;
    std::uint64_t count;
    while (::read(event->fd, &count, sizeof count) == sizeof count) {
    }
    return errno == EAGAIN;
}

WaitResult WaitForOne(Handle object, std::uint32_t milliseconds) {
    int index = WaitForAny(&object, 1, milliseconds);
    if (index == 0) return WaitResult::Signalled;
    return index == kWaitTimedOut ? WaitResult::TimedOut : WaitResult::Failed;
}

int WaitForAny(const Handle* objects, std::size_t count, std::uint32_t milliseconds) {
    std::vector<EventObject*> events(count);
    for (std::size_t i = 0; i < count; ++i) {
        events[i] = AsEvent(objects[i]);
        if (!events[i]) return kWaitFailed;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::vector<pollfd> entries;
    for (;;) {
        // Earlier objects win, as with WaitForMultipleObjects. An event armed
        // by a transfer is signalled once its pipe is ready.
        for (std::size_t i = 0; i < count; ++i) {
            if (posix::IsSignalled(*events[i])) return static_cast<int>(i);
            if (events[i]->armedBy && posix::PollArmedTransfer(*events[i])) return static_cast<int>(i);
        }
        entries.clear();
        for (EventObject* event : events) {
            entries.push_back({event->fd, POLLIN, 0});
            if (event->armedBy) posix::AddArmedPollEntry(*event, entries);
        }
        int timeout = -1;
        if (milliseconds != kInfinite) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left < 0) left = 0;
            timeout = static_cast<int>(left);
        }
        int ready = ::poll(entries.data(), entries.size(), timeout);
        if (ready < 0 && errno != EINTR) return kWaitFailed;
        if (ready == 0) {
            // One last look: an object signalled right at the deadline counts.
            for (std::size_t i = 0; i < count; ++i)
                if (posix::IsSignalled(*events[i])) return static_cast<int>(i);
            return kWaitTimedOut;
        }
    }
}

void Sleep(std::uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

}  // namespace PevraNUV::platform
