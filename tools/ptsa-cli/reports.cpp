#include "reports.h"

#include "text.h"

namespace ptsa_cli {
namespace {

// The settings of the view, in the order of the library's enumerations.
const char* const kEraserSettings[] = {"eraserSingle", "eraserDouble", "eraserLong"};
const char* const kSwitchSettings[] = {"topSwitch", "bottomSwitch"};
const char* const kOptionsSettings[] = {"runAppOptions",  "topSingleOptions",  "topDoubleOptions",
                                        "topLongOptions", "sideSwitchOptions", "wedgeOptions"};

Report Reported(const char* setting, Json value, int index = -1) {
    return Report{std::chrono::system_clock::now(), setting, index, std::move(value)};
}

Json ButtonJson(const ptsa::ButtonFunction& function) { return {{"function", function.code}, {"text", ToUtf8(function.text)}}; }
Json VersionsJson(const ptsa::Versions& v) { return {{"service", ToUtf8(v.service)}, {"hidRouter", ToUtf8(v.hidRouter)}}; }
Json PenJson(const ptsa::PenInfo& pen) {
    return {{"serialNumber", ToUtf8(pen.serialNumber)}, {"penId", ToUtf8(pen.penId)}, {"btId", ToUtf8(pen.btId)},
            {"batteryStatus", pen.batteryStatus}};
}
Json SwitchJson(const ptsa::SideSwitch& sideSwitch) {
    Json value = ButtonJson(sideSwitch.press);
    value["hoverClick"] = sideSwitch.hoverClick ? 1 : 0;
    return value;
}
Json WedgesJson(const ptsa::Wedges& wedges) {
    Json all = Json::array();
    for (const ptsa::ButtonFunction& function : wedges) all.push_back(ButtonJson(function));
    return all;
}
Json ZoomJson(const ptsa::ZoomMap& z) { return Json::array({z.a, z.b, z.c, z.d}); }
// The lists of codes; the run-application list carries names instead.
Json OptionsJson(ptsa::Options list, const std::vector<ptsa::ButtonFunction>& options) {
    Json entries = Json::array();
    for (const ptsa::ButtonFunction& option : options)
        entries.push_back(list == ptsa::Options::RunApplication ? Json(ToUtf8(option.text)) : Json(option.code));
    return entries;
}

}  // namespace

ptsa::Handlers ReportingHandlers(std::function<void(Report)> add) {
    ptsa::Handlers h;
    h.versions = [add](const ptsa::Versions& v) { add(Reported("versions", VersionsJson(v))); };
    h.pen = [add](const ptsa::PenInfo& pen) { add(Reported("pen", PenJson(pen))); };
    h.eraser = [add](ptsa::EraserPress press, const ptsa::ButtonFunction& function) {
        add(Reported(kEraserSettings[static_cast<int>(press)], ButtonJson(function)));
    };
    h.sideSwitch = [add](ptsa::Switch side, const ptsa::SideSwitch& sideSwitch) {
        add(Reported(kSwitchSettings[static_cast<int>(side)], SwitchJson(sideSwitch)));
    };
    h.wedge = [add](ptsa::Wedge wedge, const ptsa::Wedges& wedges) {
        add(Reported("wedges", WedgesJson(wedges), static_cast<int>(wedge)));
    };
    h.tipSensitivity = [add](std::int32_t value) { add(Reported("tip", value)); };
    h.tiltSensitivity = [add](std::int32_t value) { add(Reported("tilt", value)); };
    h.zoom = [add](const ptsa::ZoomMap& z) { add(Reported("zoom", ZoomJson(z))); };
    h.options = [add](ptsa::Options list, const std::vector<ptsa::ButtonFunction>& options) {
        add(Reported(kOptionsSettings[static_cast<int>(list)], OptionsJson(list, options)));
    };
    return h;
}

Json SettingsJson(const ptsa::Snapshot& now, const ptsa::Registration& registration) {
    Json settings{{"versions", VersionsJson(now.versions)}, {"pens", Json::array()}};
    for (const ptsa::PenInfo& pen : now.pens) settings["pens"].push_back(PenJson(pen));
    for (std::size_t i = 0; i < now.eraser.size(); ++i) settings[kEraserSettings[i]] = ButtonJson(now.eraser[i]);
    for (std::size_t i = 0; i < now.sideSwitch.size(); ++i) settings[kSwitchSettings[i]] = SwitchJson(now.sideSwitch[i]);
    settings["wedges"] = WedgesJson(now.wedges);
    settings["tip"] = now.tipSensitivity;
    settings["tilt"] = now.tiltSensitivity;
    settings["zoom"] = ZoomJson(now.zoom);
    for (std::size_t i = 0; i < now.options.size(); ++i)
        settings[kOptionsSettings[i]] = OptionsJson(static_cast<ptsa::Options>(i), now.options[i]);
    for (Report& report : RegistrationReports(registration)) settings[report.setting] = std::move(report.value);
    return settings;
}

std::vector<Report> RegistrationReports(const ptsa::Registration& registration) {
    return {Reported("wedgeCount", registration.wedgeCount),
            Reported("rangeA", Json::array({registration.rangeA.first, registration.rangeA.second})),
            Reported("rangeB", Json::array({registration.rangeB.first, registration.rangeB.second}))};
}

}  // namespace ptsa_cli
