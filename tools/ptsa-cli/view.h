// The settings as people and scripts read them. The view itself is
// SettingsJson (reports.h): what the session's snapshot holds.
#pragma once

#include <string>

#include "reports.h"

namespace ptsa_cli {

// Text for people: every setting of the view, one line each.
std::string DescribeAll(const Json& settings);
// Text for people: one report, as a label and a value.
std::string DescribeReport(const Report& report);
// The JSON form of one report.
Json ReportJson(const Report& report);
// The value a report carries for its own setting: one wedge for "wedges".
const Json& ReportedValue(const Report& report);
// The label of a setting, with the wedge's number and direction.
std::string Label(const std::string& setting, int index = -1);
// Text for people: the value of a setting.
std::string Describe(const std::string& setting, const Json& value);

}  // namespace ptsa_cli
