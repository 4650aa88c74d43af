// The recording callback table.
#include "test_support.h"

#include <cstdint>

namespace ptsa_test {

namespace {

void Note(void* context, std::string call, const void* pointer = nullptr) {
    static_cast<Recorder*>(context)->calls.push_back(std::move(call));
    static_cast<Recorder*>(context)->pointers.push_back(pointer);
}

std::string Function(const PevraNUV_ButtonFunction& record) {
    return std::to_string(record.function) + "," + Narrow(record.text);
}

template <const char* Name>
void Press(void* context, const PevraNUV_ButtonFunction* records, std::size_t index) {
    Note(context, Name + (index ? std::to_string(index) : "") + "(" + Function(records[index]) + ")", records);
}

void Wedge(void* context, const PevraNUV_ButtonFunction* wedges, std::size_t index) {
    Note(context, "wedge" + std::to_string(index) + "(" + Function(wedges[index]) + ")", wedges);
}

template <const char* Name>
void Switch(void* context, const PevraNUV_SideSwitch* side) {
    Note(context, std::string(Name) + "(" + Function(side->press) + "," + std::to_string(side->hoverClick) + ")", side);
}

template <const char* Name>
void Options(void* context, const PevraNUV_ButtonFunction* options, std::size_t count) {
    std::string call = std::string(Name) + "(";
    for (std::size_t i = 0; i < count; ++i) {
        call += (i ? "," : "") + std::to_string(options[i].function);
        if (options[i].text[0]) call += ":" + Narrow(options[i].text);
    }
    Note(context, call + ")", options);
}

template <const char* Name>
void Number(void* context, std::int32_t value) {
    Note(context, std::string(Name) + "(" + std::to_string(value) + ")");
}

template <const char* Name>
void Range(void* context, std::int32_t low, std::int32_t high) {
    Note(context, std::string(Name) + "(" + std::to_string(low) + "," + std::to_string(high) + ")");
}

constexpr char kEraserSingle[] = "eraserSingle", kEraserDouble[] = "eraserDouble", kEraserLong[] = "eraserLong",
               kTopSwitch[] = "topSwitch", kBottomSwitch[] = "bottomSwitch", kTip[] = "tip", kTilt[] = "tilt",
               kRunApp[] = "runAppOptions", kTopSingle[] = "topSingleOptions", kTopDouble[] = "topDoubleOptions",
               kTopLong[] = "topLongOptions", kSide[] = "sideSwitchOptions", kRadial[] = "radialWedgeOptions",
               kRangeA[] = "rangeA", kRangeB[] = "rangeB";

}  // namespace

const PevraNUV_Callbacks Recorder::kTable = {
    [](void* context, const PevraNUV_Versions* versions) {
        Note(context, "versions(" + Narrow(versions->serviceVersion) + "," + Narrow(versions->hidRouterVersion) + ")");
    },
    [](void* context, const PevraNUV_PenInfo* pen) {
        Note(context, "pen(" + Narrow(pen->serialNumber) + "," + Narrow(pen->penId) + "," + Narrow(pen->btId) + "," +
                          std::to_string(pen->batteryStatus) + ")", pen);
    },
    Press<kEraserSingle>, Press<kEraserDouble>, Press<kEraserLong>, Switch<kTopSwitch>, Switch<kBottomSwitch>, Wedge,
    Number<kTip>, Number<kTilt>,
    [](void* context, PevraNUV_ZoomMap zoom) {
        Note(context, "zoom(" + std::to_string(zoom.a) + "," + std::to_string(zoom.b) + "," + std::to_string(zoom.c) +
                          "," + std::to_string(zoom.d) + ")");
    },
    Options<kRunApp>, Options<kTopSingle>, Options<kTopDouble>, Options<kTopLong>, Options<kSide>, Options<kRadial>,
    [](void* context, std::size_t count) { Note(context, "wedges(" + std::to_string(count) + ")"); },
    Range<kRangeA>, Range<kRangeB>,
};

std::string Recorder::Take() {
    std::string text;
    for (const std::string& call : calls) text += (text.empty() ? "" : "\n") + call;
    calls.clear();
    pointers.clear();
    return text;
}

}  // namespace ptsa_test
