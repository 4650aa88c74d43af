// After the service went away: the sync thread closes the broken link's
// pipes and tries to connect again, the first time at once and then after
// pauses that grow from 50 ms to 2 s, until a link is up or the client
// stops. It waits only on the stop and send events, never under the lock,
// so PevraNUV_Shutdown ends a pause at once and a host thread never waits
// for an attempt.
#include <algorithm>
#include <chrono>

#include "client/settings_client.h"
#include "log/log.h"

namespace PevraNUV {

namespace {

constexpr std::uint32_t kFirstPauseMs = 50;
constexpr std::uint32_t kLongestPauseMs = 2000;

std::uint32_t NextPause(std::uint32_t pause) {
    return pause == 0 ? kFirstPauseMs : std::min(2 * pause, kLongestPauseMs);
}

}  // namespace

bool SettingsClient::AwaitService(std::uint32_t& pause, platform::Handle& sendOnlyPipe, platform::Handle& requestPipe) {
    ClosePipes(LinkEnd::Broken);
    // An outage of a day must not write a record every two seconds: the
    // first failed attempt is logged, and then the link's return.
    bool failureLogged = false;
    for (;;) {
        const int woken = WaitBeforeAttempt(pause);
        if (woken == 0) {
            ClosePipes(LinkEnd::Stopped);  // and whatever a connect opened meanwhile
            return false;
        }
        if (woken == platform::kWaitFailed) {
            Log(kLogSyncLostConnection);
            std::lock_guard<std::recursive_mutex> guard(m_lock);
            m_awaitingService = false;  // the next connect starts a thread again
            return false;
        }
        if (woken == platform::kWaitTimedOut) {
            pause = NextPause(pause);
            if (!TryToReconnect(!failureLogged)) {
                failureLogged = true;
                continue;
            }
        }
        // Our own attempt, or a host's connect, has opened the pipes.
        if (TakeLink(sendOnlyPipe, requestPipe)) {
            Log(kLogReconnected);
            return true;
        }
    }
}

// Waits out a pause: platform::kWaitTimedOut when it has passed, 0 on the
// stop signal, 1 when a host's connect has opened new pipes meanwhile, or
// platform::kWaitFailed.
int SettingsClient::WaitBeforeAttempt(std::uint32_t pause) {
    using Clock = std::chrono::steady_clock;
    const platform::Handle objects[] = {m_stopEvent.get(), m_sendEvent.get()};
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(pause);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        const int woken = platform::WaitForAny(objects, 2, left > 0 ? static_cast<std::uint32_t>(left) : 0);
        if (woken != 1) return woken;
        // The queue woke us: a host connected, or a setter queued a message
        // that no link will carry (the next handshake drops it anyway).
        bool connected = true;
        RunSerialized([&] {
            connected = static_cast<bool>(m_sendOnlyPipe);
            if (connected) return;
            m_outgoing.clear();
            platform::ResetEvent(m_sendEvent.get());
        });
        if (connected) return 1;
    }
}

// One attempt: the connect step in its reconnect form, unless a host's
// connect has opened the pipes already.
bool SettingsClient::TryToReconnect(bool logFailure) {
    if (!platform::WaitForPipe(m_sendOnlyPipeName, 1)) {
        if (logFailure) Log(kLogTimedOutWaiting);
        return false;
    }
    int result = 0;
    RunSerialized([&] {
        if (!m_sendOnlyPipe) OpenPipes(true, result, logFailure);
    });
    return result == 0;
}

bool SettingsClient::TakeLink(platform::Handle& sendOnlyPipe, platform::Handle& requestPipe) {
    bool taken = false;
    RunSerialized([&] {
        if (!m_sendOnlyPipe) return;
        sendOnlyPipe = m_sendOnlyPipe.get();
        requestPipe = m_pipe.get();
        m_awaitingService = false;
        taken = true;
    });
    return taken;
}

}  // namespace PevraNUV
