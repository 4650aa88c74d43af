// Events and waits.
#include "platform/win/internal.h"

namespace PevraNUV::platform {

static_assert(sizeof(Handle) == sizeof(HANDLE), "a handle is a HANDLE");

void CloseHandle(Handle handle) {
    if (handle != kInvalidHandle && handle != nullptr) ::CloseHandle(handle);
}

Handle CreateManualResetEvent() {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event ? event : kInvalidHandle;
}

bool SetEvent(Handle event) { return event != kInvalidHandle && ::SetEvent(event); }

bool ResetEvent(Handle event) { return event != kInvalidHandle && ::ResetEvent(event); }

WaitResult WaitForOne(Handle object, std::uint32_t milliseconds) {
    switch (::WaitForSingleObject(object, milliseconds)) {
    case WAIT_OBJECT_0: return WaitResult::Signalled;
    case WAIT_TIMEOUT: return WaitResult::TimedOut;
    default: return WaitResult::Failed;
    }
}

int WaitForAny(const Handle* objects, std::size_t count, std::uint32_t milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
    DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(count), objects, FALSE, milliseconds);
    if (result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0);
    return result == WAIT_TIMEOUT ? kWaitTimedOut : kWaitFailed;
}

}  // namespace PevraNUV::platform
