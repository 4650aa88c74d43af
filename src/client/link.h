// The link to the service: its state, and the sync thread that carries it.
//
// The client owns the pipes and the events; the link is what the sync thread
// does with them. One Link lives in each client and owns the one sync
// thread; its functions other than Hand and Join run on that thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace PevraNUV {

class SettingsClient;

// The link's one state, read and changed under the client's lock:
//   None             no pipes, no thread at work: a connect starts one.
//   Linking          the connect task has opened the pipes and queued the
//                    handshake; the sync thread sends it.
//   Linked           the handshake is through (the queue was emptied once).
//   AwaitingService  the service went away: the pipes are closed and the
//                    sync thread tries to connect again, pause after pause.
//   EndedForGood     a refused reply or a time-out ended the link (its pipes
//                    stay open, nothing sends), or the client stopped it.
// Who changes it: the connect task (None or AwaitingService to Linking);
// the sync thread (every other step). docs/ARCHITECTURE.md draws it.
enum class LinkState { None, Linking, Linked, AwaitingService, EndedForGood };

class Link {
public:
    explicit Link(SettingsClient& client) : m_client(client) {}
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The connect task's last step, under the client's lock, with new pipes
    // in the client: a thread that awaits the service takes them (the
    // handshake just queued wakes it); otherwise a sync thread starts.
    void Hand();
    // Waits until the sync thread has ended; the client signals its stop
    // event first. Never call it on the sync thread.
    void Join() { m_thread.Join(); }
    // Whether the current outage has logged a failed attempt; only on the
    // sync thread (its attempts to connect again read it).
    bool OutageLogged() const { return m_outageLogged; }

private:
    // How one link's run ends: on the stop signal; broken, because the
    // service closed its end or went away (the thread then waits for it to
    // come back); or failed, on a refused reply or a time-out, where trying
    // again would only fail again.
    enum class End { Stopped, Broken, Failed };

    // What one exchange on the request pipe came to (exchange.cpp).
    struct Exchange {
        enum class Outcome { Done, Failed, Broken } outcome = Outcome::Done;
        std::size_t waiting = 0;  // messages still queued behind it
    };

    // What ended a pause of the outage (outage.cpp).
    enum class Wake { PauseOver, Stop, PipesOpened, WaitFailed };

    static std::uint32_t ThreadMain(void* link);
    void Run();
    // One link: writes the queued requests one at a time, receives the
    // values the service pushes, until it ends.
    End RunLink(platform::Handle sendOnlyPipe, platform::Handle requestPipe, bool& answered);
    // One exchange: takes the next message, writes it, reads and judges its
    // reply. It completes on exchangeEvent and reads the reply into reply,
    // both of which a link reuses for all its exchanges.
    Exchange SendNextMessage(platform::Handle requestPipe, platform::Handle exchangeEvent, std::u16string& reply);
    // Takes the pipes out of the client under its lock and closes them after
    // it; the state becomes EndedForGood (stopped) or AwaitingService.
    void ClosePipes(End end);
    void SetState(LinkState state);

    // After a broken link: tries to connect again, pause after pause, until
    // a link is up (its pipes are returned) or the stop signal comes (false).
    bool AwaitService(std::uint32_t& pause, platform::Handle& sendOnlyPipe, platform::Handle& requestPipe);
    Wake WaitBeforeAttempt(std::uint32_t pause);
    bool TakePipes(platform::Handle& sendOnlyPipe, platform::Handle& requestPipe);

    SettingsClient& m_client;
    LinkState m_state = LinkState::None;  // under the client's lock
    bool m_outageLogged = false;          // the sync thread's alone
    platform::Thread m_thread;            // started by Hand, joined by Join
};

}  // namespace PevraNUV
