#include "reports.h"

#include "text.h"

namespace ptsa_cli {
namespace {

Json ButtonJson(const ptsa::ButtonFunction& function) { return {{"function", function.code}, {"text", ToUtf8(function.text)}}; }

Report Reported(const char* setting, Json value, int index = -1) {
    return Report{std::chrono::system_clock::now(), setting, index, std::move(value)};
}

// The lists of codes, by the setting the view keeps them under; the
// run-application list carries names instead.
const char* OptionsSetting(ptsa::Options list) {
    switch (list) {
    case ptsa::Options::RunApplication: return "runAppOptions";
    case ptsa::Options::TopButtonSingle: return "topSingleOptions";
    case ptsa::Options::TopButtonDouble: return "topDoubleOptions";
    case ptsa::Options::TopButtonLong: return "topLongOptions";
    case ptsa::Options::SideSwitch: return "sideSwitchOptions";
    case ptsa::Options::RadialWedge: return "wedgeOptions";
    }
    return "options";
}

}  // namespace

ptsa::Handlers ReportingHandlers(std::function<void(Report)> add) {
    ptsa::Handlers h;
    h.versions = [add](const ptsa::Versions& v) {
        add(Reported("versions", {{"service", ToUtf8(v.service)}, {"hidRouter", ToUtf8(v.hidRouter)}}));
    };
    h.pen = [add](const ptsa::PenInfo& pen) {
        add(Reported("pen", {{"serialNumber", ToUtf8(pen.serialNumber)},
                             {"penId", ToUtf8(pen.penId)},
                             {"btId", ToUtf8(pen.btId)},
                             {"batteryStatus", pen.batteryStatus}}));
    };
    h.eraser = [add](ptsa::EraserPress press, const ptsa::ButtonFunction& function) {
        static const char* const kSettings[] = {"eraserSingle", "eraserDouble", "eraserLong"};
        add(Reported(kSettings[static_cast<int>(press)], ButtonJson(function)));
    };
    h.sideSwitch = [add](ptsa::Switch side, const ptsa::SideSwitch& sideSwitch) {
        Json value = ButtonJson(sideSwitch.press);
        value["hoverClick"] = sideSwitch.hoverClick ? 1 : 0;
        add(Reported(side == ptsa::Switch::Top ? "topSwitch" : "bottomSwitch", std::move(value)));
    };
    h.wedge = [add](ptsa::Wedge wedge, const ptsa::Wedges& wedges) {
        Json all = Json::array();
        for (const ptsa::ButtonFunction& function : wedges) all.push_back(ButtonJson(function));
        add(Reported("wedges", std::move(all), static_cast<int>(wedge)));
    };
    h.tipSensitivity = [add](std::int32_t value) { add(Reported("tip", value)); };
    h.tiltSensitivity = [add](std::int32_t value) { add(Reported("tilt", value)); };
    h.zoom = [add](const ptsa::ZoomMap& z) { add(Reported("zoom", Json::array({z.a, z.b, z.c, z.d}))); };
    h.options = [add](ptsa::Options list, const std::vector<ptsa::ButtonFunction>& options) {
        Json entries = Json::array();
        for (const ptsa::ButtonFunction& option : options)
            entries.push_back(list == ptsa::Options::RunApplication ? Json(ToUtf8(option.text)) : Json(option.code));
        add(Reported(OptionsSetting(list), std::move(entries)));
    };
    return h;
}

std::vector<Report> RegistrationReports(const ptsa::Registration& registration) {
    return {Reported("wedgeCount", registration.wedgeCount),
            Reported("rangeA", Json::array({registration.rangeA.first, registration.rangeA.second})),
            Reported("rangeB", Json::array({registration.rangeB.first, registration.rangeB.second}))};
}

}  // namespace ptsa_cli
