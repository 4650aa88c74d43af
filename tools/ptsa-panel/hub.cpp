#include "hub.h"

#include <algorithm>
#include <vector>

namespace ptsa_panel {

void Hub::Publish(const std::string& key, const std::string& kind, const std::string& json) {
    m_current[key] = Entry{"event: " + kind + "\ndata: " + json + "\n\n", ++m_changes};
    if (kind == "pen") {
        m_pens.erase(std::remove(m_pens.begin(), m_pens.end(), key), m_pens.end());
        m_pens.push_front(key);
        if (m_pens.size() > 1 + kRecentPens) {
            m_current.erase(m_pens.back());
            m_pens.pop_back();
        }
    }
    // A page may leave while it is woken (its stream fails at once).
    const auto pages = m_pages;
    for (const auto& page : pages) page->wake();
}

std::shared_ptr<Hub::Page> Hub::Open(std::function<void()> wake) {
    m_pages.push_back(std::make_shared<Page>(Page{std::move(wake), 0}));
    return m_pages.back();
}

void Hub::Leave(const std::shared_ptr<Page>& page) { m_pages.remove(page); }

std::string Hub::Take(Page& page) const {
    std::vector<const Entry*> changed;
    for (const auto& [key, entry] : m_current)
        if (entry.change > page.read) changed.push_back(&entry);
    std::sort(changed.begin(), changed.end(), [](const Entry* a, const Entry* b) { return a->change < b->change; });
    std::string text;
    for (const Entry* entry : changed) text += entry->event;
    page.read = m_changes;
    return text;
}

}  // namespace ptsa_panel
