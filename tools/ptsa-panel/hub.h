// The hub between what the library reports and the pages' event streams
// (Server-Sent Events). It keeps the current event of every value, and
// nothing per page but how far that page has read: a page is sent every
// value that changed since, once, in the order of the changes. A page that
// reads slowly therefore gets the latest values, not a backlog, and the
// hub's size does not depend on the pages at all.
//
// Everything runs on the panel's one I/O thread: no lock.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>

namespace ptsa_panel {

class Hub {
public:
    // One open event stream. The hub calls wake when events are waiting
    // for it; the stream then takes them with Take.
    struct Page {
        std::function<void()> wake;
        std::uint64_t read = 0;  // the last change this page was sent
    };

    // Keeps an event of one kind as the current value of key and wakes
    // every page. Pen records are keyed by serial: the hub keeps the
    // current pen and the kRecentPens serials before it.
    void Publish(const std::string& key, const std::string& kind, const std::string& json);

    std::shared_ptr<Page> Open(std::function<void()> wake);
    void Leave(const std::shared_ptr<Page>& page);
    std::size_t open() const { return m_pages.size(); }

    // The events page has not been sent yet, as one piece of the stream
    // (empty when there are none); marks them sent.
    std::string Take(Page& page) const;

    static constexpr std::size_t kRecentPens = 32;

private:
    struct Entry {
        std::string event;
        std::uint64_t change;
    };
    std::map<std::string, Entry> m_current;  // key -> its last event
    std::deque<std::string> m_pens;          // pen keys, the current one first
    std::uint64_t m_changes = 0;
    std::list<std::shared_ptr<Page>> m_pages;
};

}  // namespace ptsa_panel
