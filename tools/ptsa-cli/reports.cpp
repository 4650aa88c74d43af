#include "reports.h"

#include "text.h"

namespace ptsa_cli {

void Inbox::Add(Report report) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reports.push_back(std::move(report));
    }
    m_arrived.notify_all();
}

std::vector<Report> Inbox::Take(Clock::time_point deadline, const std::atomic<bool>& stop) {
    // The stop flag is set by a signal handler, which cannot notify: look
    // at it a few times a second.
    constexpr auto kStopPoll = std::chrono::milliseconds(50);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_reports.empty() && !stop && Clock::now() < deadline)
        m_arrived.wait_until(lock, std::min(deadline, Clock::now() + kStopPoll));
    std::vector<Report> taken(std::make_move_iterator(m_reports.begin()), std::make_move_iterator(m_reports.end()));
    m_reports.clear();
    return taken;
}

namespace {

template <std::size_t N>
std::string Text(const PevraNUV_Char (&units)[N]) {
    return ToUtf8(units, N);
}

Json ButtonJson(const PevraNUV_ButtonFunction& record) {
    return {{"function", record.function}, {"text", Text(record.text)}};
}

// Runs on the sync thread under the library's lock: nothing may leave it,
// not even a failed allocation.
template <typename MakeValue>
void Post(void* context, const char* setting, int index, MakeValue makeValue) noexcept {
    try {
        static_cast<Inbox*>(context)->Add(Report{std::chrono::system_clock::now(), setting, index, makeValue()});
    } catch (...) {
        // A report that cannot be copied is lost; the library goes on.
    }
}

Json CodeList(const PevraNUV_ButtonFunction* options, std::size_t count) {
    Json codes = Json::array();
    for (std::size_t i = 0; i < count; ++i) codes.push_back(options[i].function);
    return codes;
}

// The option slots differ only in the setting they report.
template <const char* Setting>
void OnCodeOptions(void* context, const PevraNUV_ButtonFunction* options, std::size_t count) {
    Post(context, Setting, -1, [&] { return CodeList(options, count); });
}

template <const char* Setting>
void OnEraser(void* context, const PevraNUV_ButtonFunction* functions, std::size_t index) {
    Post(context, Setting, -1, [&] { return ButtonJson(functions[index]); });
}

template <const char* Setting>
void OnSwitch(void* context, const PevraNUV_SideSwitch* sideSwitch) {
    Post(context, Setting, -1, [&] {
        Json value = ButtonJson(sideSwitch->press);
        value["hoverClick"] = sideSwitch->hoverClick;
        return value;
    });
}

template <const char* Setting>
void OnNumber(void* context, std::int32_t value) {
    Post(context, Setting, -1, [&] { return Json(value); });
}

template <const char* Setting>
void OnRange(void* context, std::int32_t low, std::int32_t high) {
    Post(context, Setting, -1, [&] { return Json::array({low, high}); });
}

constexpr char kEraserSingle[] = "eraserSingle";
constexpr char kEraserDouble[] = "eraserDouble";
constexpr char kEraserLong[] = "eraserLong";
constexpr char kTopSwitch[] = "topSwitch";
constexpr char kBottomSwitch[] = "bottomSwitch";
constexpr char kTip[] = "tip";
constexpr char kTilt[] = "tilt";
constexpr char kTopSingleOptions[] = "topSingleOptions";
constexpr char kTopDoubleOptions[] = "topDoubleOptions";
constexpr char kTopLongOptions[] = "topLongOptions";
constexpr char kSideSwitchOptions[] = "sideSwitchOptions";
constexpr char kWedgeOptions[] = "wedgeOptions";
constexpr char kRangeA[] = "rangeA";
constexpr char kRangeB[] = "rangeB";

PevraNUV_Callbacks MakeTable() {
    PevraNUV_Callbacks table{};
    table.OnVersions = [](void* context, const PevraNUV_Versions* versions) {
        Post(context, "versions", -1, [&] {
            return Json{{"service", Text(versions->serviceVersion)}, {"hidRouter", Text(versions->hidRouterVersion)}};
        });
    };
    table.OnPenInfo = [](void* context, const PevraNUV_PenInfo* pen) {
        Post(context, "pen", -1, [&] {
            return Json{{"serialNumber", Text(pen->serialNumber)},
                        {"penId", Text(pen->penId)},
                        {"btId", Text(pen->btId)},
                        {"batteryStatus", pen->batteryStatus}};
        });
    };
    table.OnEraserSinglePress = OnEraser<kEraserSingle>;
    table.OnEraserDoublePress = OnEraser<kEraserDouble>;
    table.OnEraserLongPress = OnEraser<kEraserLong>;
    table.OnTopSwitch = OnSwitch<kTopSwitch>;
    table.OnBottomSwitch = OnSwitch<kBottomSwitch>;
    table.OnMenuOp = [](void* context, const PevraNUV_ButtonFunction* wedges, std::size_t index) {
        Post(context, "wedges", static_cast<int>(index), [&] {
            Json all = Json::array();
            for (std::size_t i = 0; i < 10; ++i) all.push_back(ButtonJson(wedges[i]));
            return all;
        });
    };
    table.OnTipSensitivity = OnNumber<kTip>;
    table.OnTiltSensitivity = OnNumber<kTilt>;
    table.OnSlavedDisplayZoom = [](void* context, PevraNUV_ZoomMap zoom) {
        Post(context, "zoom", -1, [&] { return Json::array({zoom.a, zoom.b, zoom.c, zoom.d}); });
    };
    // Run-application options carry their names; the other lists codes.
    table.OnRunAppOptions = [](void* context, const PevraNUV_ButtonFunction* options, std::size_t count) {
        Post(context, "runAppOptions", -1, [&] {
            Json names = Json::array();
            for (std::size_t i = 0; i < count; ++i) names.push_back(Text(options[i].text));
            return names;
        });
    };
    table.OnTopButtonSingleOptions = OnCodeOptions<kTopSingleOptions>;
    table.OnTopButtonDoubleOptions = OnCodeOptions<kTopDoubleOptions>;
    table.OnTopButtonLongOptions = OnCodeOptions<kTopLongOptions>;
    table.OnSideSwitchOptions = OnCodeOptions<kSideSwitchOptions>;
    table.OnRadialWedgeOptions = OnCodeOptions<kWedgeOptions>;
    table.OnWedgeCount = [](void* context, std::size_t count) {
        Post(context, "wedgeCount", -1, [&] { return Json(count); });
    };
    table.OnRangeA = OnRange<kRangeA>;
    table.OnRangeB = OnRange<kRangeB>;
    return table;
}

}  // namespace

const PevraNUV_Callbacks& ReportingCallbacks() {
    static const PevraNUV_Callbacks table = MakeTable();
    return table;
}

}  // namespace ptsa_cli
