#include "link.h"

#include <iostream>

#include "events.h"

namespace ptsa_panel {

Link::Link(Hub& hub, std::function<void()> wake) : m_hub(hub), m_queue(std::move(wake)) {
    m_session = std::make_unique<ptsa::Session>(Handlers(hub), m_queue);
    PublishRegistration(m_hub, m_session->registration());
}

Link::~Link() { m_session.reset(); }

void Link::StartCapture() {
    m_session->startKeyCapture();
    PublishCapture(m_hub, true, {});
}

ptsa::Text Link::FinishCapture() {
    ptsa::Text keys = m_session->finishKeyCapture();
    PublishCapture(m_hub, false, keys);
    return keys;
}

// Connect answers 0 while connected, and connects when the service is
// there again (waiting about a millisecond for its pipe).
void Link::Poll() {
    const ptsa::Connection now = m_session->connect();
    if (m_polled && now == m_connection) return;
    m_polled = true;
    m_connection = now;
    PublishConnection(m_hub, now);
    std::cerr << "ptsa-panel: " << (now == ptsa::Connection::Connected ? "connected" : "the settings service is not available")
              << std::endl;
}

}  // namespace ptsa_panel
