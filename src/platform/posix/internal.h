// Objects behind the POSIX layer's handles.
#pragma once

#include <poll.h>

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace PevraNUV::platform::posix {

class Object {
public:
    virtual ~Object() = default;
};

// A manual-reset event: an eventfd that stays readable while signalled.
// A transfer may arm it: a wait on the event then also watches the
// transfer's pipe and completes the transfer when the pipe is ready, which
// is what the kernel does for an overlapped transfer on Windows.
class EventObject : public Object {
public:
    explicit EventObject(int fd) : fd(fd) {}
    ~EventObject() override;
    int fd;
    Transfer* armedBy = nullptr;
};

// One end of a pipe: a connected SOCK_SEQPACKET socket. A record read from
// it is kept whole and handed out in pieces of the reader's size.
class PipeObject : public Object {
public:
    explicit PipeObject(int fd) : fd(fd) {}
    ~PipeObject() override;
    int fd;
    std::vector<unsigned char> record;  // the message being handed out
    std::size_t offset = 0;             // how much of it was handed out
    bool HasPieces() const { return offset < record.size(); }
};

EventObject* AsEvent(Handle handle);
PipeObject* AsPipe(Handle handle);

// Completes the transfer that armed event if its pipe is ready now; returns
// true when it did (the event is then signalled).
bool PollArmedTransfer(EventObject& event);
// Adds the poll entry that tells when the armed transfer's pipe is ready.
void AddArmedPollEntry(const EventObject& event, std::vector<pollfd>& entries);

}  // namespace PevraNUV::platform::posix
