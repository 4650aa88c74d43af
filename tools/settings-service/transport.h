// The two pipes of a session, served to many clients: message-mode named
// pipes on Windows, SOCK_SEQPACKET sockets under /tmp/pevra-<uid>/ on POSIX.
// One implementation per platform (posix/transport.cpp, win/transport.cpp).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace settings_service {

using ConnectionId = std::uint64_t;

enum class Pipe { Request, SendOnly };

struct TransportEvent {
    enum class Type {
        None,      // the wait ran out or was interrupted
        Woken,     // Wake was called
        Accepted,  // a client connected to `pipe`
        Received,  // a whole message arrived on `connection`
        Closed,    // the client went away
    };
    Type type = Type::None;
    ConnectionId connection = 0;
    Pipe pipe = Pipe::Request;
    std::uint32_t peerProcess = 0;  // Accepted: the client's process id, 0 if unknown
    std::string bytes;              // Received: the message as it travelled
};

class Transport {
public:
    virtual ~Transport() = default;

    // Creates both pipes of `session` (or one of them alone, for tests) and
    // listens; the send-only pipe comes last, so a client that finds it
    // finds both. An error text or empty.
    virtual std::string Listen(const std::string& session, bool withRequestPipe, bool withSendOnlyPipe) = 0;

    // The next event, waiting at most `timeoutMs` (negative: no limit).
    virtual TransportEvent Wait(int timeoutMs) = 0;

    // Queues one message; messages to one connection leave in order. A
    // message to a connection that is gone is dropped.
    virtual void Send(ConnectionId connection, std::string bytes) = 0;

    // Closes a connection once its queued messages are written; no Closed
    // event follows.
    virtual void Close(ConnectionId connection) = 0;

    // Waits at most `timeoutMs` for every queued message to be written.
    virtual void Flush(int timeoutMs) = 0;

    // Ends a Wait early. Safe from any thread, and on POSIX from a signal
    // handler.
    virtual void Wake() = 0;
};

// What both platforms share: events gathered from the system are handed out
// one at a time.
class QueuedTransport : public Transport {
public:
    TransportEvent Wait(int timeoutMs) final;

protected:
    // Waits at most `timeoutMs` (negative: no limit) for the system and
    // appends what happened to m_events; may append nothing.
    virtual void Gather(int timeoutMs) = 0;

    std::deque<TransportEvent> m_events;
};

std::unique_ptr<Transport> MakeTransport();

// Makes a request to stop (SIGINT and SIGTERM on POSIX, Ctrl-C and console
// close on Windows) set StopRequested and wake the transport's wait.
void CatchStopRequests();
bool StopRequested();

// This process's session: getsid(0) on POSIX, ProcessIdToSessionId on
// Windows; "0" when it cannot be found.
std::string CurrentSession();

}  // namespace settings_service
