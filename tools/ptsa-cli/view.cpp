#include "view.h"

#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace ptsa_cli {
namespace {

enum class Kind { Versions, Pens, Button, Switch, Wedges, Number, Zoom, Names, Codes, Range };

struct Setting {
    const char* key;
    const char* label;
    Kind kind;
};

// The settings in the order they are shown.
constexpr Setting kSettings[] = {
    {"versions", "Versions", Kind::Versions},
    {"pens", "Pen", Kind::Pens},
    {"eraserSingle", "Eraser single press", Kind::Button},
    {"eraserDouble", "Eraser double press", Kind::Button},
    {"eraserLong", "Eraser long press", Kind::Button},
    {"topSwitch", "Upper side switch", Kind::Switch},
    {"bottomSwitch", "Lower side switch", Kind::Switch},
    {"wedges", "Wedge", Kind::Wedges},
    {"tip", "Tip pressure curve", Kind::Number},
    {"tilt", "Tilt sensitivity", Kind::Number},
    {"zoom", "Slaved display zoom map", Kind::Zoom},
    {"runAppOptions", "Run-application options", Kind::Names},
    {"topSingleOptions", "Top single-press options", Kind::Codes},
    {"topDoubleOptions", "Top double-press options", Kind::Codes},
    {"topLongOptions", "Top long-press options", Kind::Codes},
    {"sideSwitchOptions", "Side switch options", Kind::Codes},
    {"wedgeOptions", "Radial wedge options", Kind::Codes},
    {"wedgeCount", "Radial wedges", Kind::Number},
    {"rangeA", "Range A", Kind::Range},
    {"rangeB", "Range B", Kind::Range},
};

constexpr const char* kWedgeNames[] = {"East", "Southeast", "South", "Southwest", "West",
                                       "Northwest", "North", "Northeast", "Center", "Outside"};
constexpr std::size_t kWedges = 10;

const Setting& Find(const std::string& key) {
    // A pen report updates the list of pens.
    const std::string listed = key == "pen" ? "pens" : key;
    for (const Setting& setting : kSettings)
        if (listed == setting.key) return setting;
    throw std::out_of_range("no setting " + key);
}

// Texts are shown as they are, between quotes: paths keep single
// backslashes.
std::string Quoted(const Json& text) { return '"' + text.get<std::string>() + '"'; }

std::string Joined(const Json& list, bool quoted) {
    if (list.empty()) return "(none)";
    std::string text;
    for (const Json& item : list) {
        if (!text.empty()) text += quoted ? ", " : " ";
        text += quoted ? Quoted(item) : item.dump();
    }
    return text;
}

std::string DescribeButton(const Json& button) {
    std::string text = button.at("function").dump();
    if (!button.at("text").get_ref<const std::string&>().empty()) text += " " + Quoted(button.at("text"));
    return text;
}

std::string DescribePen(const Json& pen) {
    return pen.at("serialNumber").get<std::string>() + ", pen id " + pen.at("penId").get<std::string>() + ", BT id " +
           pen.at("btId").get<std::string>() + ", battery " + pen.at("batteryStatus").dump();
}

std::string Describe(Kind kind, const Json& value) {
    switch (kind) {
    case Kind::Versions:
        return "service " + value.at("service").get<std::string>() + ", HID router " +
               value.at("hidRouter").get<std::string>();
    case Kind::Pens: return DescribePen(value);
    case Kind::Button:
    case Kind::Wedges: return DescribeButton(value);
    case Kind::Switch:
        return DescribeButton(value) + ", hover click " + (value.at("hoverClick") != 0 ? "on" : "off");
    case Kind::Number: return value.dump();
    case Kind::Zoom: return Joined(value, false);
    case Kind::Names: return Joined(value, true);
    case Kind::Codes: return Joined(value, false);
    case Kind::Range: return value.at(0).dump() + " to " + value.at(1).dump();
    }
    return value.dump();
}

std::string Line(const std::string& label, const std::string& value) {
    std::ostringstream line;
    line << std::left << std::setw(28) << label << ' ' << value << '\n';
    return line.str();
}

}  // namespace

std::string Label(const std::string& setting, int index) {
    if (index < 0 || index >= static_cast<int>(kWedges)) return Find(setting).label;
    return std::string("Wedge ") + std::to_string(index) + " (" + kWedgeNames[index] + ")";
}

std::string Describe(const std::string& setting, const Json& value) { return Describe(Find(setting).kind, value); }

const Json& ReportedValue(const Report& report) {
    return report.index >= 0 ? report.value.at(static_cast<std::size_t>(report.index)) : report.value;
}

std::string DescribeReport(const Report& report) {
    return Line(Label(report.setting, report.index), Describe(report.setting, ReportedValue(report)));
}

std::string DescribeAll(const Json& settings) {
    std::string text;
    for (const Setting& setting : kSettings) {
        const Json& value = settings.at(setting.key);
        if (setting.kind == Kind::Wedges) {
            for (std::size_t i = 0; i < value.size(); ++i)
                text += Line(Label(setting.key, static_cast<int>(i)), Describe(setting.kind, value[i]));
        } else if (setting.kind == Kind::Pens) {
            if (value.empty()) text += Line(setting.label, "(none reported)");
            for (const Json& pen : value) text += Line(setting.label, Describe(setting.kind, pen));
        } else {
            text += Line(setting.label, Describe(setting.kind, value));
        }
    }
    return text;
}

Json ReportJson(const Report& report) {
    Json json{{"setting", report.setting}};
    if (report.index >= 0) json["index"] = report.index;
    json["value"] = ReportedValue(report);
    return json;
}

}  // namespace ptsa_cli
