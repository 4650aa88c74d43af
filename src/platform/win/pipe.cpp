// Named pipes and overlapped transfers.
#include <new>

#include "platform/win/internal.h"

namespace PevraNUV::platform {

using win::Wide;

bool WaitForPipe(const std::u16string& path, std::uint32_t milliseconds) {
    return ::WaitNamedPipeW(Wide(path), milliseconds) != FALSE;
}

Handle OpenPipe(const std::u16string& path, PipeAccess access) {
    DWORD rights = access == PipeAccess::ReadOnly ? (GENERIC_READ | FILE_WRITE_ATTRIBUTES)
                                                   : (GENERIC_READ | GENERIC_WRITE);
    HANDLE pipe = ::CreateFileW(Wide(path), rights, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return pipe;  // INVALID_HANDLE_VALUE on failure
}

bool SetMessageReadMode(Handle pipe) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    return ::SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) != FALSE;
}

namespace {

// The completion record, and the outcome of an operation that failed as it
// was issued: Windows signals no event for it, so the transfer does.
struct Record {
    OVERLAPPED overlapped;
    bool failedAtOnce;
    DWORD error;
};

Record& RecordOf(unsigned char* storage) { return *reinterpret_cast<Record*>(storage); }

// Issues one operation. A failure other than "pending" (or "more data",
// which completes the read) is turned into a completion with that error.
template <typename Issue>
void Start(unsigned char* storage, Handle event, Issue issue) {
    Record& record = RecordOf(storage);
    record = Record{};
    record.overlapped.hEvent = event;
    if (issue(&record.overlapped)) return;
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING || error == ERROR_MORE_DATA) return;
    record.failedAtOnce = true;
    record.error = error;
    ::SetEvent(event);
}

}  // namespace

Transfer::Transfer(Handle pipe, Handle event) : m_pipe(pipe), m_event(event) {
    static_assert(sizeof(Record) <= sizeof m_record, "record too small");
    new (m_record) Record{};
}

Transfer::~Transfer() { Cancel(); }

void Transfer::StartRead(void* buffer, std::uint32_t bytes) {
    m_pending = true;
    Start(m_record, m_event, [&](OVERLAPPED* overlapped) {
        return ::ReadFile(m_pipe, buffer, bytes, nullptr, overlapped) != FALSE;
    });
}

void Transfer::StartWrite(const void* data, std::uint32_t bytes) {
    m_pending = true;
    Start(m_record, m_event, [&](OVERLAPPED* overlapped) {
        return ::WriteFile(m_pipe, data, bytes, nullptr, overlapped) != FALSE;
    });
}

WaitResult Transfer::Await(std::uint32_t milliseconds) { return WaitForOne(m_event, milliseconds); }

IoResult Transfer::Fetch() {
    IoResult result;
    Record& record = RecordOf(m_record);
    if (record.failedAtOnce) {
        m_pending = false;
        result.complete = true;
        result.error = record.error;
        return result;
    }
    DWORD bytes = 0;
    BOOL ok = ::GetOverlappedResult(m_pipe, &record.overlapped, &bytes, FALSE);
    DWORD error = ok ? 0 : ::GetLastError();
    if (!ok && error == ERROR_IO_INCOMPLETE) return result;
    m_pending = false;
    result.complete = true;
    result.ok = ok != FALSE;
    result.bytes = bytes;
    result.error = error;
    return result;
}

void Transfer::Cancel() {
    if (!m_pending) return;
    m_pending = false;
    Record& record = RecordOf(m_record);
    if (record.failedAtOnce) return;  // nothing is in flight
    // Cancel, then wait for the completion: only then may the buffer and
    // this record be released.
    ::CancelIoEx(m_pipe, &record.overlapped);
    DWORD bytes = 0;
    ::GetOverlappedResult(m_pipe, &record.overlapped, &bytes, TRUE);
}

}  // namespace PevraNUV::platform
