// What the library reports, as the settings view and the output take it:
// one report for each value the C++ face hands to a handler.
#pragma once

#include <nlohmann/json.hpp>

#include <PTabletSettings.hpp>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace ptsa_cli {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// One value: the setting it reports (a key of the settings view) and the
// value in its JSON form.
struct Report {
    std::chrono::system_clock::time_point time;
    std::string setting;
    int index = -1;  // the wedge that changed; the value holds all ten
    Json value;
};

// Handlers that turn every value into a report for add.
ptsa::Handlers ReportingHandlers(std::function<void(Report)> add);

// What the library reported at registration, as reports.
std::vector<Report> RegistrationReports(const ptsa::Registration& registration);

// Every setting as the session's snapshot holds it, and the registration's
// reports: the settings view, keyed as the reports are ("pens" lists every
// pen reported).
Json SettingsJson(const ptsa::Snapshot& now, const ptsa::Registration& registration);

}  // namespace ptsa_cli
