// Manual-reset events and waits over eventfd and poll.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/posix/internal.h"

namespace PevraNUV::platform {
namespace posix {

EventObject* AsEvent(Handle handle) {
    if (handle == kInvalidHandle || handle == nullptr) return nullptr;
    auto* object = static_cast<Object*>(handle);
    return object->kind == Object::Kind::Event ? static_cast<EventObject*>(object) : nullptr;
}

PipeObject* AsPipe(Handle handle) {
    if (handle == kInvalidHandle || handle == nullptr) return nullptr;
    auto* object = static_cast<Object*>(handle);
    return object->kind == Object::Kind::Pipe ? static_cast<PipeObject*>(object) : nullptr;
}

namespace {

void DrainWakeup(EventObject& event) {
    event.wakeupPending = false;
    std::uint64_t count;
    while (::read(event.fd.get(), &count, sizeof count) == sizeof count) {
    }
}

// The first signalled object in array order, or -1.
int FirstSignalled(EventObject* const* events, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (events[i]->signalled.load()) return static_cast<int>(i);
    return -1;
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
    posix::UniqueFd fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!fd) return kInvalidHandle;
    return static_cast<posix::Object*>(new EventObject(std::move(fd)));
}

bool SetEvent(Handle handle) {
    EventObject* event = AsEvent(handle);
    if (!event) return false;
    // Wake a sleeper only on the step from reset to signalled. A waiter
    // counts itself a sleeper before it tests the flag a last time, so
    // either it sees the flag or this sees it (both sequentially consistent).
    if (!event->signalled.exchange(true) && event->sleepers.load() > 0 && !event->wakeupPending.exchange(true)) {
        const std::uint64_t one = 1;
        ssize_t ignored = ::write(event->fd.get(), &one, sizeof one);
        (void)ignored;
    }
    return true;
}

bool ResetEvent(Handle handle) {
    EventObject* event = AsEvent(handle);
    if (!event) return false;
    // A wake-up still in the eventfd only makes a later poll return early;
    // the waiter drains it then.
    event->signalled = false;
    return true;
}

WaitResult WaitForOne(Handle object, std::uint32_t milliseconds) {
    int index = WaitForAny(&object, 1, milliseconds);
    if (index == 0) return WaitResult::Signalled;
    return index == kWaitTimedOut ? WaitResult::TimedOut : WaitResult::Failed;
}

int WaitForAny(const Handle* objects, std::size_t count, std::uint32_t milliseconds) {
    constexpr std::size_t kMaxObjects = 8;
    if (count == 0 || count > kMaxObjects) return kWaitFailed;
    EventObject* events[kMaxObjects];
    for (std::size_t i = 0; i < count; ++i) {
        events[i] = AsEvent(objects[i]);
        if (!events[i]) return kWaitFailed;
    }
    // Earlier objects win, as with WaitForMultipleObjects.
    int index = posix::FirstSignalled(events, count);
    if (index >= 0 || milliseconds == 0) return index >= 0 ? index : kWaitTimedOut;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    pollfd entries[2 * kMaxObjects];
    for (;;) {
        // Count ourselves sleepers, then test once more before sleeping.
        for (std::size_t i = 0; i < count; ++i) ++events[i]->sleepers;
        index = posix::FirstSignalled(events, count);
        int ready = 0;
        std::size_t used = 0;
        if (index < 0) {
            for (std::size_t i = 0; i < count; ++i) {
                entries[used++] = {events[i]->fd.get(), POLLIN, 0};
                if (events[i]->armedBy) posix::AddArmedPollEntry(*events[i], entries[used++]);
            }
            int timeout = -1;
            if (milliseconds != kInfinite) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                timeout = left < 0 ? 0 : static_cast<int>(left);
            }
            ready = ::poll(entries, used, timeout);
        }
        for (std::size_t i = 0; i < count; ++i) --events[i]->sleepers;
        if (index >= 0) return index;
        if (ready < 0 && errno != EINTR) return kWaitFailed;
        // Wake-ups are drained; a pipe that is ready completes its transfer,
        // which signals the transfer's event.
        for (std::size_t i = 0, entry = 0; i < count; ++i) {
            if (entries[entry++].revents) posix::DrainWakeup(*events[i]);
            if (events[i]->armedBy && entries[entry++].revents) posix::PollArmedTransfer(*events[i]);
        }
        index = posix::FirstSignalled(events, count);
        if (index >= 0) return index;
        if (ready == 0 && milliseconds != kInfinite && Clock::now() >= deadline) return kWaitTimedOut;
    }
}

}  // namespace PevraNUV::platform
