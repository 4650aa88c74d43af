// The lean client plus what the library's design asks for, and nothing
// else: the pipes opened as the transport contract says (a trusted
// directory, a probe of the push pipe, the peer's credentials, a time limit
// on a reply), a second thread that makes the exchanges and receives the
// pushes, a wait on the events and the push pipe (one poll) before every
// exchange and every push read, a queue of requests under a lock, and the
// host told of every value under that lock. It is the floor the library's
// targets are set against.
#pragma once

#include <sys/eventfd.h>

#include <deque>
#include <mutex>
#include <thread>

#include "raw_link.h"
#include "request.h"

namespace PevraNUV::bench {

struct DesignHost {
    void* context;
    void (*onReply)(void* context, Units value);          // a read reply's value
    void (*onPush)(void* context, Units key, Units value);
};

class DesignClient {
public:
    // Opens the pipes and starts the thread; false from Connected() if the
    // pipes could not be opened.
    explicit DesignClient(const DesignHost& host);
    ~DesignClient();  // stops the thread and waits for it
    DesignClient(const DesignClient&) = delete;
    DesignClient& operator=(const DesignClient&) = delete;

    bool Connected() const { return m_thread.joinable(); }
    // Queues a batch; the requests must outlive the client.
    void Enqueue(const std::vector<Request>& batch);

private:
    static constexpr std::size_t kBufferBytes = 1 << 16;
    void Run();
    bool SendNext();
    bool ReceivePush();
    bool Receive(int fd, Units& message);

    const DesignHost m_host;
    Fd m_push, m_request;
    Fd m_stopEvent{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    // Readable while requests wait: set by Enqueue, drained when the
    // queue runs empty, both under m_lock.
    Fd m_sendEvent{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::recursive_mutex m_lock;
    std::deque<const Request*> m_queue;
    alignas(char16_t) char m_buffer[kBufferBytes];
    std::thread m_thread;  // last: it starts when everything else exists
};

}  // namespace PevraNUV::bench
