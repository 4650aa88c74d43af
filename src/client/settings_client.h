// SettingsClient: the library's one stateful object. Every piece of work on
// it is a task run through RunSerialized under its recursive lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "client/link.h"
#include "dispatch/host_registry.h"
#include "dispatch/value_cache.h"
#include "platform/platform.h"

namespace PevraNUV {

class SettingsClient {
public:
    // Not connected; the two events are created, no pipe is opened and no
    // thread started.
    SettingsClient();
    // Stops and joins the sync thread, waits for a task in progress, closes
    // whatever is still open.
    ~SettingsClient();
    SettingsClient(const SettingsClient&) = delete;
    SettingsClient& operator=(const SettingsClient&) = delete;

    // Runs task (any callable without arguments) on the calling thread under
    // m_lock, unless the client is shutting down. Tasks nest on one thread.
    // An exception that leaves the task is contained here: it never leaves
    // the lock held. A template rather than a std::function: a task is
    // built for every message and every value, and a std::function of a
    // few references would allocate each time.
    template <typename Task>
    void RunSerialized(Task&& task) {
        std::lock_guard<std::recursive_mutex> serialized(m_lock);
        if (m_shuttingDown.load()) return;
        try {
            task();
        } catch (...) {
            // Contained: the task's work is lost, the lock is released, and
            // nothing crosses into the host.
        }
    }

    // Append to m_outgoing and signal m_sendEvent. Run only as tasks.
    void EnqueueMessages(const std::vector<std::u16string>& messages);
    void EnqueueMessage(const std::u16string& message);

    // Connects to the service (connection.cpp); 0 when the pipes are open
    // (a link linking, linked or ended for good), 1 when the service is not
    // available or the connect task failed. reconnect: the sync thread's
    // own attempt in an outage, which logs only the outage's first failure.
    int Connect(int timeout, bool reconnect);

    // Signals the stop event and joins the sync thread: when it returns, no
    // thread of this client runs any more. Never call it on the sync thread.
    void StopSyncThread();

    // Hands a received value to the handler of its key, as a task.
    void DispatchValue(std::u16string_view key, std::u16string_view value);

    // The host-facing state; only inside a task.
    HostRegistry& Hosts() { return m_hosts; }
    ValueCache& Cache() { return m_cache; }

private:
    friend class Link;         // the sync thread's side of the link
    friend struct ClientProbe;  // the unit tests' view of the queue and the gate

    // The connect task (connection.cpp): opens both pipes, queues the
    // handshake and hands the pipes to the link. 0, or 1 on failure (logged
    // unless logFailure is false). Open pipes are left alone.
    int OpenPipes(bool logFailure);
    bool PipesOpen() {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        return static_cast<bool>(m_sendOnlyPipe);
    }

    // ---- Touched only under m_lock, except where a comment says otherwise.
    std::recursive_mutex m_lock;
    // Set by the link's stop step and by the destructor; read by
    // RunSerialized under m_lock. Atomic: it is set before the lock is taken.
    std::atomic<bool> m_shuttingDown{false};
    std::u16string m_sendOnlyPipeName;
    std::u16string m_pipeName;
    // Both open or both closed: open while the link is linking, linked or
    // ended for good (a refused reply or a time-out keeps them open, and
    // Connect keeps reporting 0, until the client goes); closed while it is
    // none or waiting for the service. Opened only by the connect task,
    // closed only by the link (link.cpp).
    platform::UniqueHandle m_sendOnlyPipe;
    platform::UniqueHandle m_pipe;
    // Open for the client's whole life. The sync thread only waits on them.
    const platform::UniqueHandle m_stopEvent;
    const platform::UniqueHandle m_sendEvent;
    std::deque<std::u16string> m_outgoing;
    HostRegistry m_hosts;
    ValueCache m_cache;
    // Declared last: its thread goes first, while everything it uses is
    // still there.
    Link m_link{*this};
};

}  // namespace PevraNUV
