// Host threads call every export at once while the service pushes, and the
// sync thread calls back into the library from the push callbacks. Then the
// service's trace must show one connection, and after the handshake every
// change whole (a write, then the read-back of its key) and each caller's in
// call order, none lost; every push must have arrived, in order. A deadlock
// fails on the watchdog; built with PTSA_TSAN, so does any race report.
#include <gtest/gtest.h>

#include <future>
#include <regex>
#include <sstream>

#include "child_process.h"
#include "host.h"

using namespace std::chrono_literals;

namespace {

constexpr int kHostThreads = 4, kIterations = 150;

// Every change carries a tag, 1000000 * (caller + 1) + its sequence number.
std::atomic<unsigned> g_sequences[kHostThreads + 1];
unsigned Tag(int caller) { return 1000000u * static_cast<unsigned>(caller + 1) + ++g_sequences[caller]; }

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<int> g_tips;       // the tips the service answered
std::vector<int> g_batteries;  // the pushed battery status, in order
std::atomic<bool> g_callBack{true}, g_handshakeDone{false};
std::atomic<int> g_started{0};

template <typename Value>
std::size_t Record(std::vector<Value>& values, Value value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    values.push_back(value), g_changed.notify_all();
    return values.size();
}

// On a push, from the sync thread with the library's lock held: a setter,
// key capture and registration in turn.
void OnPen(void*, const PevraNUV_PenInfo* pen);
const PevraNUV_Callbacks kTable = [] {
    PevraNUV_Callbacks table{};
    table.OnTipSensitivity = [](void*, int32_t tip) { Record(g_tips, tip); };
    table.OnPenInfo = OnPen;
    table.OnSlavedDisplayZoom = [](void*, PevraNUV_ZoomMap) { g_handshakeDone = true; };  // its last value
    return table;
}();

void OnPen(void*, const PevraNUV_PenInfo* pen) {
    if (!g_handshakeDone) return;  // a battery status read in the handshake may be older than a push
    const std::size_t count = Record(g_batteries, pen->batteryStatus);
    PevraNUV_Char keys[16];
    if (g_callBack && count % 30 == 0) PevraNUV_SetTiltSensitivity(Tag(kHostThreads));
    if (g_callBack && count % 30 == 10) PevraNUV_FinishKeyCapture(keys, sizeof keys);
    if (g_callBack && count % 30 == 20) PevraNUV_RegisterCallbacks(&kTable, nullptr);
}

template <typename Done>
bool Await(Done done) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_changed.wait_for(lock, 60s, done);
}
bool Answered(int tip) { return Await([&] { return std::find(g_tips.begin(), g_tips.end(), tip) != g_tips.end(); }); }

void CallEverything(int caller) {
    void (*const buttons[])(const PevraNUV_ButtonFunction*) = {
        PevraNUV_SetEraserSinglePress, PevraNUV_SetEraserDoublePress, PevraNUV_SetEraserLongPress,
        PevraNUV_SetTopSinglePress, PevraNUV_SetBottomSinglePress};
    void (*const numbers[])(unsigned) = {PevraNUV_SetTopHoverClick, PevraNUV_SetBottomHoverClick,
                                         PevraNUV_SetMenuCenterRightClick, PevraNUV_SetTiltSensitivity};
    for (++g_started; g_started < kHostThreads;) std::this_thread::yield();  // for the most contention
    for (int i = 0; i < kIterations; ++i) {
        EXPECT_EQ(PevraNUV_Connect(0), 0);
        PevraNUV_ButtonFunction record{};
        for (auto set : buttons) record.function = static_cast<int32_t>(Tag(caller)), set(&record);
        record.function = static_cast<int32_t>(Tag(caller));
        PevraNUV_SetMenuOp(i % 10, &record);
        for (auto set : numbers) set(Tag(caller));
        PevraNUV_SetSlavedDisplayZoom({caller, static_cast<int32_t>(Tag(caller)), 0, 1});
        PevraNUV_ResetSlavedDisplayZoom();
        PevraNUV_StartKeyCapture();
        PevraNUV_Char keys[16];
        PevraNUV_FinishKeyCapture(keys, sizeof keys);
        PevraNUV_RegisterCallbacks(&kTable, nullptr);
        PevraNUV_SetLogLevel(3 + i % 2);
        // The last change of each round is awaited, and a pause follows: the
        // queue drains now and then, and the pushes, read only when nothing
        // waits to be sent, come in among the calls.
        const int tip = static_cast<int>(Tag(caller));
        PevraNUV_SetTipSensitivity(static_cast<unsigned>(tip));
        ASSERT_TRUE(Answered(tip)) << "no answer to tip " << tip;
        std::this_thread::sleep_for(1ms);
    }
}

// What the one request connection received: its id is the one on the line
// "settings-service: #N process P connected to the request pipe".
std::vector<std::string> Requests(const std::string& trace) {
    std::vector<std::string> ids, requests;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        const std::string id = line.substr(0, line.find(' ', sizeof "settings-service: #"));
        if (line.find("connected to the request pipe") != std::string::npos) ids.push_back(id);
        if (ids.size() == 1 && line.rfind(ids[0] + " < ", 0) == 0) requests.push_back(line.substr(ids[0].size() + 3));
    }
    EXPECT_EQ(ids.size(), 1u) << "threads that connect at once open one link";
    return requests;
}

TEST(Stress, EveryExportAtOnceWhileTheServicePushes) {
    PevraNUV_Shutdown();  // a client of this test's session: the one made at load predates it
    PevraNUV::test::ChildProcess service(PTSA_SERVICE_PATH,
                                         {"--trace", "--stdin-control", "--push-rate", PTSA_STRESS_PUSH_RATE});
    ASSERT_TRUE(service.WaitForLine("ready", 20000));
    PevraNUV_RegisterCallbacks(&kTable, nullptr);
    auto done = std::async(std::launch::async, [] {
        std::vector<std::thread> threads;
        for (int caller = 0; caller < kHostThreads; ++caller) threads.emplace_back(CallEverything, caller);
        for (auto& thread : threads) thread.join();
    });
    if (done.wait_for(300s) != std::future_status::ready) std::fprintf(stderr, "deadlock\n"), std::_Exit(1);
    const std::size_t pushesAmongCalls = [] {
        std::lock_guard<std::mutex> lock(g_mutex);
        return g_batteries.size();
    }();
    EXPECT_TRUE(Await([] { return g_batteries.size() >= 300; })) << "the pushes stopped";
    g_callBack = false;
    PevraNUV_SetTipSensitivity(7);  // answered once all before it are
    EXPECT_TRUE(Answered(7));
    PevraNUV_Shutdown();
    service.WriteLine("quit");
    const std::vector<std::string> requests = Requests(service.Finish(20000).err);

    const std::regex read(R"re(\{"GetVal":"(.*)"\})re"), write(R"re(\{"(.*)":"(.*)"\})re"), tag(R"(\d{7,})");
    ASSERT_EQ(requests.at(0), R"({"Connected":"?"})");
    std::size_t at = 1;
    while (at < requests.size() && std::regex_match(requests[at], read)) ++at;  // the handshake's reads
    unsigned last[kHostThreads + 1] = {};
    for (std::smatch match, tagged; at < requests.size(); ++at) {
        ASSERT_TRUE(std::regex_match(requests[at], match, write)) << "a read without its write at " << at;
        if (match[1].str().find("KeystrokeCapture") != std::string::npos) continue;  // a batch of one
        ASSERT_TRUE(at + 1 < requests.size() && requests[at + 1] == "{\"GetVal\":\"" + match[1].str() + "\"}")
            << "a torn batch at " << at << ": " << requests[at];
        const std::string value = match[2].str();
        if (std::regex_search(value, tagged, tag)) {
            const unsigned number = std::stoul(tagged.str()), caller = number / 1000000 - 1;
            ASSERT_EQ(number % 1000000, last[caller] + 1) << "caller " << caller << ": lost or out of order";
            last[caller] = number % 1000000;
        }
        ++at;
    }
    for (int caller = 0; caller <= kHostThreads; ++caller) EXPECT_EQ(last[caller], g_sequences[caller]) << caller;
    EXPECT_GT(g_sequences[kHostThreads], 0u) << "no setter called from a push callback";
    for (std::size_t i = 1; i < g_batteries.size(); ++i)  // the battery runs down by one a push, 100 after 0
        ASSERT_EQ(g_batteries[i], (g_batteries[i - 1] + 100) % 101) << "push " << i << " lost or out of order";
    std::printf("%zu pushes (%zu among the host calls), %zu requests\n", g_batteries.size(), pushesAmongCalls,
                requests.size());
}

}  // namespace
