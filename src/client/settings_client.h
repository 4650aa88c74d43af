// SettingsClient: the library's one stateful object. Every piece of work on
// it is a task run through RunSerialized under its recursive lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string_view>
#include <mutex>
#include <string>
#include <vector>

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

    // Connects to the service; 0 connected, 1 not available.
    int Connect(int timeout, bool reconnect);

    // Signals the stop event and joins the sync thread: when it returns, no
    // thread of this client runs any more. Never call it on the sync thread.
    void StopSyncThread();

    // Hands a received value to the handler of its key, as a task.
    void DispatchValue(std::u16string_view key, std::u16string_view value);

    bool IsConnected() {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        return static_cast<bool>(m_sendOnlyPipe);
    }

    // ---- Touched only under m_lock, except where a comment says otherwise.
    std::recursive_mutex m_lock;
    // Set once the sync thread has taken the stop signal, and by the
    // destructor; read by RunSerialized under m_lock. Atomic: it is set
    // before the lock is taken.
    std::atomic<bool> m_shuttingDown{false};
    std::u16string m_sendOnlyPipeName;
    std::u16string m_pipeName;
    // Both open or both closed. A link that broke (the service went away)
    // has them closed while the sync thread waits for the service to come
    // back; a link that ended on a refused reply or a time-out keeps them
    // open (and Connect keeps reporting 0) until the client goes.
    platform::UniqueHandle m_sendOnlyPipe;
    platform::UniqueHandle m_pipe;
    // Open for the client's whole life. The sync thread only waits on them.
    const platform::UniqueHandle m_stopEvent;
    const platform::UniqueHandle m_sendEvent;
    std::deque<std::u16string> m_outgoing;
    // Set by the sync thread while its link is down and it waits for the
    // service: a connect then leaves the new pipes to that thread instead
    // of starting another.
    bool m_awaitingService = false;
    HostRegistry m_hosts;
    ValueCache m_cache;

private:
    // How a link ends: on the stop signal; broken, because the service
    // closed its end or went away (the thread then waits for it to come
    // back); or failed for good, on a refused reply or a time-out, where
    // trying again would only fail again.
    enum class LinkEnd { Stopped, Broken, Failed };
    // SendNextMessage's result for an exchange that failed on a broken pipe.
    static constexpr std::int64_t kLinkBroken = -2;

    // The connect task: opens both pipes, queues the handshake, and starts
    // the sync thread unless one is waiting to take the link. Sets result
    // to 1 on failure, logged unless logFailure is false.
    void OpenPipes(bool reconnect, int& result, bool logFailure = true);

    // The sync thread: one link after another, each until it ends.
    static std::uint32_t SyncThread(void* client);
    void RunSyncThread();
    // One link: writes the queued requests one at a time, receives the
    // values the service pushes. answered is set once the queue has been
    // emptied (the handshake is through).
    LinkEnd RunLink(platform::Handle sendOnlyPipe, platform::Handle requestPipe, bool& answered);
    // One exchange on the request pipe: the number of messages still
    // waiting, -1 on failure, kLinkBroken on a broken pipe. It completes on
    // exchangeEvent and reads the reply into reply, both of which the link
    // reuses for all its exchanges.
    std::int64_t SendNextMessage(platform::Handle requestPipe, platform::Handle exchangeEvent, std::u16string& reply);
    // Takes the pipes out of the client under the lock and closes them after
    // it: for good when the link stopped, or until the service is back.
    void ClosePipes(LinkEnd end);

    // After a broken link (reconnect.cpp): closes the pipes and tries to
    // connect again, pause after pause, until a link is up (its pipes are
    // returned) or the stop signal comes (false).
    bool AwaitService(std::uint32_t& pause, platform::Handle& sendOnlyPipe, platform::Handle& requestPipe);
    int WaitBeforeAttempt(std::uint32_t pause);
    bool TryToReconnect(bool logFailure);
    bool TakeLink(platform::Handle& sendOnlyPipe, platform::Handle& requestPipe);

    // Joined by StopSyncThread and by the destructor; started by OpenPipes.
    // Declared last: it goes first, while everything it uses is still there.
    platform::Thread m_syncThread;
};

}  // namespace PevraNUV
