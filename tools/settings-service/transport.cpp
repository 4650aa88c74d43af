#include "transport.h"

namespace settings_service {

TransportEvent QueuedTransport::Wait(int timeoutMs) {
    if (m_events.empty()) Gather(timeoutMs);
    if (m_events.empty()) return {};
    TransportEvent event = std::move(m_events.front());
    m_events.pop_front();
    return event;
}

}  // namespace settings_service
