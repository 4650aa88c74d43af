#include "hub.h"

namespace ptsa_panel {
namespace {

// A page this many events behind is not reading: its stream is ended, and
// the browser opens a new one, which starts again from the current state.
// This bounds the panel's memory whatever a page does.
constexpr std::size_t kMaxPending = 10000;

}  // namespace

void Hub::Publish(const std::string& key, const std::string& kind, const std::string& json) {
    std::string event = "event: " + kind + "\ndata: " + json + "\n\n";
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& page : m_pages) {
            if (page->pending.size() >= kMaxPending) page->dropped = true;
            if (!page->dropped) page->pending.push_back(event);
        }
        m_current[key] = std::move(event);
    }
    m_changed.notify_all();
}

std::shared_ptr<Hub::Page> Hub::Open() {
    auto page = std::make_shared<Page>();
    // A stream that ends (the panel restarts, the page fell behind) is
    // opened again by the browser a second later.
    page->pending.push_back("retry: 1000\n\n");
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [key, event] : m_current) page->pending.push_back(event);
    m_pages.push_back(page);
    return page;
}

void Hub::Leave(const std::shared_ptr<Page>& page) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pages.remove(page);
}

Hub::Next Hub::Take(Page& page, std::string& text, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, wait, [&] { return m_closed || page.dropped || !page.pending.empty(); });
    if (m_closed || page.dropped) return Next::Closed;
    if (page.pending.empty()) return Next::Idle;
    text.clear();
    for (const std::string& event : page.pending) text += event;
    page.pending.clear();
    return Next::Events;
}

void Hub::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
}

}  // namespace ptsa_panel
