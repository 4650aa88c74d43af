// The hub between the panel's own thread, which publishes what the library
// reports, and the pages, each reading an event stream (Server-Sent Events).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace ptsa_panel {

class Hub {
public:
    // One open page. Its queue starts with the whole current state.
    struct Page {
        std::deque<std::string> pending;
        bool dropped = false;  // fell too far behind: its stream ends
    };
    enum class Next { Events, Idle, Closed };

    // Sends an event of one kind to every open page, and keeps it as the
    // current value of key for pages opened later.
    void Publish(const std::string& key, const std::string& kind, const std::string& json);

    std::shared_ptr<Page> Open();
    void Leave(const std::shared_ptr<Page>& page);

    // Waits up to wait for events of page and moves them, as one piece of
    // the event stream, into text.
    Next Take(Page& page, std::string& text, std::chrono::milliseconds wait);

    // Ends every stream; Take answers Closed from now on.
    void Close();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, std::string> m_current;  // key -> its last event
    std::list<std::shared_ptr<Page>> m_pages;
    bool m_closed = false;
};

}  // namespace ptsa_panel
