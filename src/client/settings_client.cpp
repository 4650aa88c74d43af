// SettingsClient: construction, destruction, serialised execution and the
// queue of outgoing messages.
#include "client/settings_client.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "dispatch/handlers.h"
#include "settings/requests.h"
#include "settings/setting_table.h"

namespace PevraNUV {

namespace {

// Keys by length, then by their bytes: most keys share a long prefix, so a
// length that differs decides most comparisons at once.
bool KeyLess(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return a.size() < b.size();
    return std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) < 0;
}

// The handled settings in KeyLess order, for a binary search: pushes name
// the same few keys many times a second (the battery's is the 56th of the
// handshake), and a walk of the table cost more than the handler.
const std::array<SettingId, HandlerTable.size()>& HandledByKey() {
    static const std::array<SettingId, HandlerTable.size()> index = [] {
        std::array<SettingId, HandlerTable.size()> ids = HandlerTable;
        std::sort(ids.begin(), ids.end(), [](SettingId a, SettingId b) { return KeyLess(KeyById(a), KeyById(b)); });
        return ids;
    }();
    return index;
}

std::u16string SessionSuffix() {
    std::uint32_t sessionId = 0;
    return platform::QuerySessionId(sessionId) ? wire::FormatUnsigned(sessionId) : u"0";
}

}  // namespace

SettingsClient::SettingsClient()
    : m_stopEvent(platform::CreateManualResetEvent()), m_sendEvent(platform::CreateManualResetEvent()) {
    const std::u16string suffix = SessionSuffix();
    m_sendOnlyPipeName = u"\\\\.\\pipe\\PevraSettingsSyncherSendOnly_" + suffix;
    m_pipeName = u"\\\\.\\pipe\\PevraSettingsSyncher_" + suffix;
}

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
    m_link.Join();
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
    const auto& index = HandledByKey();
    const auto found = std::lower_bound(index.begin(), index.end(), key,
                                        [](SettingId id, std::u16string_view wanted) { return KeyLess(KeyById(id), wanted); });
    // A key without a handled setting is dropped silently.
    if (found == index.end() || KeyLess(key, KeyById(*found))) return;
    RunSerialized([&] { HandleValue(SettingOf(*found).binding, m_cache, m_hosts, value); });
}

}  // namespace PevraNUV
