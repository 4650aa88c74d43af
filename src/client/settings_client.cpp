// SettingsClient: construction, destruction and serialised execution.
#include "client/settings_client.h"

#include <chrono>
#include <cstring>
#include <new>

#include "client/messages.h"
#include "settings/catalogue.h"

namespace PevraNUV {

SettingsClient* SettingsClient::Create() {
    void* storage = ::operator new(sizeof(SettingsClient));
    std::memset(storage, 0, sizeof(SettingsClient));
    try {
        return new (storage) SettingsClient();
    } catch (...) {
        ::operator delete(storage);
        throw;
    }
}

void SettingsClient::Destroy(SettingsClient* client) {
    if (!client) return;
    client->~SettingsClient();
    ::operator delete(client);
}

SettingsClient::SettingsClient() {
    std::uint32_t sessionId = 0;
    std::u16string suffix = u"0";
    if (platform::QuerySessionId(sessionId)) suffix = wire::FormatUnsigned(sessionId);
    m_sendOnlyPipeName = u"\\\\.\\pipe\\PevraSettingsSyncherSendOnly_" + suffix;
    m_pipeName = u"\\\\.\\pipe\\PevraSettingsSyncher_" + suffix;
    m_stopEvent = platform::CreateManualResetEvent();
    m_sendEvent = platform::CreateManualResetEvent();
}

SettingsClient::~SettingsClient() {
    StopSyncThread();
    // No sync thread runs any more. Pass the lock once: a task in progress
    // has finished, and every later one is skipped.
    m_shuttingDown = true;
    { std::lock_guard<std::recursive_mutex> barrier(m_lock); }
    // Whatever no sync thread closed: the events of a client that never
    // connected, the pipes and events of a thread that ended on a failure.
    for (auto* field : {&m_sendOnlyPipe, &m_pipe, &m_stopEvent, &m_sendEvent})
        platform::CloseHandle(field->exchange(platform::kInvalidHandle));
}

void SettingsClient::StopSyncThread() {
    // Signal the stop event, again every 100 ms, until the thread has ended.
    // The event is signalled under m_lock: the thread replaces the field
    // under the same lock before it closes the event, so a signalled handle
    // is never a closed one.
    std::unique_lock<std::mutex> state(m_threadMutex);
    while (m_threadRunning) {
        state.unlock();
        {
            std::lock_guard<std::recursive_mutex> guard(m_lock);
            platform::SetEvent(m_stopEvent.load());
        }
        state.lock();
        m_threadEnded.wait_for(state, std::chrono::milliseconds(100), [this] { return !m_threadRunning; });
    }
}

void SettingsClient::MarkSyncThreadStarted() {
    std::lock_guard<std::mutex> state(m_threadMutex);
    m_threadRunning = true;
}

void SettingsClient::MarkSyncThreadEnded() {
    // The thread's last touch of the client: the destroyer may free it as
    // soon as this lock is released.
    std::lock_guard<std::mutex> state(m_threadMutex);
    m_threadRunning = false;
    m_threadEnded.notify_all();
}

void SettingsClient::RunSerialized(Task task) {
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (!m_shuttingDown.load()) {
            try {
                task();
            } catch (...) {
                // Contained: the task's work is lost, the lock is released,
                // and nothing crosses into the host.
            }
        }
    }
    task = nullptr;
}

void SettingsClient::EnqueueMessages(const std::vector<std::u16string>& messages) {
    m_outgoing.insert(m_outgoing.end(), messages.begin(), messages.end());
    platform::SetEvent(m_sendEvent.load());
}

void SettingsClient::EnqueueMessage(const std::u16string& message) {
    m_outgoing.push_back(message);
    platform::SetEvent(m_sendEvent.load());
}

}  // namespace PevraNUV

namespace PevraNUV {

void SettingsClient::DispatchValue(const std::u16string& key, const std::u16string& value) {
    // A linear walk: the first entry with exactly this key. A key without an
    // entry is dropped silently. Many keys share a long prefix and a length,
    // so the units are compared with memcmp rather than one by one.
    const std::size_t bytes = key.size() * sizeof(char16_t);
    for (const HandlerEntry& entry : HandlerTable) {
        if (entry.first.size() != key.size() || std::memcmp(entry.first.data(), key.data(), bytes) != 0) continue;
        const ValueHandler& handler = entry.second;
        if (handler) RunSerialized([&] { handler(*this, value); });
        return;
    }
}

}  // namespace PevraNUV
