// Measures the way back after the settings service restarts, natively and
// under Wine, with the reference service and the library as a host loads
// it. Prints figures; asserts nothing.
//
//   ptsa_reconnect_bench [RESTARTS [OUTAGE_SECONDS [CPU_SECONDS]]]   (20 1 60)
//
// 1. Back: RESTARTS times, the service is ended and started again at once,
//    then RESTARTS times after an outage of OUTAGE_SECONDS; each time, from
//    the new service's "ready" line (printed once both its pipes listen;
//    read every 5 ms, so a figure may be up to about 5 ms short) to the
//    first callback of the link that comes back. Median, minimum, maximum.
// 2. CPU: the process's CPU time over CPU_SECONDS with the link up and idle
//    (the baseline), then over CPU_SECONDS with the service away, while the
//    library tries to connect again every 2 s. Under Wine the Wine server's
//    own share of each attempt is not in the process's figure, and Wine 8
//    reports no CPU time to GetProcessTimes: sample the processes from
//    outside between the "phase ... begins" and "ends" lines.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "child_process.h"
#include "posix_session.h"

using Clock = std::chrono::steady_clock;
using PevraNUV::test::ChildProcess;

namespace {

// The time of the first callback once armed.
std::atomic<bool> g_armed{false};
std::atomic<Clock::rep> g_firstCall{0};

void Called() {
    if (g_armed.exchange(false)) g_firstCall = Clock::now().time_since_epoch().count();
}

// Slots that every handshake reports whatever the cache holds (the option
// lists, pen records) and the tilt, which the values files alternate.
const PevraNUV_Callbacks kTable = [] {
    PevraNUV_Callbacks table{};
    table.OnPenInfo = [](void*, const PevraNUV_PenInfo*) { Called(); };
    table.OnTiltSensitivity = [](void*, int32_t) { Called(); };
    table.OnRunAppOptions = [](void*, const PevraNUV_ButtonFunction*, size_t) { Called(); };
    table.OnSideSwitchOptions = [](void*, const PevraNUV_ButtonFunction*, size_t) { Called(); };
    return table;
}();

double CpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    const auto ticks = [](const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

std::string ValuesFile(int tilt) {
    const std::string path = "ptsa_reconnect_bench_" + std::to_string(tilt) + ".json";
    std::ofstream(path) << R"({"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity":")" << tilt << "\"}";
    return path;
}

std::unique_ptr<ChildProcess> StartService(int tilt, Clock::time_point& ready) {
    auto service = std::make_unique<ChildProcess>(PTSA_SERVICE_PATH, std::vector<std::string>{"--values", ValuesFile(tilt)});
    if (!service->WaitForLine("ready", 30000)) {
        std::puts("the service did not start");
        std::exit(1);
    }
    ready = Clock::now();
    return service;
}

// Milliseconds from ready to the first callback since arming; -1 when none
// came within 30 s. One that came before ready was noticed counts as 0.
double FirstValueAfter(Clock::time_point ready) {
    for (const Clock::time_point end = ready + std::chrono::seconds(30); g_firstCall == 0 && Clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (g_firstCall == 0) return -1;
    const Clock::time_point first{Clock::duration(g_firstCall.load())};
    return std::max(0.0, std::chrono::duration<double, std::milli>(first - ready).count());
}

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty() || ms.front() < 0) return (void)std::printf("%s: a link did not come back\n", what);
    std::printf("%s: median %.1f ms, min %.1f, max %.1f (%zu restarts)\n", what, ms[ms.size() / 2], ms.front(),
                ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    const int restarts = argc > 1 ? std::atoi(argv[1]) : 20;
    const double outageSeconds = argc > 2 ? std::atof(argv[2]) : 1;
    const int cpuSeconds = argc > 3 ? std::atoi(argv[3]) : 60;
    if (!PevraNUV::test::EnterOwnPosixSession()) return 1;
    PevraNUV_Shutdown();  // a client of this session: the one made at load predates it
    setvbuf(stdout, nullptr, _IONBF, 0);

    Clock::time_point ready;
    int tilt = 10;
    auto service = StartService(tilt, ready);
    PevraNUV_RegisterCallbacks(&kTable, nullptr);
    if (PevraNUV_Connect(0) != 0) return std::puts("no connection"), 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    for (const double outage : {0.0, outageSeconds}) {
        std::vector<double> ms;
        for (int restart = 0; restart < restarts; ++restart) {
            service.reset();  // no callback comes from a link that is down: arm now
            g_firstCall = 0, g_armed = true;
            std::this_thread::sleep_for(std::chrono::duration<double>(outage));
            service = StartService(++tilt, ready);
            ms.push_back(FirstValueAfter(ready));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the handshake's rest
        }
        char what[80];
        std::snprintf(what, sizeof what, "pipes ready -> first value, outage %.1f s", outage);
        Report(what, ms);
    }

    // Each phase is announced as it starts and ends, so that the CPU of
    // other processes (Wine's server) can be sampled from outside as well.
    const auto phase = [cpuSeconds](const char* name) {
        std::printf("phase %s begins\n", name);
        const double start = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(cpuSeconds));
        const double used = CpuSeconds() - start;
        std::printf("phase %s ends\n", name);
        std::this_thread::sleep_for(std::chrono::seconds(1));  // time to sample
        return used;
    };
    const double idle = phase("idle");
    service.reset();
    std::this_thread::sleep_for(std::chrono::seconds(4));  // the pauses have grown to 2 s
    const double away = phase("outage");
    std::printf("CPU over %d s: link up and idle %.1f ms, service away %.1f ms (%.4f%% of one CPU)\n", cpuSeconds,
                idle * 1e3, away * 1e3, away * 100 / cpuSeconds);
    PevraNUV_Shutdown();
    return 0;
}
