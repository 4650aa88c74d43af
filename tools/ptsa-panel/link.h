// The panel's link to the library: one ptsa::Session whose handlers run
// where the owner drains them (the panel's I/O thread), and the answer to
// "is the service there", asked every few seconds. Every call into the
// library goes through the session's one lock, so the shutdown at the end
// overlaps no call.
#pragma once

#include <PTabletSettings.hpp>

#include <functional>
#include <memory>

#include "hub.h"

namespace ptsa_panel {

class Link {
public:
    // Registers with the library. wake is called, on any thread, when
    // handlers wait to be run by Drain.
    Link(Hub& hub, std::function<void()> wake);
    // Shuts the library down; call it where no request is being served.
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    ptsa::Session& session() { return *m_session; }
    // Runs the handlers that wait (each publishes to the hub).
    void Drain() { m_queue.poll(); }
    // Connects when the service is there again; the pages see each change
    // of the answer.
    void Poll();
    // The keystrokes captured since startKeyCapture, also shown to every page.
    void StartCapture();
    ptsa::Text FinishCapture();

private:
    Hub& m_hub;
    ptsa::Queue m_queue;
    std::unique_ptr<ptsa::Session> m_session;
    ptsa::Connection m_connection = ptsa::Connection::ServiceNotAvailable;
    bool m_polled = false;
};

}  // namespace ptsa_panel
