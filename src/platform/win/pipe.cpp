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

OVERLAPPED& Record(unsigned char* storage) { return *reinterpret_cast<OVERLAPPED*>(storage); }

}  // namespace

Transfer::Transfer(Handle pipe, Handle event) : m_pipe(pipe), m_event(event) {
    static_assert(sizeof(OVERLAPPED) <= sizeof m_record, "record too small");
    new (m_record) OVERLAPPED{};
}

Transfer::~Transfer() { Cancel(); }

void Transfer::StartRead(void* buffer, std::uint32_t bytes) {
    OVERLAPPED& record = Record(m_record);
    record = OVERLAPPED{};
    record.hEvent = m_event;
    m_pending = true;
    ::ReadFile(m_pipe, buffer, bytes, nullptr, &record);
}

void Transfer::StartWrite(const void* data, std::uint32_t bytes) {
    OVERLAPPED& record = Record(m_record);
    record = OVERLAPPED{};
    record.hEvent = m_event;
    m_pending = true;
    ::WriteFile(m_pipe, data, bytes, nullptr, &record);
}

IoResult Transfer::Fetch() {
    IoResult result;
    DWORD bytes = 0;
    BOOL ok = ::GetOverlappedResult(m_pipe, &Record(m_record), &bytes, FALSE);
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
    // Cancel, then wait for the completion: only then may the buffer and
    // this record be released.
    ::CancelIoEx(m_pipe, &Record(m_record));
    DWORD bytes = 0;
    ::GetOverlappedResult(m_pipe, &Record(m_record), &bytes, TRUE);
    m_pending = false;
}

}  // namespace PevraNUV::platform
