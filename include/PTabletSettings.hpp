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
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "PTabletSettingsAPI.h"

#if defined(_WIN32)
// Four kernel32 calls, declared here exactly as the Windows SDK and MinGW
// declare them, rather than <windows.h>: that header would hand every host
// its min and max macros (breaking std::min and std::numeric_limits::max
// unless the host defines NOMINMAX before its first include) and thousands
// of other names. A declaration that repeats the SDK's type for type is
// legal before or after <windows.h>; HANDLE is void*, BOOL int, DWORD
// unsigned long, LPCWSTR const wchar_t*. The library's targets are x64 and
// ARM64, where WINAPI (__stdcall) names the only calling convention there
// is, so it is left out.
struct _SECURITY_ATTRIBUTES;
extern "C" {
__declspec(dllimport) void* CreateEventW(struct _SECURITY_ATTRIBUTES*, int, int, const wchar_t*);
__declspec(dllimport) int CloseHandle(void*);
__declspec(dllimport) unsigned long GetLastError(void);
__declspec(dllimport) unsigned long GetCurrentProcessId(void);
}
#elif defined(__linux__)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#else
#error "PTabletSettings.hpp knows the process-wide session mark of Windows and Linux only"
#endif

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

// The text and number rule of every face of the library (this one, the
// .NET binding, ptsa-cli, the panel): what the link cannot carry is refused
// before anything is sent. The C functions themselves send what they are
// given; docs/API.md says why each case is refused.
enum class Rule {
    ZeroUnit,        // a zero unit would end the text there: the rest is lost
    IllFormed,       // a lone surrogate is not UTF-16: the service cannot read it
    ReservedMark,    // the link classifies a request by these marks: a write holding one fails and ends the link
    TooLong,         // more than 511 units: the library's record holds no more
    NumberTooLarge,  // above 2147483647: the library reports values back as int32
};

// What a face throws for input that the rule refuses; what() names the case.
class InputRejected : public std::invalid_argument {
public:
    InputRejected(Rule rule, const std::string& message) : std::invalid_argument(message), m_rule(rule) {}
    Rule rule() const noexcept { return m_rule; }

private:
    Rule m_rule;
};

// The largest number a setter may send: the library reads values back as
// signed 32-bit numbers.
constexpr unsigned long long kLargestNumber = 2147483647;

// Only keystrokes and applications carry a text; the library sends none
// with any other code.
constexpr bool CarriesText(std::int32_t code) {
    return code == std::int32_t(Function::Keystrokes) || code == std::int32_t(Function::RunApplication);
}

// Throws InputRejected when the text, sent with this function code, breaks
// the rule; a text with a code that carries none is never checked (it is
// dropped). The cases are tried in the order below; the first that fails
// is the one reported.
inline void CheckText(std::int32_t code, std::u16string_view text) {
    if (!CarriesText(code)) return;
    const auto at = [](std::size_t i) { return std::to_string(i); };
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == 0) throw InputRejected(Rule::ZeroUnit, "the text holds a zero unit at " + at(i) + ", which would end it there");
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool high = text[i] >= 0xD800 && text[i] < 0xDC00, low = text[i] >= 0xDC00 && text[i] < 0xE000;
        const bool paired = high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
        if (paired) ++i;
        else if (high || low) throw InputRejected(Rule::IllFormed, "the text holds a lone surrogate at " + at(i) + ": it is not well-formed UTF-16");
    }
    // The link takes any request holding the first mark for a read and any
    // other holding the second for the handshake: a write holding one is
    // judged against the wrong reply, fails, and the failure ends the link.
    // The write request closes the text with "} , which completes a mark
    // that the text's end begins ({"GetVal": or {"Connected":"?), so the
    // marks are looked for in the text as it stands in the request.
    std::u16string request(text);
    request += u"\"}";
    if (request.find(u"{\"GetVal\":\"") != request.npos)
        throw InputRejected(Rule::ReservedMark, "the text holds {\"GetVal\":\", which the link would take for a read request");
    if (request.find(u"{\"Connected\":\"?\"}") != request.npos)
        throw InputRejected(Rule::ReservedMark, "the text holds {\"Connected\":\"?\"}, which the link would take for the handshake");
    if (text.size() > kMaxTextUnits)
        throw InputRejected(Rule::TooLong, "the text is " + at(text.size()) + " units long; at most 511 fit");
}

// Throws InputRejected for a number the library could not report back.
inline void CheckNumber(unsigned long long value) {
    if (value > kLargestNumber)
        throw InputRejected(Rule::NumberTooLarge, std::to_string(value) + " is above 2147483647, the largest value the library can report back");
}

// The function as a setter sends it: checked, and without its text when
// its code carries none (so that a record a handler handed out, such as a
// run-application option, can be set back as it came).
inline ButtonFunction Sendable(const ButtonFunction& function) {
    if (!CarriesText(function.code)) return ButtonFunction::Code(function.code);
    CheckText(function.code, function.text);
    return function;
}

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

// The last value the library reported of each kind, as a page reads them
// when it opens. It starts from the library's own zeros (a first value equal
// to them is never reported, so zero is then the service's value too) and
// survives restarts of the service, as the library's copy does. It lacks
// what the library reports to nobody: the radial menu's centre right click
// and the battery alert delay.
struct Snapshot {
    Versions versions;
    PenInfo pen;                // the pen reported last
    std::vector<PenInfo> pens;  // every pen reported, each as last reported, by serial number
    std::array<ButtonFunction, 3> eraser;  // by EraserPress
    std::array<SideSwitch, 2> sideSwitch;  // by Switch
    Wedges wedges;
    std::int32_t tipSensitivity = 0;
    std::int32_t tiltSensitivity = 0;
    ZoomMap zoom;
    std::array<std::vector<ButtonFunction>, 6> options;  // by Options; each list as it last arrived
};

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
    // The service went away (false) or is back (true), as far as the
    // library's connect can tell: see Session::isServiceAvailable.
    std::function<void(bool)> availability;
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
// the library reported the values, also when a handler drains the queue
// again (a modal dialog, a nested message loop): each handler is taken from
// the front as it is run, so a nested drain runs the values after the one
// in hand, never one before it. To drain it from a message loop, give it a
// wake-up that posts to the loop (a Win32 PostMessage, a Qt
// QMetaObject::invokeMethod) and call poll() when the message arrives.
class Queue final : public Executor {
public:
    explicit Queue(std::function<void()> wakeUp = {}) : m_wakeUp(std::move(wakeUp)) {}

    // The wake-up is posted when work arrives and none is awaited: once
    // until the next poll begins, however much arrives (a Win32 message
    // queue holds 10,000 posted messages; a burst of values must not fill
    // it). A poll that begins takes the awaited wake-up, so work that
    // arrives during it posts the next one and none is left waiting.
    void Post(std::function<void()> work) override {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_work.push_back(std::move(work));
            wake = !std::exchange(m_wakeAwaited, true);
        }
        m_ready.notify_one();
        if (wake && m_wakeUp) m_wakeUp();
    }
    // Runs what is queued when it begins (less what a nested poll ran
    // meanwhile); the number of handlers it ran itself.
    std::size_t poll() {
        std::size_t count = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_wakeAwaited = false;
            count = m_work.size();
        }
        std::size_t ran = 0;
        for (; ran < count; ++ran) {
            std::function<void()> next;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_work.empty()) break;
                next = std::move(m_work.front());
                m_work.pop_front();
            }
            next();
        }
        return ran;
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
    bool m_wakeAwaited = false;  // a wake-up was posted and no poll has begun since
};

namespace detail {

// The mark of an open session, one per process whatever the module: a
// static in this header exists once per module that includes it (an EXE and
// a plugin DLL, or a shared object built with hidden visibility, each have
// their own), but the library's client exists once per process. A named
// kernel object (Windows) or an abstract socket address (Linux) is seen by
// every module of the process, and the kernel drops it with the process, so
// a crash leaves no stale mark behind. The name holds the process id, so
// processes do not see each other's marks; the .NET binding takes the same
// one, so a session of one face refuses a session of the other.
class ProcessMark {
public:
    ProcessMark() {
        const std::string name = "PTabletSettingsAPI.Session." + std::to_string(Pid());
#if defined(_WIN32)
        const std::wstring object = L"Local\\" + std::wstring(name.begin(), name.end());
        m_handle = CreateEventW(nullptr, 1, 0, object.c_str());
        if (m_handle && GetLastError() == kAlreadyExists) CloseHandle(std::exchange(m_handle, nullptr));
        if (!m_handle) Refuse();
#else
        m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_socket < 0) Refuse();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        name.copy(address.sun_path + 1, sizeof address.sun_path - 1);  // sun_path[0] 0: abstract
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        if (::bind(m_socket, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
            ::close(std::exchange(m_socket, -1));
            Refuse();
        }
#endif
    }
    ~ProcessMark() {
#if defined(_WIN32)
        CloseHandle(m_handle);
#else
        ::close(m_socket);
#endif
    }
    ProcessMark(const ProcessMark&) = delete;
    ProcessMark& operator=(const ProcessMark&) = delete;

private:
    [[noreturn]] static void Refuse() { throw std::logic_error("another PTabletSettings session is open in this process"); }
#if defined(_WIN32)
    static unsigned long Pid() { return GetCurrentProcessId(); }
    static constexpr unsigned long kAlreadyExists = 183;  // ERROR_ALREADY_EXISTS
    void* m_handle = nullptr;
#else
    static long Pid() { return static_cast<long>(::getpid()); }
    int m_socket = -1;
#endif
};

}  // namespace detail

// Owns the link: registers its callback table on construction, shuts the
// library down on destruction. One per process, whatever module opens it:
// a second throws std::logic_error and leaves the first as it was. Neither
// copied nor moved, since the library holds its address.
//
// Every call into the library goes through one lock of the session, so
// that PevraNUV_Shutdown in the destructor never overlaps a call that began
// before it. A call that begins while the destructor runs, or after it,
// uses a destroyed object: that no call races the destructor is the host's
// duty, as with any C++ object.
class Session {
public:
    Session(Handlers handlers, Executor& executor)
        : m_handlers(std::make_shared<const Handlers>(std::move(handlers))), m_executor(executor) {
        // The mark is taken first (m_mark), so a refused session has touched
        // nothing. A fresh client then starts from the library's zeros, as
        // the snapshot does: no earlier use of the C functions leaves values
        // in it that the snapshot would never hear of.
        PevraNUV_Shutdown();
        // Each slot copies what it receives, keeps it in the snapshot and
        // hands it on (Report); all of it under Contain, so nothing is thrown
        // into the library.
        m_table.OnVersions = [](void* self, const PevraNUV_Versions* v) {
            Contain([&] {
                Report(self, &Handlers::versions, &Snapshot::versions, Versions{FromField(v->hidRouterVersion), FromField(v->serviceVersion)});
            });
        };
        m_table.OnPenInfo = [](void* self, const PevraNUV_PenInfo* p) {
            Contain([&] {
                PenInfo pen{FromField(p->serialNumber), FromField(p->penId), FromField(p->btId), p->batteryStatus};
                Keep(self, [&](Snapshot& now) {
                    auto at = std::find_if(now.pens.begin(), now.pens.end(), [&](const PenInfo& kept) { return kept.serialNumber >= pen.serialNumber; });
                    if (at == now.pens.end() || at->serialNumber != pen.serialNumber) at = now.pens.insert(at, pen);
                    *at = pen;
                });
                Report(self, &Handlers::pen, &Snapshot::pen, pen);
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
                Keep(self, [&](Snapshot& now) { now.wedges = all; });
                Report(self, &Handlers::wedge, static_cast<Wedge>(index), all);
            });
        };
        m_table.OnTipSensitivity = [](void* self, std::int32_t v) {
            Contain([&] { Report(self, &Handlers::tipSensitivity, &Snapshot::tipSensitivity, v); });
        };
        m_table.OnTiltSensitivity = [](void* self, std::int32_t v) {
            Contain([&] { Report(self, &Handlers::tiltSensitivity, &Snapshot::tiltSensitivity, v); });
        };
        m_table.OnSlavedDisplayZoom = [](void* self, PevraNUV_ZoomMap z) {
            Contain([&] { Report(self, &Handlers::zoom, &Snapshot::zoom, ZoomMap{z.a, z.b, z.c, z.d}); });
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
        if (t_inCallback) {
            // Shutdown would wait for this very thread to end: a deadlock, or
            // worse, a crash much later. Stop here, naming the mistake.
            std::fputs("ptsa::Session destroyed on a thread the session runs handlers on (an OnLibraryThread handler, "
                       "or the availability handler): end the session on another thread\n",
                       stderr);
            std::abort();
        }
        StopWatching();
        std::unique_lock<std::shared_mutex> alone(m_calls);
        PevraNUV_Shutdown();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Connects, waiting about a millisecond for the service's pipe (or, with
    // waitWhileBusy, for as long as it is busy). After a restart of the
    // service the library connects again by itself. From the first call on,
    // the session asks the library twice a second whether the service is
    // there, and tells availability when the answer changes.
    Connection connect(bool waitWhileBusy = false) {
        const bool connected = Call([&] { return PevraNUV_Connect(waitWhileBusy ? -1 : 0); }) == 0;
        std::call_once(m_watchStarted, [this, connected] {
            m_available = connected;
            m_watcher = std::thread([this] { Watch(); });
        });
        Tell(connected);
        return connected ? Connection::Connected : Connection::ServiceNotAvailable;
    }
    // Whether the service was there when the session last asked: false
    // before the first connect. The library's connect is all it can ask, and
    // it answers "connected" as long as the library holds the service's
    // pipes: also after a reply the library refused ended the link, until
    // the service closes them.
    bool isServiceAvailable() const { return m_available; }

    // The last value the library reported of each kind (see Snapshot); a
    // copy, taken on any thread.
    Snapshot snapshot() const {
        std::lock_guard<std::mutex> lock(m_snapshotMutex);
        return m_snapshot;
    }

    const Registration& registration() const { return m_registration; }
    void setLogLevel(int level) { Call([&] { PevraNUV_SetLogLevel(level); }); }

    // Setters queue a change and return; the service's answer reaches the
    // handlers. Input that breaks the rule (CheckText, CheckNumber) throws
    // InputRejected before anything is sent.
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
    void setMenuCenterRightClick(unsigned value) {
        CheckNumber(value);
        Call([&] { PevraNUV_SetMenuCenterRightClick(value); });
    }
    void setTipSensitivity(unsigned value) {
        CheckNumber(value);
        Call([&] { PevraNUV_SetTipSensitivity(value); });
    }
    void setTiltSensitivity(unsigned value) {
        CheckNumber(value);
        Call([&] { PevraNUV_SetTiltSensitivity(value); });
    }
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
    // is set, then finishes it. Any duration up to duration::max() (that is,
    // until stop) is waited for; a negative one throws std::invalid_argument
    // before anything is sent.
    template <typename Rep, typename Period>
    Text captureKeystrokes(std::chrono::duration<Rep, Period> duration, const std::atomic<bool>* stop = nullptr) {
        if (duration < duration.zero()) throw std::invalid_argument("ptsa::Session::captureKeystrokes: the duration is negative");
        const auto end = Deadline(duration);
        startKeyCapture();
        while (std::chrono::steady_clock::now() < end && !(stop && stop->load()))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return finishKeyCapture();
    }

private:
    // Now plus duration, or the clock's last moment when that lies beyond
    // it: now + seconds::max() overflows. Compared as floating-point
    // seconds, which hold any duration's range.
    template <typename Rep, typename Period>
    static std::chrono::steady_clock::time_point Deadline(std::chrono::duration<Rep, Period> duration) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point now = Clock::now();
        // (max) in parentheses: a host's <windows.h> may define a max macro.
        const std::chrono::duration<double> asked = duration, room = (Clock::time_point::max)() - now;
        if (asked >= room) return (Clock::time_point::max)();
        return now + std::chrono::ceil<Clock::duration>(duration);
    }

    template <typename Do>
    std::invoke_result_t<Do&> Call(Do&& call) {
        if (t_inCallback) return call();
        std::shared_lock<std::shared_mutex> shared(m_calls);
        return call();
    }

    static PevraNUV_ButtonFunction Record(const ButtonFunction& function) {
        const ButtonFunction sent = Sendable(function);
        PevraNUV_ButtonFunction record{};
        record.function = sent.code;
        std::copy(sent.text.begin(), sent.text.end(), record.text);
        return record;
    }

    // Asks the library twice a second whether the service is there, until
    // the session ends. The library reconnects by itself; this only learns
    // of it, in the one way the C functions offer.
    void Watch() {
        std::unique_lock<std::mutex> lock(m_watchMutex);
        while (!m_watchStop.wait_for(lock, std::chrono::milliseconds(500), [this] { return m_stopWatching; })) {
            lock.unlock();
            Tell(Call([] { return PevraNUV_Connect(0); }) == 0);
            lock.lock();
        }
    }
    void StopWatching() {
        {
            std::lock_guard<std::mutex> lock(m_watchMutex);
            m_stopWatching = true;
        }
        m_watchStop.notify_all();
        if (m_watcher.joinable()) m_watcher.join();
    }
    // Tells the handler through the executor when the answer changed.
    void Tell(bool available) {
        if (m_available.exchange(available) == available || !m_handlers->availability) return;
        const InCallback mark;
        Contain([&] { Post(&Handlers::availability, available); });
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

    template <typename Change>
    static void Keep(void* self, Change&& change) {
        auto& session = *static_cast<Session*>(self);
        std::lock_guard<std::mutex> lock(session.m_snapshotMutex);
        change(session.m_snapshot);
    }
    template <typename Handler, typename Value>
    static void Report(void* self, Handler Handlers::*slot, Value Snapshot::*kept, const Value& value) {
        Keep(self, [&](Snapshot& now) { now.*kept = value; });
        Report(self, slot, value);
    }
    // On the library's thread: hands the copied values to the executor.
    template <typename Handler, typename... Values>
    static void Report(void* self, Handler Handlers::*slot, Values... values) {
        auto& session = *static_cast<Session*>(self);
        if (!((*session.m_handlers).*slot)) return;
        const InCallback mark;
        session.Post(slot, values...);
    }
    // Posts a call of the handler with a share of the handlers, so that work
    // drained after the session has gone is still safe. What a handler
    // throws goes to error.
    template <typename Handler, typename... Values>
    void Post(Handler Handlers::*slot, Values... values) {
        m_executor.Post([handlers = m_handlers, slot, values...] {
            try {
                ((*handlers).*slot)(values...);
            } catch (...) {
                if (handlers->error) Contain([&] { handlers->error(std::current_exception()); });
            }
        });
    }
    template <EraserPress press>
    static void ReportEraser(void* self, const PevraNUV_ButtonFunction* functions, std::size_t index) {
        Contain([&] {
            ButtonFunction function = FromRecord(functions[index]);
            Keep(self, [&](Snapshot& now) { now.eraser[std::size_t(press)] = function; });
            Report(self, &Handlers::eraser, press, std::move(function));
        });
    }
    template <Switch side>
    static void ReportSwitch(void* self, const PevraNUV_SideSwitch* s) {
        Contain([&] {
            SideSwitch now{FromRecord(s->press), s->hoverClick != 0};
            Keep(self, [&](Snapshot& kept) { kept.sideSwitch[std::size_t(side)] = now; });
            Report(self, &Handlers::sideSwitch, side, std::move(now));
        });
    }
    template <Options list>
    static void ReportOptions(void* self, const PevraNUV_ButtonFunction* records, std::size_t count) {
        Contain([&] {
            std::vector<ButtonFunction> options;
            options.reserve(count);
            for (std::size_t i = 0; i < count; ++i) options.push_back(FromRecord(records[i]));
            Keep(self, [&](Snapshot& now) { now.options[std::size_t(list)] = options; });
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

    // Set while the session posts to its executor, on the library's thread
    // or on the availability watcher: calls made there (from handlers an
    // OnLibraryThread runs at once) go straight to the library, which cannot
    // be shutting down under them (the destructor waits for both threads),
    // and must not wait for the session's lock (the destructor may hold it).
    static inline thread_local bool t_inCallback = false;
    struct InCallback {
        InCallback() { t_inCallback = true; }
        ~InCallback() { t_inCallback = false; }
    };

    detail::ProcessMark m_mark;  // first: taken before anything else, released last
    std::shared_ptr<const Handlers> m_handlers;
    Executor& m_executor;
    PevraNUV_Callbacks m_table{};
    Registration m_registration;
    std::shared_mutex m_calls;
    mutable std::mutex m_snapshotMutex;
    Snapshot m_snapshot;
    std::atomic<bool> m_available{false};
    std::once_flag m_watchStarted;
    std::mutex m_watchMutex;
    std::condition_variable m_watchStop;
    bool m_stopWatching = false;
    std::thread m_watcher;
};

}  // namespace ptsa
