// Connecting to the service: wait for its send-only pipe, open both pipes,
// queue the handshake and start the sync thread.
#include <vector>

#include "client/settings_client.h"
#include "log/log.h"
#include "settings/requests.h"
#include "settings/setting_table.h"

namespace PevraNUV {

namespace {

// The handshake request, then a read request for every handled setting in
// the table's handshake order: 68 messages, composed once.
const std::vector<std::u16string>& Handshake() {
    static const std::vector<std::u16string> handshake = [] {
        std::vector<std::u16string> messages{wire::kHandshakeRequest};
        for (SettingId id : HandlerTable) messages.push_back(wire::ComposeReadRequest(KeyById(id)));
        return messages;
    }();
    return handshake;
}

}  // namespace

int SettingsClient::Connect(int timeout, bool reconnect) {
    if (IsConnected()) return 0;
    // The only wait, and outside the lock. Only -1 (0xFFFFFFFF) waits for a
    // busy pipe; every other value waits 1 ms, whatever it says.
    const std::uint32_t wait = static_cast<std::uint32_t>(timeout) == platform::kInfinite ? platform::kInfinite : 1;
    if (!platform::WaitForPipe(m_sendOnlyPipeName, wait)) {
        Log(kLogTimedOutWaiting);
        return 1;
    }
    int result = 0;
    RunSerialized([&] { OpenPipes(reconnect, result); });
    return result;
}

void SettingsClient::OpenPipes(bool reconnect, int& result, bool logFailure) {
    // Closed after the lock is released, with the task's other locals.
    platform::UniqueHandle oldSendOnly, oldRequest;
    if (m_sendOnlyPipe) {
        if (!reconnect) return;  // connected by another thread meanwhile
        oldSendOnly = std::move(m_sendOnlyPipe);
        oldRequest = std::move(m_pipe);
    }
    const auto fail = [&](const wchar_t* message) {
        if (logFailure) Log(message);
        result = 1;
    };
    // Neither open blocks: a busy pipe (a full listen queue) fails at once.
    platform::UniqueHandle sendOnly(platform::OpenPipe(m_sendOnlyPipeName, platform::PipeAccess::ReadOnly));
    if (!sendOnly) return fail(kLogCouldNotFindService);
    if (!platform::SetMessageReadMode(sendOnly.get())) return fail(kLogReadModeFailed);
    platform::UniqueHandle request(platform::OpenPipe(m_pipeName, platform::PipeAccess::ReadWrite));
    if (!request) return fail(kLogCouldNotFindService);
    if (!platform::SetMessageReadMode(request.get())) return fail(kLogReadModeFailed);
    // Before the first byte is written, and so before a server could
    // impersonate this process: one process serves both pipes, and it may
    // hold the user's settings.
    if (!platform::PipeServersTrusted(sendOnly.get(), request.get())) return fail(kLogCouldNotFindService);

    // Whatever was queued before the connection is dropped, never sent.
    std::deque<std::u16string> dropped;
    dropped.swap(m_outgoing);
    const std::vector<std::u16string>& handshake = Handshake();

    m_sendOnlyPipe = std::move(sendOnly);
    m_pipe = std::move(request);
    platform::ResetEvent(m_sendEvent.get());
    RunSerialized([&] { EnqueueMessages(handshake); });

    // A sync thread that waits for the service takes these pipes itself:
    // the handshake just queued wakes it. Never two links.
    if (m_awaitingService) return;
    // Otherwise any earlier thread has ended (it left its wait on a failure
    // of the wait itself, or never started): joining it returns at once. A
    // thread that cannot start leaves the link connected with the handshake
    // queued and nobody to send it, until the client goes.
    m_syncThread.Join();
    m_syncThread.Start(&SettingsClient::SyncThread, this);
}

}  // namespace PevraNUV
