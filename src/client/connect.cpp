// Connecting to the service: wait for its send-only pipe, open both pipes,
// queue the handshake and start the sync thread.
#include <vector>

#include "client/messages.h"
#include "client/settings_client.h"
#include "log/log.h"
#include "settings/catalogue.h"

namespace PevraNUV {

namespace {

// The handshake request, then a read request for every handled key in the
// table's order: 68 messages.
std::vector<std::u16string> BuildHandshake() {
    std::vector<std::u16string> handshake;
    handshake.reserve(HandlerTable.size() + 1);
    handshake.push_back(wire::kHandshakeRequest);
    for (const auto& entry : HandlerTable) handshake.push_back(wire::ComposeReadRequest(entry.first));
    return handshake;
}

}  // namespace

int SettingsClient::Connect(int timeout, bool reconnect) {
    if (IsConnected()) return 0;
    // Only -1 (0xFFFFFFFF) waits for a busy pipe; every other value waits 1 ms.
    const std::uint32_t wait = static_cast<std::uint32_t>(timeout) == platform::kInfinite ? platform::kInfinite : 1;
    if (!platform::WaitForPipe(m_sendOnlyPipeName, wait)) {
        Log(kLogTimedOutWaiting);
        return 1;
    }
    int result = 0;
    RunSerialized([&] { OpenPipes(reconnect, result); });
    return result;
}

void SettingsClient::OpenPipes(bool reconnect, int& result) {
    if (IsConnected()) {
        if (!reconnect) return;  // connected by another thread meanwhile
        platform::CloseHandle(m_sendOnlyPipe.exchange(platform::kInvalidHandle));
        platform::CloseHandle(m_pipe.exchange(platform::kInvalidHandle));
    }
    const auto fail = [&](const wchar_t* message) {
        Log(message);
        result = 1;
    };
    platform::UniqueHandle sendOnly(platform::OpenPipe(m_sendOnlyPipeName, platform::PipeAccess::ReadOnly));
    if (!sendOnly) return fail(kLogCouldNotFindService);
    if (!platform::SetMessageReadMode(sendOnly.get())) return fail(kLogReadModeFailed);
    platform::UniqueHandle request(platform::OpenPipe(m_pipeName, platform::PipeAccess::ReadWrite));
    if (!request) return fail(kLogCouldNotFindService);
    if (!platform::SetMessageReadMode(request.get())) return fail(kLogReadModeFailed);

    // Whatever was queued before the connection is dropped, never sent.
    std::deque<std::u16string> dropped;
    dropped.swap(m_outgoing);
    std::vector<std::u16string> handshake = BuildHandshake();

    m_sendOnlyPipe = sendOnly.release();
    m_pipe = request.release();
    platform::ResetEvent(m_sendEvent.load());
    RunSerialized([&] { EnqueueMessages(handshake); });

    MarkSyncThreadStarted();
    if (!platform::StartDetachedThread(&SettingsClient::SyncThread, this)) {
        // Connected with the handshake queued and nobody to send it, until
        // the host shuts the client down.
        MarkSyncThreadEnded();
    }
}

}  // namespace PevraNUV
