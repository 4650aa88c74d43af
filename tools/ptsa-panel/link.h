// The panel's link to the library: one ptsa::Session whose handlers run on
// the panel's own thread, which also asks the library every two seconds
// whether the service is there. Every call into the library goes through
// the session's one lock, so the shutdown at the end overlaps no call.
#pragma once

#include <PTabletSettings.hpp>

#include <atomic>
#include <memory>
#include <thread>

#include "hub.h"

namespace ptsa_panel {

class Link {
public:
    // Registers with the library, connects and starts the panel's thread.
    explicit Link(Hub& hub);
    // Ends the thread, then shuts the library down. The HTTP server must be
    // stopped first: its threads call the session.
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    ptsa::Session& session() { return *m_session; }
    // The keystrokes captured since startKeyCapture, also shown to every page.
    void StartCapture();
    ptsa::Text FinishCapture();

private:
    void Run();
    void Poll();

    Hub& m_hub;
    ptsa::Queue m_queue;
    std::unique_ptr<ptsa::Session> m_session;
    ptsa::Connection m_connection = ptsa::Connection::ServiceNotAvailable;
    bool m_polled = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;  // last: it starts when the rest is built
};

}  // namespace ptsa_panel
