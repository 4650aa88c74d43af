// SettingsClient: the library's one stateful object. Every piece of work on
// it is a task run through RunSerialized under its recursive lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "platform/platform.h"

namespace PevraNUV {

using Task = std::function<void()>;

class SettingsClient {
public:
    // A client in zero-filled storage, as at load and at every shutdown.
    static SettingsClient* Create();
    // Stops the sync thread, waits for a task in progress, frees the client.
    static void Destroy(SettingsClient* client);

    SettingsClient();
    ~SettingsClient();
    SettingsClient(const SettingsClient&) = delete;
    SettingsClient& operator=(const SettingsClient&) = delete;

    // Runs task on the calling thread under m_lock, unless the client is
    // shutting down. Tasks nest on one thread. An exception that leaves the
    // task is contained here: it never leaves the lock held.
    void RunSerialized(Task task);

    // Append to m_outgoing and signal m_sendEvent. Run only as tasks.
    void EnqueueMessages(const std::vector<std::u16string>& messages);
    void EnqueueMessage(const std::u16string& message);

    // Connects to the service; 0 connected, 1 not available.
    int Connect(int timeout, bool reconnect);
    // The connect task: opens both pipes, queues the handshake, starts the
    // sync thread. Sets result to 1 on failure.
    void OpenPipes(bool reconnect, int& result);

    // The sync thread's routine, given the client; and one exchange on the
    // request pipe: the number of messages still waiting, or -1 on failure.
    // The exchange completes on exchangeEvent, which the sync thread reuses
    // for all its exchanges.
    static std::uint32_t SyncThread(void* client);
    std::int64_t SendNextMessage(platform::Handle exchangeEvent);

    // Hands a received value to the handler of its key.
    void DispatchValue(const std::u16string& key, const std::u16string& value);

    // Calls one slot of every registered table, in ascending address order.
    template <typename Slot, typename... Args>
    void NotifyHosts(Slot PevraNUV_Callbacks::*slot, Args... args) {
        for (const auto& [table, context] : m_callbackTables) {
            if (auto callback = table->*slot) callback(context, args...);
        }
    }

    bool IsConnected() const { return m_sendOnlyPipe.load() != platform::kInvalidHandle; }
    bool HasSyncThread() {
        std::lock_guard<std::mutex> state(m_threadMutex);
        return m_threadRunning;
    }

    // ---- Fields, in declaration order. Touched only under m_lock, except
    // where a comment says otherwise.
    std::recursive_mutex m_lock;
    std::atomic<bool> m_shuttingDown{false};  // set by the sync thread before it takes m_lock
    std::int32_t m_logLevel = 3;
    std::u16string m_sendOnlyPipeName;
    std::u16string m_pipeName;
    // Read without the lock by Connect's quick check and by the destroyer.
    std::atomic<platform::Handle> m_sendOnlyPipe{platform::kInvalidHandle};
    std::atomic<platform::Handle> m_pipe{platform::kInvalidHandle};
    std::atomic<platform::Handle> m_stopEvent{platform::kInvalidHandle};
    std::atomic<platform::Handle> m_sendEvent{platform::kInvalidHandle};
    std::deque<std::u16string> m_outgoing;

    // Host registrations: table address -> context, ascending by address.
    struct ByAddress {
        bool operator()(const PevraNUV_Callbacks* a, const PevraNUV_Callbacks* b) const {
            return reinterpret_cast<std::uintptr_t>(a) < reinterpret_cast<std::uintptr_t>(b);
        }
    };
    std::map<const PevraNUV_Callbacks*, void*, ByAddress> m_callbackTables;

    // The value cache, in host-facing layouts.
    std::u16string m_hidRouterVersion;
    std::u16string m_serviceVersion;
    PevraNUV_ButtonFunction m_eraserSingle{};
    PevraNUV_ButtonFunction m_eraserDouble{};
    PevraNUV_ButtonFunction m_eraserLong{};
    PevraNUV_SideSwitch m_topSwitch{};
    PevraNUV_SideSwitch m_bottomSwitch{};
    std::int32_t m_tipSensitivity = 0;
    std::int32_t m_tiltSensitivity = 0;
    std::int32_t m_batteryAlertDelay = 0;
    std::uint32_t m_menuCenterRightClick = 0;
    PevraNUV_ButtonFunction m_menuWedges[10]{};
    PevraNUV_ZoomMap m_zoomMap{};
    std::map<std::u16string, PevraNUV_PenInfo> m_pens;
    std::u16string m_currentPenSerial;
    std::u16string m_penSerial;
    std::u16string m_penId;
    std::u16string m_btSerial;
    std::u16string m_btId;
    std::u16string m_capturedKeys;
    std::map<std::u16string, std::u16string> m_runAppOptions;
    std::set<std::int32_t> m_topButtonSingleOptions;
    std::set<std::int32_t> m_topButtonDoubleOptions;
    std::set<std::int32_t> m_topButtonLongOptions;
    std::set<std::int32_t> m_sideSwitchOptions;
    std::set<std::int32_t> m_radialWedgeOptions;
    const std::int32_t m_ranges[4] = {0, 6, -90, 90};

    // Whether a sync thread runs, so that the destroyer knows whom to wait
    // for. Guarded by m_threadMutex, never taken together with m_lock.
    std::mutex m_threadMutex;
    std::condition_variable m_threadEnded;
    bool m_threadRunning = false;

    // Signals the stop event, again every 100 ms, until the sync thread has
    // ended; returns at once when none runs.
    void StopSyncThread();

private:
    void MarkSyncThreadStarted();
    void MarkSyncThreadEnded();
    std::uint32_t RunSyncThread();
};

}  // namespace PevraNUV
