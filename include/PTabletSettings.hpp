// PTabletSettings.hpp: the C++ face of PTabletSettingsAPI, header-only, C++17.
//
// One owner of the link (ptsa::Session), typed values, handlers as
// std::function, and the choice of where they run: on the library's own
// thread (ptsa::OnLibraryThread), or on a thread of yours that drains a
// ptsa::Queue. Everything here is built on the C functions of
// PTabletSettingsAPI.h; nothing is exported by the library for it.
//
//     ptsa::Queue queue;
//     ptsa::Handlers handlers;
//     handlers.tiltSensitivity = [](std::int32_t tilt) { std::printf("tilt %d\n", int(tilt)); };
//     ptsa::Session session(handlers, queue);
//     if (session.connect() != ptsa::Connection::Connected) return 1;
//     session.setTiltSensitivity(7);
//     while (queue.waitFor(std::chrono::seconds(1))) {}  // handlers run here
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "PTabletSettingsAPI.h"

namespace ptsa {

// Texts are UTF-16, as on the pipes; a function's text holds at most 511
// units (the record keeps a terminating zero).
using Text = std::u16string;
constexpr std::size_t kMaxTextUnits = 511;

// The function codes the C header names; every other code is a plain number.
enum class Function : std::int32_t {
    Keystrokes = PevraNUV_FunctionKeystrokes,
    RunApplication = PevraNUV_FunctionRunApplication,
};

struct ButtonFunction {
    std::int32_t code = 0;
    Text text;  // the keystrokes, or the application's path; empty for other codes

    static ButtonFunction Keystrokes(Text keys) { return {std::int32_t(Function::Keystrokes), std::move(keys)}; }
    static ButtonFunction RunApplication(Text path) { return {std::int32_t(Function::RunApplication), std::move(path)}; }
    static ButtonFunction Code(std::int32_t code) { return {code, {}}; }
    bool operator==(const ButtonFunction& other) const { return code == other.code && text == other.text; }
    bool operator!=(const ButtonFunction& other) const { return !(*this == other); }
};

struct SideSwitch {
    ButtonFunction press;
    bool hoverClick = false;
};

struct ZoomMap {
    std::int32_t a = 0, b = 0, c = 0, d = 0;
    bool operator==(const ZoomMap& o) const { return a == o.a && b == o.b && c == o.c && d == o.d; }
};

struct PenInfo {
    Text serialNumber, penId, btId;
    std::int32_t batteryStatus = 0;
};

struct Versions {
    Text hidRouter, service;
};

// The radial menu's ten wedges, in the library's order.
enum class Wedge { East, Southeast, South, Southwest, West, Northwest, North, Northeast, Center, Outside };
constexpr std::size_t kWedgeCount = 10;
using Wedges = std::array<ButtonFunction, kWedgeCount>;

enum class EraserPress { Single, Double, Long };
enum class Switch { Top, Bottom };
// The option lists the service offers, whole, every time one arrives.
enum class Options { RunApplication, TopButtonSingle, TopButtonDouble, TopButtonLong, SideSwitch, RadialWedge };

// What the library reports at registration: the wedge count and two ranges
// (the library does not say which setting each range bounds).
struct Registration {
    std::size_t wedgeCount = 0;
    std::pair<std::int32_t, std::int32_t> rangeA{}, rangeB{};
};

enum class Connection { Connected, ServiceNotAvailable };

// One handler per kind of value; an empty one is not called. Each receives
// copies, never the library's pointers. error receives what a handler threw
// (the link goes on either way).
struct Handlers {
    std::function<void(const Versions&)> versions;
    std::function<void(const PenInfo&)> pen;
    std::function<void(EraserPress, const ButtonFunction&)> eraser;
    std::function<void(Switch, const SideSwitch&)> sideSwitch;
    std::function<void(Wedge, const Wedges&)> wedge;  // the wedge that changed, and all ten
    std::function<void(std::int32_t)> tipSensitivity;
    std::function<void(std::int32_t)> tiltSensitivity;
    std::function<void(const ZoomMap&)> zoom;
    std::function<void(Options, const std::vector<ButtonFunction>&)> options;
    std::function<void(std::exception_ptr)> error;
};

#ifdef _WIN32
// On Windows wchar_t holds the same UTF-16 units.
inline Text FromWide(const std::wstring& text) { return Text(text.begin(), text.end()); }
inline std::wstring ToWide(const Text& text) { return std::wstring(text.begin(), text.end()); }
#endif

// Where handlers run.
class Executor {
public:
    virtual ~Executor() = default;
    // Called on the library's thread with its lock held: must not block.
    virtual void Post(std::function<void()> work) = 0;
};

// Runs each handler at once on the library's thread, while it holds its
// lock: a handler must return quickly and must never wait for another
// thread that calls the library (that thread waits for the same lock).
// Setters called from such a handler are queued at once.
class OnLibraryThread final : public Executor {
public:
    void Post(std::function<void()> work) override { work(); }
};

// A queue that a thread of yours drains: handlers run there, in the order
// the library reported the values. To drain it from a message loop, give
// it a wake-up that posts to the loop (a Win32 PostMessage, a Qt
// QMetaObject::invokeMethod) and call poll() when the message arrives.
class Queue final : public Executor {
public:
    explicit Queue(std::function<void()> wakeUp = {}) : m_wakeUp(std::move(wakeUp)) {}

    void Post(std::function<void()> work) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_work.push_back(std::move(work));
        }
        m_ready.notify_one();
        if (m_wakeUp) m_wakeUp();
    }
    // Runs what is queued now; the number of handlers run.
    std::size_t poll() {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            work.swap(m_work);
        }
        for (auto& item : work) item();
        return work.size();
    }
    // Waits until something is queued or the limit has passed, then runs
    // what is queued; whether anything ran.
    template <typename Rep, typename Period>
    bool waitFor(std::chrono::duration<Rep, Period> limit) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_ready.wait_for(lock, limit, [this] { return !m_work.empty(); });
        }
        return poll() > 0;
    }

private:
    std::function<void()> m_wakeUp;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_work;
};

// Owns the link: registers its callback table on construction, shuts the
// library down on destruction. One at a time (a second throws
// std::logic_error); neither copied nor moved, since the library holds its
// address. Every call into the library goes through one lock of the
// session, so that PevraNUV_Shutdown never overlaps another call.
class Session {
public:
    Session(Handlers handlers, Executor& executor)
        : m_handlers(std::make_shared<const Handlers>(std::move(handlers))), m_executor(executor) {
        if (s_open.exchange(true)) throw std::logic_error("ptsa::Session: one session at a time");
        // Each slot copies what it receives and hands it on (Report); the
        // copies are made under Contain, so nothing is thrown into the library.
        m_table.OnVersions = [](void* self, const PevraNUV_Versions* v) {
            Contain([&] { Report(self, &Handlers::versions, Versions{FromField(v->hidRouterVersion), FromField(v->serviceVersion)}); });
        };
        m_table.OnPenInfo = [](void* self, const PevraNUV_PenInfo* p) {
            Contain([&] {
                Report(self, &Handlers::pen,
                       PenInfo{FromField(p->serialNumber), FromField(p->penId), FromField(p->btId), p->batteryStatus});
            });
        };
        m_table.OnEraserSinglePress = &ReportEraser<EraserPress::Single>;
        m_table.OnEraserDoublePress = &ReportEraser<EraserPress::Double>;
        m_table.OnEraserLongPress = &ReportEraser<EraserPress::Long>;
        m_table.OnTopSwitch = &ReportSwitch<Switch::Top>;
        m_table.OnBottomSwitch = &ReportSwitch<Switch::Bottom>;
        m_table.OnMenuOp = [](void* self, const PevraNUV_ButtonFunction* wedges, std::size_t index) {
            Contain([&] {
                Wedges all;
                for (std::size_t i = 0; i < kWedgeCount; ++i) all[i] = FromRecord(wedges[i]);
                Report(self, &Handlers::wedge, static_cast<Wedge>(index), all);
            });
        };
        m_table.OnTipSensitivity = [](void* self, std::int32_t v) { Contain([&] { Report(self, &Handlers::tipSensitivity, v); }); };
        m_table.OnTiltSensitivity = [](void* self, std::int32_t v) { Contain([&] { Report(self, &Handlers::tiltSensitivity, v); }); };
        m_table.OnSlavedDisplayZoom = [](void* self, PevraNUV_ZoomMap z) {
            Contain([&] { Report(self, &Handlers::zoom, ZoomMap{z.a, z.b, z.c, z.d}); });
        };
        m_table.OnRunAppOptions = &ReportOptions<Options::RunApplication>;
        m_table.OnTopButtonSingleOptions = &ReportOptions<Options::TopButtonSingle>;
        m_table.OnTopButtonDoubleOptions = &ReportOptions<Options::TopButtonDouble>;
        m_table.OnTopButtonLongOptions = &ReportOptions<Options::TopButtonLong>;
        m_table.OnSideSwitchOptions = &ReportOptions<Options::SideSwitch>;
        m_table.OnRadialWedgeOptions = &ReportOptions<Options::RadialWedge>;
        // Slots 17-19 report on this thread, before registration returns.
        m_table.OnWedgeCount = [](void* self, std::size_t n) { static_cast<Session*>(self)->m_registration.wedgeCount = n; };
        m_table.OnRangeA = [](void* self, std::int32_t l, std::int32_t h) { static_cast<Session*>(self)->m_registration.rangeA = {l, h}; };
        m_table.OnRangeB = [](void* self, std::int32_t l, std::int32_t h) { static_cast<Session*>(self)->m_registration.rangeB = {l, h}; };
        PevraNUV_RegisterCallbacks(&m_table, this);
    }

    // Shuts the library down: its thread has ended when this returns. Call
    // it on any thread but the library's own (not from an OnLibraryThread
    // handler). Work already posted to a Queue may still be drained later:
    // it holds its own copies.
    ~Session() {
        {
            std::unique_lock<std::shared_mutex> alone(m_calls);
            PevraNUV_Shutdown();
        }
        s_open = false;
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Connects, waiting about a millisecond for the service's pipe (or, with
    // waitWhileBusy, for as long as it is busy). After a restart of the
    // service the library connects again by itself; asking again tells
    // whether the service is there.
    Connection connect(bool waitWhileBusy = false) {
        return Call([&] { return PevraNUV_Connect(waitWhileBusy ? -1 : 0); }) == 0 ? Connection::Connected
                                                                                  : Connection::ServiceNotAvailable;
    }
    const Registration& registration() const { return m_registration; }
    void setLogLevel(int level) { Call([&] { PevraNUV_SetLogLevel(level); }); }

    // Setters queue a change and return; the service's answer reaches the
    // handlers. A text longer than kMaxTextUnits throws std::length_error
    // before anything is sent.
    void setEraser(EraserPress press, const ButtonFunction& function) {
        const PevraNUV_ButtonFunction record = Record(function);
        Call([&] {
            switch (press) {
            case EraserPress::Single: return PevraNUV_SetEraserSinglePress(&record);
            case EraserPress::Double: return PevraNUV_SetEraserDoublePress(&record);
            case EraserPress::Long: return PevraNUV_SetEraserLongPress(&record);
            }
        });
    }
    void setSwitchPress(Switch side, const ButtonFunction& function) {
        const PevraNUV_ButtonFunction record = Record(function);
        Call([&] { side == Switch::Top ? PevraNUV_SetTopSinglePress(&record) : PevraNUV_SetBottomSinglePress(&record); });
    }
    void setHoverClick(Switch side, bool on) {
        Call([&] { side == Switch::Top ? PevraNUV_SetTopHoverClick(on) : PevraNUV_SetBottomHoverClick(on); });
    }
    void setWedge(Wedge wedge, const ButtonFunction& function) {
        const PevraNUV_ButtonFunction record = Record(function);
        Call([&] { PevraNUV_SetMenuOp(static_cast<int>(wedge), &record); });
    }
    void setMenuCenterRightClick(unsigned value) { Call([&] { PevraNUV_SetMenuCenterRightClick(value); }); }
    void setTipSensitivity(unsigned value) { Call([&] { PevraNUV_SetTipSensitivity(value); }); }
    void setTiltSensitivity(unsigned value) { Call([&] { PevraNUV_SetTiltSensitivity(value); }); }
    void setZoom(const ZoomMap& z) { Call([&] { PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap{z.a, z.b, z.c, z.d}); }); }
    void resetZoom() { Call([] { PevraNUV_ResetSlavedDisplayZoom(); }); }

    // Key capture in two steps, for a host that waits for its user: start
    // it, and later finish it, which returns the keystrokes the service
    // captured in between (the library reports nothing of them while
    // capturing).
    void startKeyCapture() { Call([] { PevraNUV_StartKeyCapture(); }); }
    Text finishKeyCapture() {
        // Room for far more than a capture gathers: the library hands over
        // nothing when the keystrokes do not fit.
        std::vector<PevraNUV_Char> keys(64 * 1024);
        Call([&] { PevraNUV_FinishKeyCapture(keys.data(), keys.size() * sizeof(PevraNUV_Char)); });
        return Text(keys.data(), keys.data() + std::char_traits<PevraNUV_Char>::length(keys.data()));
    }
    // Key capture in one call: starts it, waits for duration or until stop
    // is set, then finishes it.
    template <typename Rep, typename Period>
    Text captureKeystrokes(std::chrono::duration<Rep, Period> duration, const std::atomic<bool>* stop = nullptr) {
        startKeyCapture();
        const auto end = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < end && !(stop && stop->load()))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return finishKeyCapture();
    }

private:
    template <typename Do>
    std::invoke_result_t<Do&> Call(Do&& call) {
        if (t_inCallback) return call();
        std::shared_lock<std::shared_mutex> shared(m_calls);
        return call();
    }

    static PevraNUV_ButtonFunction Record(const ButtonFunction& function) {
        if (function.text.size() > kMaxTextUnits) throw std::length_error("ptsa: a function's text holds at most 511 units");
        PevraNUV_ButtonFunction record{};
        record.function = function.code;
        std::copy(function.text.begin(), function.text.end(), record.text);
        return record;
    }

    template <typename Work>
    static void Contain(Work&& work) noexcept {
        try {
            work();
        } catch (...) {
            // Out of memory while copying or posting: this value is lost,
            // never the library's thread.
        }
    }

    // On the library's thread: hands the copied values to the executor with
    // a share of the handlers, so that work drained after the session has
    // gone is still safe. What a handler throws goes to error.
    template <typename Handler, typename... Values>
    static void Report(void* self, Handler Handlers::*slot, Values... values) {
        auto& session = *static_cast<Session*>(self);
        if (!((*session.m_handlers).*slot)) return;
        struct InCallback {
            InCallback() { t_inCallback = true; }
            ~InCallback() { t_inCallback = false; }
        } mark;
        session.m_executor.Post([handlers = session.m_handlers, slot, values...] {
            try {
                ((*handlers).*slot)(values...);
            } catch (...) {
                if (handlers->error) Contain([&] { handlers->error(std::current_exception()); });
            }
        });
    }
    template <EraserPress press>
    static void ReportEraser(void* self, const PevraNUV_ButtonFunction* functions, std::size_t index) {
        Contain([&] { Report(self, &Handlers::eraser, press, FromRecord(functions[index])); });
    }
    template <Switch side>
    static void ReportSwitch(void* self, const PevraNUV_SideSwitch* s) {
        Contain([&] { Report(self, &Handlers::sideSwitch, side, SideSwitch{FromRecord(s->press), s->hoverClick != 0}); });
    }
    template <Options list>
    static void ReportOptions(void* self, const PevraNUV_ButtonFunction* records, std::size_t count) {
        Contain([&] {
            std::vector<ButtonFunction> options;
            options.reserve(count);
            for (std::size_t i = 0; i < count; ++i) options.push_back(FromRecord(records[i]));
            Report(self, &Handlers::options, list, std::move(options));
        });
    }

    template <std::size_t N>
    static Text FromField(const PevraNUV_Char (&field)[N]) {
        std::size_t length = 0;
        while (length < N && field[length] != 0) ++length;
        return Text(field, field + length);
    }
    static ButtonFunction FromRecord(const PevraNUV_ButtonFunction& record) { return {record.function, FromField(record.text)}; }

    // Set on the library's thread while it runs one of the session's
    // callbacks: calls made there go straight to the library, which cannot
    // be shutting down under them (Shutdown waits for the callback), and
    // must not wait for the session's lock (Shutdown may hold it).
    static inline thread_local bool t_inCallback = false;
    // One session per module at a time: the library has one client per process.
    static inline std::atomic<bool> s_open{false};

    std::shared_ptr<const Handlers> m_handlers;
    Executor& m_executor;
    PevraNUV_Callbacks m_table{};
    Registration m_registration;
    std::shared_mutex m_calls;
};

}  // namespace ptsa
