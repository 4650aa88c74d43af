// What the library reports through its callbacks, copied out on the
// library's sync thread and handed to the main thread.
#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "PTabletSettingsAPI.h"

namespace ptsa_cli {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// One callback call: the setting it reports (a key of the settings view)
// and the value in its JSON form.
struct Report {
    std::chrono::system_clock::time_point time;
    std::string setting;
    int index = -1;  // the wedge that changed; the value holds all ten
    Json value;
};

// Reports waiting for the main thread. The callbacks run with the library's
// lock held, so they only copy and append here, under this inbox's own lock.
class Inbox {
public:
    void Add(Report report);
    // Waits until reports are waiting, the deadline passes or stop is set,
    // and takes all that are waiting.
    std::vector<Report> Take(Clock::time_point deadline, const std::atomic<bool>& stop);

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<Report> m_reports;
};

// A callback table whose every slot adds a report to the Inbox given as
// the registration's context.
const PevraNUV_Callbacks& ReportingCallbacks();

}  // namespace ptsa_cli
