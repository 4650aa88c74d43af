// The connection: waiting for the service's send-only pipe, opening both
// pipes, queuing the handshake and handing the pipes to the link.
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
    if (PipesOpen()) return 0;
    // The reconnect form is the sync thread's attempt in an outage: of its
    // failures only the outage's first is logged, so that an outage of a day
    // does not write a record every two seconds. It runs on the sync thread,
    // the only one that reads or writes the link's record of that.
    const bool logFailure = !reconnect || !m_link.OutageLogged();
    // The time-out is a switch, not a duration: only -1 (0xFFFFFFFF) waits
    // for a busy pipe, every other value 1 ms. Hosts pass numbers such as
    // 5000 and rely on Connect coming back at once, so the number is not
    // honoured; and 1 ms, not 0, because WaitNamedPipeW reads 0 as "the
    // server's default time-out" (NMPWAIT_USE_DEFAULT_WAIT).
    const std::uint32_t wait = static_cast<std::uint32_t>(timeout) == platform::kInfinite ? platform::kInfinite : 1;
    if (!platform::WaitForPipe(m_sendOnlyPipeName, wait)) {
        if (logFailure) Log(kLogTimedOutWaiting);
        return 1;
    }
    int result = 0;  // a task skipped because the client is shutting down: 0
    RunSerialized([&] {
        result = 1;  // stays 1 when the task throws
        result = OpenPipes(logFailure);
    });
    return result;
}

int SettingsClient::OpenPipes(bool logFailure) {
    // Open already: another thread's connect came first. In the reconnect
    // form too: the waiting thread's own pipes were closed when its outage
    // began, so pipes open now are a host's connect's, and the waiting
    // thread takes them as its link (nothing here closes them).
    if (m_sendOnlyPipe) return 0;
    const auto fail = [&](const wchar_t* message) {
        if (logFailure) Log(message);
        return 1;
    };
    // Neither open blocks: a busy pipe (a full listen queue) fails at once.
    // On failure the owners close what was opened, under the lock: closing
    // a pipe that nobody has used yet does not wait.
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
    platform::ResetEvent(m_sendEvent.get());
    // Called, not nested as a task of its own: this is the connect task
    // already, and a failure must reach its result.
    EnqueueMessages(Handshake());

    m_sendOnlyPipe = std::move(sendOnly);
    m_pipe = std::move(request);
    m_link.Hand();
    return 0;
}

}  // namespace PevraNUV
