// The operating-system services the library uses, behind one interface.
//
// The interface is shaped like Win32 (handles, manual-reset events,
// overlapped transfers) on every platform: the Linux build exists so that
// the very same client logic, byte for byte and event for event, runs under
// the fast native tools (sanitizers, fuzzers, valgrind).
//
// The Windows implementation (platform/win) calls the Win32 functions of the
// same names; the POSIX implementation (platform/posix) follows the POSIX
// transport contract: Unix sequenced-packet sockets for the pipes and
// eventfds for the events. Nothing outside src/platform includes a system
// header of either platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace PevraNUV::platform {

// An event or a pipe end. On Windows a HANDLE; on POSIX a pointer to an
// object of the POSIX layer. kInvalidHandle marks a handle that is not open
// (INVALID_HANDLE_VALUE on Windows).
using Handle = void*;
inline Handle const kInvalidHandle = reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));

constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
constexpr std::uint32_t kErrorMoreData = 234;  // ERROR_MORE_DATA: the message goes on

// Whether a transfer's error says that the other end of the pipe has gone:
// ERROR_BROKEN_PIPE (109; the POSIX layer's one error for a closed peer),
// ERROR_NO_DATA (232, a pipe being closed), ERROR_PIPE_NOT_CONNECTED (233).
constexpr bool IsBrokenPipe(std::uint32_t error) { return error == 109 || error == 232 || error == 233; }

void CloseHandle(Handle handle);

// Owns one handle and closes it when it goes out of scope. A moved-from
// owner holds kInvalidHandle.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : m_handle(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const { return m_handle; }
    explicit operator bool() const { return m_handle != kInvalidHandle; }
    Handle release() {
        Handle handle = m_handle;
        m_handle = kInvalidHandle;
        return handle;
    }
    void reset(Handle handle = kInvalidHandle) {
        Handle old = m_handle;
        m_handle = handle;
        if (old != kInvalidHandle) CloseHandle(old);
    }

private:
    Handle m_handle = kInvalidHandle;
};

// ---- Events and waits --------------------------------------------------

// Manual-reset events. Any thread may set or reset one; one thread at a time
// waits on it (WaitForOne, WaitForAny, a Transfer's Await): the POSIX layer
// wakes a sleeping waiter through a descriptor that the woken thread drains,
// so a second thread asleep on the same event could sleep on. The client's
// events all have one waiter, the sync thread.
//
// An unnamed manual-reset event, not signalled; kInvalidHandle on failure.
Handle CreateManualResetEvent();
bool SetEvent(Handle event);    // false when the handle is not an open event
bool ResetEvent(Handle event);

enum class WaitResult { Signalled, TimedOut, Failed };
WaitResult WaitForOne(Handle object, std::uint32_t milliseconds);

// Waits until any of count objects is signalled. Returns the index of the
// first signalled object in array order (earlier objects win), or one of:
constexpr int kWaitTimedOut = -1;
constexpr int kWaitFailed = -2;
int WaitForAny(const Handle* objects, std::size_t count, std::uint32_t milliseconds);

// ---- Pipes -------------------------------------------------------------

// Which end of the service's two pipes to open: the send-only pipe is read
// (with the right to set its attributes), the request pipe read and written.
enum class PipeAccess { ReadOnly, ReadWrite };

// Waits until an instance of the pipe is free. Fails at once when no pipe of
// that name exists, whatever the time-out.
bool WaitForPipe(const std::u16string& path, std::uint32_t milliseconds);
// Opens an existing pipe for overlapped I/O; kInvalidHandle on failure.
Handle OpenPipe(const std::u16string& path, PipeAccess access);
bool SetMessageReadMode(Handle pipe);
// Whether one process serves both pipes and may hold the caller's settings
// (the rule is in platform/trust.h), asked before the first byte is
// written. Windows asks the pipes for their server process, and that
// process for its user and session. POSIX answers true: its OpenPipe has
// refused a socket folder the user does not own and a peer of another user.
bool PipeServersTrusted(Handle sendOnlyPipe, Handle requestPipe);

struct IoResult {
    bool complete = false;   // false: still pending
    bool ok = false;         // completed without error (more data counts as an error)
    std::uint32_t bytes = 0; // bytes transferred
    std::uint32_t error = 0; // the platform's error code when !ok (kErrorMoreData, ...)
};

// One overlapped read or write on a pipe, completing on a manual-reset
// event: the completion record of the Win32 model. The buffer must outlive
// the transfer; a transfer still pending when the object is destroyed is
// cancelled and its completion awaited first, so it can never complete into
// freed memory.
class Transfer {
public:
    Transfer(Handle pipe, Handle event);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Issue the operation. Its own result is not examined: the completion
    // is seen through the event and fetched with Fetch().
    void StartRead(void* buffer, std::uint32_t bytes);
    void StartWrite(const void* data, std::uint32_t bytes);
    // Waits up to milliseconds for the operation to complete: Signalled when
    // it has (its event is then set), as WaitForOne on the event would be.
    // For an event that only this transfer sets: on POSIX a read sleeps in
    // the receive itself, so a SetEvent from elsewhere does not end it.
    WaitResult Await(std::uint32_t milliseconds);
    // The operation's result, without waiting.
    IoResult Fetch();
    // Cancels a pending operation and waits until it has completed.
    void Cancel();

private:
    friend class TransferDriver;  // the POSIX layer's completion of armed transfers
    Handle m_pipe;
    Handle m_event;
    bool m_pending = false;
    alignas(8) unsigned char m_record[64];  // the platform's completion record
};

// ---- Threads, ids, time, debugger output --------------------------------

using ThreadRoutine = std::uint32_t (*)(void* parameter);

// A thread with an owner: Join, or the destructor, waits until the routine
// has returned, so nothing the thread uses may go before it has ended.
class Thread {
public:
    Thread() = default;
    ~Thread() { Join(); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Runs routine(parameter) on a new thread; false when it could not start
    // or this owner still holds one.
    bool Start(ThreadRoutine routine, void* parameter);
    // Waits for the routine to return; at once when no thread was started.
    // Never call it on the thread itself.
    void Join();
    bool Started() const { return m_thread != kInvalidHandle; }

private:
    Handle m_thread = kInvalidHandle;
};

// The session id of the current process (ProcessIdToSessionId; getsid(0)).
bool QuerySessionId(std::uint32_t& sessionId);
std::uint32_t CurrentProcessId();
std::uint32_t CurrentThreadId();

struct LocalTime {
    int hour, minute, second, millisecond;
};
LocalTime CurrentLocalTime();

// Debugger output: OutputDebugStringW on Windows, standard error elsewhere.
void WriteDebugOutput(const wchar_t* text);

// Folder of the file this library was loaded from, with a trailing
// separator; empty when unknown.
std::wstring LibraryFolder();
// The user's own temporary folder (GetTempPathW), with a trailing
// separator; empty outside Windows, where /tmp is shared by all users.
std::wstring UserTempFolder();
// Appends bytes to the file at path, creating it, shared with other
// processes that append to it; false when it cannot be opened or written.
bool AppendToFile(const std::wstring& path, const std::string& bytes);

}  // namespace PevraNUV::platform
