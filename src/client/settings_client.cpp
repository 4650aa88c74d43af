// SettingsClient: construction, destruction, serialised execution and the
// queue of outgoing messages.
#include "client/settings_client.h"

#include <cstring>

#include "dispatch/handlers.h"
#include "settings/requests.h"
#include "settings/setting_table.h"

namespace PevraNUV {

namespace {

std::u16string SessionSuffix() {
    std::uint32_t sessionId = 0;
    return platform::QuerySessionId(sessionId) ? wire::FormatUnsigned(sessionId) : u"0";
}

}  // namespace

SettingsClient::SettingsClient()
    : m_sendOnlyPipeName(u"\\\\.\\pipe\\PevraSettingsSyncherSendOnly_" + SessionSuffix()),
      m_pipeName(u"\\\\.\\pipe\\PevraSettingsSyncher_" + SessionSuffix()),
      m_stopEvent(platform::CreateManualResetEvent()),
      m_sendEvent(platform::CreateManualResetEvent()) {}

SettingsClient::~SettingsClient() {
    StopSyncThread();
    // No sync thread runs any more. Pass the lock once: a task in progress
    // on another thread has finished, and every later one is skipped. The
    // members close the rest: the pipes of a link that failed, the events.
    m_shuttingDown = true;
    { std::lock_guard<std::recursive_mutex> barrier(m_lock); }
}

void SettingsClient::StopSyncThread() {
    // One signal is enough: the event stays open and signalled until the
    // thread has seen it, which is always, whatever it is doing, within the
    // time limit of an exchange in progress.
    platform::SetEvent(m_stopEvent.get());
    m_syncThread.Join();
}

void SettingsClient::EnqueueMessages(const std::vector<std::u16string>& messages) {
    m_outgoing.insert(m_outgoing.end(), messages.begin(), messages.end());
    platform::SetEvent(m_sendEvent.get());
}

void SettingsClient::EnqueueMessage(const std::u16string& message) {
    m_outgoing.push_back(message);
    platform::SetEvent(m_sendEvent.get());
}

void SettingsClient::DispatchValue(std::u16string_view key, std::u16string_view value) {
    // A linear walk in handshake order: the first handled setting with
    // exactly this key. A key without one is dropped silently. Many keys
    // share a long prefix and a length, so they are compared with memcmp
    // rather than unit by unit.
    const std::size_t bytes = key.size() * sizeof(char16_t);
    for (SettingId id : HandlerTable) {
        const Setting& setting = SettingOf(id);
        if (setting.key.size() != key.size() || std::memcmp(setting.key.data(), key.data(), bytes) != 0) continue;
        RunSerialized([&] { HandleValue(setting.binding, m_cache, m_hosts, value); });
        return;
    }
}

}  // namespace PevraNUV
