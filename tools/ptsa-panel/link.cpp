#include "link.h"

#include <chrono>
#include <iostream>

#include "events.h"

namespace ptsa_panel {
namespace {

// "Every few seconds": a restarted service shows within this, and an idle
// panel asks the library seldom.
constexpr auto kPollEvery = std::chrono::seconds(2);

}  // namespace

Link::Link(Hub& hub) : m_hub(hub) {
    m_session = std::make_unique<ptsa::Session>(Handlers(hub), m_queue);
    PublishRegistration(m_hub, m_session->registration());
    m_thread = std::thread([this] { Run(); });
}

Link::~Link() {
    m_stop = true;
    m_queue.Post([] {});  // wakes the thread
    m_thread.join();
    m_session.reset();
}

void Link::StartCapture() {
    m_session->startKeyCapture();
    PublishCapture(m_hub, true, {});
}

ptsa::Text Link::FinishCapture() {
    ptsa::Text keys = m_session->finishKeyCapture();
    PublishCapture(m_hub, false, keys);
    return keys;
}

// The panel's own thread: runs the handlers the library's thread queued
// (each publishes to the pages) and asks for the connection in between.
void Link::Run() {
    auto nextPoll = std::chrono::steady_clock::now();
    while (!m_stop) {
        if (std::chrono::steady_clock::now() >= nextPoll) {
            Poll();
            nextPoll = std::chrono::steady_clock::now() + kPollEvery;
        }
        m_queue.waitFor(nextPoll - std::chrono::steady_clock::now());
    }
}

// Connect answers 0 while connected, and connects when the service is
// there again; the pages see each change of the answer.
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
