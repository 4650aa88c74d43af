// Objects behind the POSIX layer's handles.
#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace PevraNUV::platform::posix {

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
    explicit EventObject(int fd) : Object(Kind::Event), fd(fd) {}
    ~EventObject() override;
    const int fd;
    std::atomic<bool> signalled{false};
    std::atomic<int> sleepers{0};       // threads that may be blocked in poll on fd
    std::atomic<bool> wakeupPending{false};  // fd was written and not yet drained
    Transfer* armedBy = nullptr;        // touched only by the thread that owns the transfer
};

// One end of a pipe: a connected SOCK_SEQPACKET socket. A record read from
// it is kept whole and handed out in pieces of the reader's size.
class PipeObject : public Object {
public:
    PipeObject(int fd, bool readsAtOnce) : Object(Kind::Pipe), fd(fd), readsAtOnce(readsAtOnce) {}
    ~PipeObject() override;
    int fd;
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
