// Measures the live link against the floor the design allows: the
// handshake's 68 exchanges and the push path, each beside a raw client of
// the same pipes in the same run. Prints figures and ratios; asserts nothing.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "child_process.h"
#include "posix_session.h"
#include "client/messages.h"
#include "client/settings_client.h"
#include "raw_client.h"
#include "settings/catalogue.h"

#include <thread>

#ifndef _WIN32
#include <malloc.h>
#endif

using Clock = std::chrono::steady_clock;
using PevraNUV::bench::RawClient;
using PevraNUV::test::ChildProcess;

namespace {

std::mutex g_mutex;
std::condition_variable g_changed;
int g_zoomCalls = 0;
Clock::time_point g_firstValue;  // the handshake's first value (the versions)
std::vector<Clock::time_point> g_pushTimes;

double Microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::vector<std::u16string> Handshake() {
    std::vector<std::u16string> messages{PevraNUV::wire::kHandshakeRequest};
    for (const auto& entry : PevraNUV::HandlerTable) messages.push_back(PevraNUV::wire::ComposeReadRequest(entry.first));
    return messages;
}

PevraNUV_Callbacks Callbacks() {
    PevraNUV_Callbacks table{};
    // The zoom map is the handshake's last value, and it differs from a
    // fresh client's zero map: its callback ends the handshake.
    table.OnSlavedDisplayZoom = [](void*, PevraNUV_ZoomMap) {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_zoomCalls;
        g_changed.notify_all();
    };
    table.OnVersions = [](void*, const PevraNUV_Versions*) {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_zoomCalls == 0) g_firstValue = Clock::now();
    };
    table.OnPenInfo = [](void*, const PevraNUV_PenInfo*) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_pushTimes.push_back(Clock::now());
    };
    return table;
}

bool StartService(ChildProcess& service) {
    return service.Started() && service.WaitForLine("ready", 20000);
}

void MeasureHandshake(const char* servicePath, int rounds) {
    ChildProcess service(servicePath, {});
    if (!StartService(service)) return (void)std::printf("handshake: the service did not start\n");
    const std::vector<std::u16string> messages = Handshake();
    PevraNUV_Callbacks table = Callbacks();
    std::vector<double> raw, library, rawFirst, libraryConnect, libraryFirst;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        {
            RawClient client;
            std::u16string reply;
            bool ok = client.Connected();
            for (std::size_t i = 0; ok && i < messages.size(); ++i) {
                ok = client.Exchange(messages[i], reply);
                if (i == 1) rawFirst.push_back(Microseconds(Clock::now() - start));
            }
            if (!ok) return (void)std::printf("handshake: the raw client failed\n");
            raw.push_back(Microseconds(Clock::now() - start));
        }
        PevraNUV_RegisterCallbacks(&table, nullptr);
        g_zoomCalls = 0;
        start = Clock::now();
        if (PevraNUV_Connect(0) != 0) return (void)std::printf("handshake: the library did not connect\n");
        libraryConnect.push_back(Microseconds(Clock::now() - start));
        {
            std::unique_lock<std::mutex> lock(g_mutex);
            if (!g_changed.wait_for(lock, std::chrono::seconds(10), [] { return g_zoomCalls > 0; }))
                return (void)std::printf("handshake: the library's handshake did not finish\n");
            libraryFirst.push_back(Microseconds(g_firstValue - start));
        }
        library.push_back(Microseconds(Clock::now() - start));
        PevraNUV_Shutdown();
    }
    const double rawMedian = Median(raw), libraryMedian = Median(library);
    std::printf("handshake of %zu exchanges, median of %d rounds: raw %.0f us, library %.0f us, ratio %.2f\n",
                messages.size(), rounds, rawMedian, libraryMedian, libraryMedian / rawMedian);
    // Where the time goes: opening the link and the first value, then the
    // other 66 exchanges.
    const double rawRest = rawMedian - Median(rawFirst), libraryRest = libraryMedian - Median(libraryFirst);
    std::printf("  first value: raw %.0f us, library %.0f us (Connect returned after %.0f us); "
                "the other %zu exchanges: raw %.1f us each, library %.1f us each, ratio %.2f\n",
                Median(rawFirst), Median(libraryFirst), Median(libraryConnect), messages.size() - 2,
                rawRest / (messages.size() - 2), libraryRest / (messages.size() - 2), libraryRest / rawRest);
}

// Pushes per second between the first and the last of a burst.
double Rate(const std::vector<Clock::time_point>& times) {
    if (times.size() < 2) return 0;
    return (times.size() - 1) / std::chrono::duration<double>(times.back() - times.front()).count();
}

void MeasurePushes(const char* servicePath, int pushes) {
    const std::vector<std::string> arguments{"--push-rate", "1000000", "--push-count", std::to_string(pushes)};
    std::vector<Clock::time_point> raw;
    {
        ChildProcess service(servicePath, arguments);
        if (!StartService(service)) return (void)std::printf("pushes: the service did not start\n");
        RawClient client;
        std::u16string text;
        if (!client.Connected() || !client.Exchange(PevraNUV::wire::kHandshakeRequest, text))
            return (void)std::printf("pushes: the raw client failed\n");
        while (static_cast<int>(raw.size()) < pushes && client.ReceivePush(text)) raw.push_back(Clock::now());
    }
    {
        ChildProcess service(servicePath, arguments);
        if (!StartService(service)) return (void)std::printf("pushes: the service did not start\n");
        PevraNUV_Callbacks table = Callbacks();
        PevraNUV_RegisterCallbacks(&table, nullptr);
        g_pushTimes.clear();
        if (PevraNUV_Connect(0) != 0) return (void)std::printf("pushes: the library did not connect\n");
        // Until the burst is over: no callback for half a second.
        std::size_t seen = 0;
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            std::lock_guard<std::mutex> lock(g_mutex);
            if (g_pushTimes.size() == seen && seen > 0) break;
            seen = g_pushTimes.size();
        }
        PevraNUV_Shutdown();
    }
    const double rawRate = Rate(raw), libraryRate = Rate(g_pushTimes);
    std::printf("pushes: raw reader %zu at %.0f/s, library %zu callbacks at %.0f/s, ratio %.2f\n", raw.size(),
                rawRate, g_pushTimes.size(), libraryRate, libraryRate / rawRate);
}

// A setter's time on a host thread while the sync thread is kept busy by
// pushes at full rate: the time to compose and queue, lock waits included.
void MeasureSetterLatency(const char* servicePath, int calls) {
    ChildProcess service(servicePath, {"--push-rate", "1000000", "--push-count", "100000000"});
    if (!StartService(service)) return (void)std::printf("setter: the service did not start\n");
    PevraNUV_Callbacks table = Callbacks();
    PevraNUV_RegisterCallbacks(&table, nullptr);
    if (PevraNUV_Connect(0) != 0) return (void)std::printf("setter: the library did not connect\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // pushes flowing
    std::vector<double> took;
    took.reserve(calls);
    for (int call = 0; call < calls; ++call) {
        const auto start = Clock::now();
        PevraNUV_SetTiltSensitivity(static_cast<unsigned>(call));
        took.push_back(Microseconds(Clock::now() - start));
    }
    PevraNUV_Shutdown();
    std::sort(took.begin(), took.end());
    std::printf("setter latency over %d calls while pushes arrive: median %.2f us, p99 %.2f us, max %.0f us\n", calls,
                took[took.size() / 2], took[took.size() * 99 / 100], took.back());
}

// Heap bytes a connected client holds once its handshake is done.
void MeasureClientMemory(const char* servicePath) {
#ifdef _WIN32
    (void)servicePath;
#else
    ChildProcess service(servicePath, {});
    if (!StartService(service)) return (void)std::printf("memory: the service did not start\n");
    PevraNUV_Shutdown();
    const std::size_t before = mallinfo2().uordblks;
    PevraNUV_Callbacks table = Callbacks();
    PevraNUV_RegisterCallbacks(&table, nullptr);
    g_zoomCalls = 0;
    if (PevraNUV_Connect(0) != 0) return (void)std::printf("memory: the library did not connect\n");
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        g_changed.wait_for(lock, std::chrono::seconds(10), [] { return g_zoomCalls > 0; });
    }
    const std::size_t after = mallinfo2().uordblks;
    PevraNUV_Shutdown();
    std::printf("memory: a connected client after its handshake holds %zu heap bytes (the client object %zu)\n",
                after - before, sizeof(PevraNUV::SettingsClient));
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (!PevraNUV::test::EnterOwnPosixSession()) return 1;  // a session of its own, for its own pipes
    PevraNUV_Shutdown();  // a client named after this session's pipes
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    const int pushes = argc > 2 ? std::atoi(argv[2]) : 20000;
    MeasureHandshake(PTSA_SERVICE_PATH, rounds);
    MeasurePushes(PTSA_SERVICE_PATH, pushes);
    MeasureSetterLatency(PTSA_SERVICE_PATH, argc > 3 ? std::atoi(argv[3]) : 100000);
    MeasureClientMemory(PTSA_SERVICE_PATH);
    return 0;
}
