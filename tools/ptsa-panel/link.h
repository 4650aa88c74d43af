// The panel's link to the library: one ptsa::Session whose handlers run
// where the owner drains them (the panel's I/O thread). The session, once
// connected, asks by itself whether the service is there and connects again
// when it is back; the pages see each change. Every call into the library
// goes through the session's one lock, so the shutdown at the end overlaps
// no call.
#pragma once

#include <PTabletSettings.hpp>

#include <functional>
#include <memory>

#include "hub.h"

namespace ptsa_panel {

class Link {
public:
    // Registers with the library and connects. wake is called, on any
    // thread, when handlers wait to be run by Drain.
    Link(Hub& hub, int logLevel, std::function<void()> wake);
    // Shuts the library down; call it where no request is being served.
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    ptsa::Session& session() { return *m_session; }
    // Runs the handlers that wait (each publishes to the hub).
    void Drain() { m_queue.poll(); }
    // The keystrokes captured since startKeyCapture, also shown to every page.
    void StartCapture();
    ptsa::Text FinishCapture();

private:
    Hub& m_hub;
    ptsa::Queue m_queue;
    std::unique_ptr<ptsa::Session> m_session;
};

}  // namespace ptsa_panel
