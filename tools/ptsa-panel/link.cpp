#include "link.h"

#include "events.h"

namespace ptsa_panel {

Link::Link(Hub& hub, int logLevel, std::function<void()> wake) : m_hub(hub), m_queue(std::move(wake)) {
    m_session = std::make_unique<ptsa::Session>(Handlers(hub), m_queue);
    m_session->setLogLevel(logLevel);
    PublishRegistration(m_hub, m_session->registration());
    // The first answer; the availability handler tells every later change.
    PublishConnection(m_hub, m_session->connect() == ptsa::Connection::Connected);
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

}  // namespace ptsa_panel
