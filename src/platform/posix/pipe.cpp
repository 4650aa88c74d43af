// The service's pipes over Unix sequenced-packet sockets, as the POSIX
// transport contract lays down: \\.\pipe\NAME is /tmp/pevra-<uid>/NAME, one
// pipe message is one socket record, and a record is read whole and handed
// out in pieces with the Windows "more data" behaviour.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "platform/posix/internal.h"

namespace PevraNUV::platform {
namespace posix {

namespace {

constexpr std::uint32_t kErrorBrokenPipe = 109;  // ERROR_BROKEN_PIPE
constexpr std::uint32_t kErrorOperationAborted = 995;

std::string SocketDirectory() { return "/tmp/pevra-" + std::to_string(::getuid()); }

// Maps \\.\pipe\NAME to the socket path; false for any other form.
bool SocketPath(const std::u16string& pipePath, sockaddr_un& address) {
    static const std::u16string prefix = u"\\\\.\\pipe\\";
    if (pipePath.compare(0, prefix.size(), prefix) != 0) return false;
    std::string path = SocketDirectory() + "/";
    for (std::size_t i = prefix.size(); i < pipePath.size(); ++i) {
        char16_t unit = pipePath[i];
        if (unit == 0 || unit > 0x7E || unit == u'/') return false;
        path += static_cast<char>(unit);
    }
    if (path.size() >= sizeof address.sun_path) return false;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The directory must be a real directory of ours with no group or other bits.
bool DirectoryIsTrusted() {
    struct stat info;
    if (::lstat(SocketDirectory().c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

// Connects without blocking: a Unix socket connects at once or fails, and
// with a full listen queue (a frozen service) it fails with EAGAIN instead
// of waiting, as CreateFileW fails on a busy pipe. The socket blocks again
// once connected: the transfers sleep in the receive itself.
// On failure errno tells why (EAGAIN: a full listen queue).
UniqueFd ConnectTo(const sockaddr_un& address) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return fd;
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0) {
        const int error = errno;
        fd.reset();
        errno = error;  // close may have changed it
    }
    return fd;
}

bool PeerIsTrusted(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
    return peer.uid == ::getuid() || peer.uid == 0;
}

}  // namespace
}  // namespace posix

using posix::AsEvent;
using posix::AsPipe;
using posix::EventObject;
using posix::PipeObject;

bool WaitForPipe(const std::u16string& path, std::uint32_t milliseconds) {
    sockaddr_un address;
    if (!posix::SocketPath(path, address) || !posix::DirectoryIsTrusted()) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (posix::ConnectTo(address)) return true;
        // A full backlog is a busy pipe: wait for it. Anything else (no
        // such file, nobody listening) fails at once, as on Windows.
        if (errno != EAGAIN) return false;
        if (milliseconds != kInfinite && std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

Handle OpenPipe(const std::u16string& path, PipeAccess access) {
    sockaddr_un address;
    if (!posix::SocketPath(path, address) || !posix::DirectoryIsTrusted()) return kInvalidHandle;
    posix::UniqueFd fd = posix::ConnectTo(address);
    if (!fd || !posix::PeerIsTrusted(fd.get())) return kInvalidHandle;
    auto* pipe = new (std::nothrow) PipeObject(std::move(fd), access == PipeAccess::ReadOnly);
    return pipe ? static_cast<posix::Object*>(pipe) : kInvalidHandle;
}

bool SetMessageReadMode(Handle pipe) { return AsPipe(pipe) != nullptr; }

// OpenPipe has checked the folder and each peer's user already.
bool PipeServersTrusted(Handle, Handle) { return true; }

// ---- Transfers --------------------------------------------------------

namespace {

enum class Kind { None, Read, Write };

struct TransferState {
    Kind kind = Kind::None;
    unsigned char* buffer = nullptr;
    const unsigned char* data = nullptr;
    std::uint32_t size = 0;
    IoResult result;
};

}  // namespace

// Reaches the private state of a Transfer for the POSIX layer.
class TransferDriver {
public:
    static TransferState& State(Transfer& transfer) {
        static_assert(sizeof(TransferState) <= sizeof transfer.m_record, "record too small");
        return *reinterpret_cast<TransferState*>(transfer.m_record);
    }
    static Handle Pipe(const Transfer& transfer) { return transfer.m_pipe; }
    static Handle Event(const Transfer& transfer) { return transfer.m_event; }
    static void SetPending(Transfer& transfer, bool pending) { transfer.m_pending = pending; }

    static void Complete(Transfer& transfer, IoResult result) {
        State(transfer).result = result;
        State(transfer).result.complete = true;
        if (EventObject* event = AsEvent(transfer.m_event)) {
            if (event->armedBy == &transfer) event->armedBy = nullptr;
        }
        transfer.m_pending = false;
        SetEvent(transfer.m_event);
    }

    // Hands the next piece of the pipe's current record to a read.
    static void HandOutPiece(Transfer& transfer, PipeObject& pipe) {
        TransferState& state = State(transfer);
        std::size_t left = pipe.record.size() - pipe.offset;
        std::size_t piece = left < state.size ? left : state.size;
        if (piece) std::memcpy(state.buffer, pipe.record.data() + pipe.offset, piece);
        pipe.offset += piece;
        IoResult result;
        result.bytes = static_cast<std::uint32_t>(piece);
        result.ok = pipe.offset >= pipe.record.size();
        result.error = result.ok ? 0 : kErrorMoreData;
        Complete(transfer, result);
    }

    // Tries to finish an armed transfer without blocking.
    static bool TryComplete(Transfer& transfer) {
        PipeObject* pipe = AsPipe(transfer.m_pipe);
        TransferState& state = State(transfer);
        if (!pipe) {
            Complete(transfer, Failure(6));  // ERROR_INVALID_HANDLE
            return true;
        }
        if (state.kind == Kind::Write) return TrySend(transfer, *pipe);
        if (pipe->HasPieces()) {
            HandOutPiece(transfer, *pipe);
            return true;
        }
        // The record's full length first, so that it is never truncated.
        return Receive(transfer, *pipe, ::recv(pipe->fd.get(), nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT));
    }

    // Waits for a read's record in the receive itself: one system call
    // sleeps and learns the record's length, where poll and a peek would
    // take two.
    static WaitResult AwaitRecord(Transfer& transfer, PipeObject& pipe, std::uint32_t milliseconds) {
        if (!SetReceiveTimeout(pipe, milliseconds)) return WaitForOne(Event(transfer), milliseconds);
        ssize_t length;
        do {
            length = ::recv(pipe.fd.get(), nullptr, 0, MSG_PEEK | MSG_TRUNC);
        } while (length < 0 && errno == EINTR);
        if (Receive(transfer, pipe, length)) return WaitResult::Signalled;
        return WaitResult::TimedOut;  // EAGAIN: the limit passed
    }

    static IoResult Failure(std::uint32_t error) {
        IoResult result;
        result.error = error;
        return result;
    }

private:
    static bool TrySend(Transfer& transfer, PipeObject& pipe) {
        TransferState& state = State(transfer);
        ssize_t sent = ::send(pipe.fd.get(), state.data, state.size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR)) return false;
        if (sent < 0) {
            Complete(transfer, Failure(errno == EMSGSIZE ? 87u : posix::kErrorBrokenPipe));
            return true;
        }
        IoResult result;
        result.ok = true;
        result.bytes = static_cast<std::uint32_t>(sent);
        Complete(transfer, result);
        return true;
    }

    // Reads the record whose length a peek returned (or the peek's failure).
    static bool Receive(Transfer& transfer, PipeObject& pipe, ssize_t length) {
        if (length < 0) {
            if (errno == EAGAIN || errno == EINTR) return false;
            Complete(transfer, Failure(posix::kErrorBrokenPipe));
            return true;
        }
        if (length == 0 && PeerClosed(pipe.fd.get())) {
            Complete(transfer, Failure(posix::kErrorBrokenPipe));
            return true;
        }
        try {
            pipe.record.resize(static_cast<std::size_t>(length));
        } catch (const std::bad_alloc&) {
            ::recv(pipe.fd.get(), nullptr, 0, MSG_DONTWAIT);  // drop the record
            Complete(transfer, Failure(8));              // ERROR_NOT_ENOUGH_MEMORY
            return true;
        }
        ssize_t got = ::recv(pipe.fd.get(), pipe.record.data(), pipe.record.size(), MSG_DONTWAIT);
        if (got < 0) {
            pipe.record.clear();
            if (errno == EAGAIN || errno == EINTR) return false;
            Complete(transfer, Failure(posix::kErrorBrokenPipe));
            return true;
        }
        pipe.record.resize(static_cast<std::size_t>(got));
        pipe.offset = 0;
        HandOutPiece(transfer, pipe);
        return true;
    }

    // The blocking receive's time limit, set only when it changes.
    static bool SetReceiveTimeout(PipeObject& pipe, std::uint32_t milliseconds) {
        if (pipe.receiveTimeoutMs == milliseconds) return true;
        timeval limit{};
        if (milliseconds != kInfinite) {
            limit.tv_sec = milliseconds / 1000;
            limit.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
        }
        if (::setsockopt(pipe.fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return false;
        pipe.receiveTimeoutMs = milliseconds;
        return true;
    }

    // recv returns 0 both for an empty record and at the end of the stream;
    // a hang-up tells them apart.
    static bool PeerClosed(int fd) {
        pollfd entry{fd, POLLIN | POLLRDHUP, 0};
        return ::poll(&entry, 1, 0) == 1 && (entry.revents & (POLLHUP | POLLRDHUP | POLLERR));
    }
};

namespace posix {

bool PollArmedTransfer(EventObject& event) {
    return event.armedBy && TransferDriver::TryComplete(*event.armedBy);
}

void AddArmedPollEntry(const EventObject& event, pollfd& entry) {
    // A transfer on a handle that is not a pipe completes at once, so an
    // armed transfer always has one.
    PipeObject* pipe = AsPipe(TransferDriver::Pipe(*event.armedBy));
    short wanted = TransferDriver::State(*event.armedBy).kind == Kind::Write ? POLLOUT : POLLIN;
    entry = {pipe ? pipe->fd.get() : -1, wanted, 0};
}

}  // namespace posix

Transfer::Transfer(Handle pipe, Handle event) : m_pipe(pipe), m_event(event) {
    new (m_record) TransferState();
}

Transfer::~Transfer() {
    Cancel();
    TransferDriver::State(*this).~TransferState();
}

namespace {

void Arm(Transfer& transfer, bool tryAtOnce) {
    TransferDriver::SetPending(transfer, true);
    if (tryAtOnce && TransferDriver::TryComplete(transfer)) return;
    if (EventObject* event = AsEvent(TransferDriver::Event(transfer))) event->armedBy = &transfer;
}

}  // namespace

void Transfer::StartRead(void* buffer, std::uint32_t bytes) {
    TransferState& state = TransferDriver::State(*this);
    state = TransferState();
    state.kind = Kind::Read;
    state.buffer = static_cast<unsigned char*>(buffer);
    state.size = bytes;
    PipeObject* pipe = AsPipe(m_pipe);
    Arm(*this, !pipe || pipe->readsAtOnce || pipe->HasPieces());
}

void Transfer::StartWrite(const void* data, std::uint32_t bytes) {
    TransferState& state = TransferDriver::State(*this);
    state = TransferState();
    state.kind = Kind::Write;
    state.data = static_cast<const unsigned char*>(data);
    state.size = bytes;
    Arm(*this, true);
}

WaitResult Transfer::Await(std::uint32_t milliseconds) {
    // A read with pieces left, like any transfer that completed as it
    // started, is no longer pending.
    if (!m_pending) return WaitResult::Signalled;
    PipeObject* pipe = AsPipe(m_pipe);
    if (pipe && milliseconds != 0 && TransferDriver::State(*this).kind == Kind::Read)
        return TransferDriver::AwaitRecord(*this, *pipe, milliseconds);
    // A write that waits for room.
    return WaitForOne(m_event, milliseconds);
}

IoResult Transfer::Fetch() {
    if (m_pending) return IoResult{};
    return TransferDriver::State(*this).result;
}

void Transfer::Cancel() {
    if (!m_pending) return;
    if (EventObject* event = AsEvent(m_event)) {
        if (event->armedBy == this) event->armedBy = nullptr;
    }
    m_pending = false;
    TransferDriver::State(*this).result = TransferDriver::Failure(posix::kErrorOperationAborted);
    TransferDriver::State(*this).result.complete = true;
}

}  // namespace PevraNUV::platform
