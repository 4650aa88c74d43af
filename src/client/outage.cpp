// An outage: after the service went away the sync thread closes the broken
// link's pipes and tries to connect again, the first time at once and then
// after pauses that grow from 50 ms to 2 s, until a link is up or the client
// stops. It waits only on the stop and send events, never under the lock,
// so PevraNUV_Shutdown ends a pause at once and a host thread never waits
// for an attempt.
#include <algorithm>
#include <chrono>

#include "client/link.h"
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

bool Link::AwaitService(std::uint32_t& pause, platform::Handle& sendOnlyPipe, platform::Handle& requestPipe) {
    ClosePipes(End::Broken);
    // An outage of a day must not write a record every two seconds: the
    // first failed attempt is logged (Connect's reconnect form reads this),
    // and then the link's return.
    m_outageLogged = false;
    for (;;) {
        const Wake wake = WaitBeforeAttempt(pause);
        if (wake == Wake::Stop) {
            ClosePipes(End::Stopped);  // and whatever a connect opened meanwhile
            return false;
        }
        if (wake == Wake::WaitFailed) {
            Log(kLogSyncLostConnection);
            SetState(LinkState::None);  // the next connect starts a thread again
            return false;
        }
        if (wake == Wake::PauseOver) {
            pause = NextPause(pause);
            if (m_client.Connect(0, true) != 0) {
                m_outageLogged = true;
                continue;
            }
        }
        // Our own attempt, or a host's connect, has opened the pipes.
        if (TakePipes(sendOnlyPipe, requestPipe)) {
            Log(kLogReconnected);
            return true;
        }
    }
}

Link::Wake Link::WaitBeforeAttempt(std::uint32_t pause) {
    using Clock = std::chrono::steady_clock;
    const platform::Handle objects[] = {m_client.m_stopEvent.get(), m_client.m_sendEvent.get()};
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(pause);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        const int woken = platform::WaitForAny(objects, 2, left > 0 ? static_cast<std::uint32_t>(left) : 0);
        if (woken == 0) return Wake::Stop;
        if (woken == platform::kWaitTimedOut) return Wake::PauseOver;
        if (woken != 1) return Wake::WaitFailed;
        // The queue woke us: a host connected, or a setter queued a message
        // that no link will carry (the next handshake drops it anyway).
        bool opened = true;
        m_client.RunSerialized([&] {
            opened = m_state == LinkState::Linking;
            if (opened) return;
            m_client.m_outgoing.clear();
            platform::ResetEvent(m_client.m_sendEvent.get());
        });
        if (opened) return Wake::PipesOpened;
    }
}

bool Link::TakePipes(platform::Handle& sendOnlyPipe, platform::Handle& requestPipe) {
    bool taken = false;
    m_client.RunSerialized([&] {
        // Linking: a connect, ours or a host's, has opened the pipes.
        if (m_state != LinkState::Linking) return;
        sendOnlyPipe = m_client.m_sendOnlyPipe.get();
        requestPipe = m_client.m_pipe.get();
        taken = true;
    });
    return taken;
}

}  // namespace PevraNUV
