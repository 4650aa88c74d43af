// Objects behind the POSIX layer's handles.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace PevraNUV::platform::posix {

// Owns one file descriptor and closes it when it goes out of scope: the
// POSIX counterpart of UniqueHandle, with the same operations. A moved-from
// owner holds -1.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1) {
        const int old = m_fd;
        m_fd = fd;
        if (old >= 0) ::close(old);
    }

private:
    int m_fd = -1;
};

class Object {
public:
    enum class Kind { Event, Pipe };
    explicit Object(Kind kind) : kind(kind) {}
    virtual ~Object() = default;
    const Kind kind;
};

// A manual-reset event. Its state is the flag; the eventfd only wakes a
// thread blocked in poll, and is written only when one may be, so that
// setting, resetting and testing an event cost no system call otherwise.
// A transfer may arm it: a wait on the event then also watches the
// transfer's pipe and completes the transfer when the pipe is ready, which
// is what the kernel does for an overlapped transfer on Windows.
class EventObject : public Object {
public:
    explicit EventObject(UniqueFd fd) : Object(Kind::Event), fd(std::move(fd)) {}
    const UniqueFd fd;
    std::atomic<bool> signalled{false};
    std::atomic<int> sleepers{0};       // threads that may be blocked in poll on fd
    std::atomic<bool> wakeupPending{false};  // fd was written and not yet drained
    Transfer* armedBy = nullptr;        // touched only by the thread that owns the transfer
};

// One end of a pipe: a connected SOCK_SEQPACKET socket. A record read from
// it is kept whole and handed out in pieces of the reader's size.
class PipeObject : public Object {
public:
    PipeObject(UniqueFd fd, bool readsAtOnce) : Object(Kind::Pipe), fd(std::move(fd)), readsAtOnce(readsAtOnce) {}
    const UniqueFd fd;
    // Whether a new read tries the socket at once: on the send-only pipe
    // values are often queued already; on the request pipe a read follows
    // our own write, and its reply cannot be there yet, so a try would only
    // cost a system call.
    const bool readsAtOnce;
    std::vector<unsigned char> record;  // the message being handed out
    std::size_t offset = 0;             // how much of it was handed out
    std::uint32_t receiveTimeoutMs = kInfinite;  // SO_RCVTIMEO as last set (none)
    bool HasPieces() const { return offset < record.size(); }
};

EventObject* AsEvent(Handle handle);
PipeObject* AsPipe(Handle handle);

// Completes the transfer that armed event if its pipe is ready now; returns
// true when it did (the event is then signalled).
bool PollArmedTransfer(EventObject& event);
// The poll entry that tells when the armed transfer's pipe is ready.
void AddArmedPollEntry(const EventObject& event, pollfd& entry);

}  // namespace PevraNUV::platform::posix
