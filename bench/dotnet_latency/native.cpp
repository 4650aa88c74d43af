// The native library's own figures for bench/dotnet_latency: a C host of
// PTabletSettingsAPI against the bench service, in the same two phases as the
// .NET host (Program.cs): a tenth of PACED pushes to warm up, then PACED
// version pushes GAP microseconds apart, each carrying its send time, then
// FLOOD of them back to back. Prints one line:
//   native MEDIAN-US P99-US PUSHES-A-SECOND EVENTS-PACED EVENTS-FLOOD
//   ptsa_push_latency BENCH-SERVICE PACED GAP FLOOD     (in a POSIX session of its own)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "service_process.h"

using Clock = std::chrono::steady_clock;

namespace {

// The bench service's stamps: the steady clock in nanoseconds modulo 10^15.
constexpr long long kStampModulo = 1000000000000000LL;
long long Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count() % kStampModulo;
}

// Arrival and stamp of each version push, written by the library's thread only.
struct Arrivals {
    std::vector<long long> arrived, stamped;
    std::atomic<std::size_t> count{0};
    std::atomic<bool> handshake{false};
};

void OnVersions(void* context, const PevraNUV_Versions* versions) {
    const long long now = Now();
    long long stamp = 0;
    const PevraNUV_Char* unit = versions->serviceVersion;
    for (; *unit >= u'0' && *unit <= u'9'; ++unit) stamp = stamp * 10 + (*unit - u'0');
    auto& arrivals = *static_cast<Arrivals*>(context);
    const std::size_t n = arrivals.count.load(std::memory_order_relaxed);
    if (*unit != 0 || unit == versions->serviceVersion || n == arrivals.arrived.size()) return;  // the handshake's text
    arrivals.arrived[n] = now;
    arrivals.stamped[n] = stamp;
    arrivals.count.store(n + 1, std::memory_order_release);
}

// Until `expected` arrived or none came for a second.
std::size_t AwaitQuiet(Arrivals& arrivals, std::size_t expected) {
    std::size_t seen = 0;
    for (auto last = Clock::now(); Clock::now() - last < std::chrono::seconds(1);) {
        const std::size_t now = arrivals.count.load(std::memory_order_acquire);
        if (now == expected) return now;
        if (now != seen) seen = now, last = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return seen;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(values.size() * share))];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return std::fprintf(stderr, "usage: ptsa_push_latency BENCH-SERVICE PACED GAP FLOOD\n"), 2;
    const long paced = std::atol(argv[2]), gap = std::atol(argv[3]), flood = std::atol(argv[4]);
    PevraNUV::bench::ServiceProcess service(argv[1], {});
    if (!service.Started() || !service.WaitForLine("ready", 10000)) return std::fprintf(stderr, "no bench service\n"), 1;

    Arrivals arrivals;
    arrivals.arrived.resize(static_cast<std::size_t>(std::max(paced, flood)));
    arrivals.stamped.resize(arrivals.arrived.size());
    PevraNUV_Callbacks table{};
    table.OnVersions = OnVersions;
    // The zoom map is the handshake's last value.
    table.OnSlavedDisplayZoom = [](void* context, PevraNUV_ZoomMap) { static_cast<Arrivals*>(context)->handshake = true; };
    PevraNUV_RegisterCallbacks(&table, &arrivals);
    if (PevraNUV_Connect(0) != 0) return std::fprintf(stderr, "no link\n"), 1;
    for (int i = 0; i < 1000 && !arrivals.handshake; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string key = "ComponentsDriver\\\\ServiceVersion";

    const std::string pacing = " " + std::to_string(gap) + " " + key;
    service.WriteLine("stamp " + std::to_string(paced / 10) + pacing);
    AwaitQuiet(arrivals, static_cast<std::size_t>(paced / 10));
    arrivals.count = 0;
    service.WriteLine("stamp " + std::to_string(paced) + pacing);
    const std::size_t pacedEvents = AwaitQuiet(arrivals, static_cast<std::size_t>(paced));
    std::vector<double> latencies;
    for (std::size_t i = 0; i < pacedEvents; ++i)
        latencies.push_back(((arrivals.arrived[i] - arrivals.stamped[i] + kStampModulo) % kStampModulo) / 1000.0);

    arrivals.count = 0;
    const long long start = Now();
    service.WriteLine("stamp " + std::to_string(flood) + " 0 " + key);
    const std::size_t floodEvents = AwaitQuiet(arrivals, static_cast<std::size_t>(flood));
    const double seconds = floodEvents ? ((arrivals.arrived[floodEvents - 1] - start + kStampModulo) % kStampModulo) / 1e9 : 0;
    PevraNUV_Shutdown();
    std::printf("native %.1f %.1f %.0f %zu %zu\n", Percentile(latencies, 0.5), Percentile(latencies, 0.99),
                seconds > 0 ? flood / seconds : 0.0, pacedEvents, floodEvents);
    return 0;
}
