// Soak: many Connect/Shutdown cycles against the reference service, then
// many pushes through one client, with the process's open descriptors,
// threads and resident memory before and after each part. Descriptors and
// threads must come back exactly; resident memory may grow only by the
// slack. Exit status 0 when all holds, 1 otherwise.
//
//   ptsa_soak [--cycles N] [--pushes M] [--push-rate HZ] [--slack-kib K]
//
// The full run: ptsa_soak --cycles 10000 --pushes 1000000
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

#include "PTabletSettingsAPI.h"
#include "child_process.h"
#include "platform/platform.h"
#include "posix_session.h"

using Clock = std::chrono::steady_clock;
using PevraNUV::test::ChildProcess;

namespace {

// Faster pushes make the service's push loop hold replies past the
// client's one-second limit.
std::map<std::string, std::string> g_options = {
    {"--cycles", "200"}, {"--pushes", "20000"}, {"--push-rate", "50000"}, {"--slack-kib", "2048"}};

long Option(const char* name) { return std::atol(g_options[name].c_str()); }

struct Sample {
    int descriptors;
    int threads;
    long residentKib;
};

Sample Take() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return {PevraNUV::platform::OpenHandleCount(), PevraNUV::platform::ThreadCount(),
            resident * (sysconf(_SC_PAGESIZE) / 1024)};
}

// After a Shutdown the sync thread has left the client, and ends a moment
// later: up to a second for it to be gone from the thread count. Prints the
// comparison; false when descriptors or threads differ or the memory grew
// by more than the slack.
bool Compare(const char* part, const Sample& before) {
    Sample after = Take();
    for (int wait = 0; wait < 100 && after.threads != before.threads; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        after = Take();
    }
    const long growth = after.residentKib - before.residentKib;
    std::printf("%s: descriptors %d -> %d, threads %d -> %d, resident %ld KiB -> %ld KiB (%+ld KiB)\n", part,
                before.descriptors, after.descriptors, before.threads, after.threads, before.residentKib,
                after.residentKib, growth);
    const bool ok = before.descriptors == after.descriptors && before.threads == after.threads &&
                    growth <= Option("--slack-kib");
    if (!ok) std::printf("%s: FAILED\n", part);
    return ok;
}

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// What the callbacks saw: zoom maps (the last value of a handshake, and one
// that differs from a fresh client's) and pen records (the pushes).
std::mutex g_mutex;
std::condition_variable g_changed;
long g_zoomMaps = 0, g_penInfos = 0;

long PenInfos() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_penInfos;
}

template <typename Done>
bool WaitFor(Done done, int seconds) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_changed.wait_for(lock, std::chrono::seconds(seconds), done);
}

const PevraNUV_Callbacks kCallbacks = [] {
    PevraNUV_Callbacks table{};
    table.OnSlavedDisplayZoom = [](void*, PevraNUV_ZoomMap) {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_zoomMaps;
        g_changed.notify_all();
    };
    table.OnPenInfo = [](void*, const PevraNUV_PenInfo*) {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_penInfos;
        g_changed.notify_all();
    };
    return table;
}();

// How many OnPenInfo calls a handshake makes by itself, counted in the
// cycles, where the service does not push.
long g_handshakePenInfos = 0;

// Connects and shuts down: after the handshake's end on even cycles, in the
// middle of it on odd ones.
bool Cycle(long cycle) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_zoomMaps = g_penInfos = 0;
    }
    PevraNUV_RegisterCallbacks(&kCallbacks, nullptr);
    if (PevraNUV_Connect(0) != 0) return std::printf("cycles: cycle %ld did not connect\n", cycle), false;
    if (cycle % 2 == 0) {
        if (!WaitFor([] { return g_zoomMaps > 0; }, 10))
            return std::printf("cycles: cycle %ld: the handshake did not end\n", cycle), false;
        std::lock_guard<std::mutex> lock(g_mutex);
        g_handshakePenInfos = g_penInfos;
    }
    PevraNUV_Shutdown();
    return true;
}

bool SoakCycles() {
    ChildProcess service(PTSA_SERVICE_PATH, {});
    if (!service.WaitForLine("ready", 20000)) return std::printf("cycles: the service did not start\n"), false;
    for (long warmUp = 0; warmUp < 4; ++warmUp)  // lazily made state of the library and the runtime
        if (!Cycle(warmUp)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the last sync thread's end
    const Sample before = Take();
    const auto start = Clock::now();
    for (long cycle = 0; cycle < Option("--cycles"); ++cycle)
        if (!Cycle(cycle)) return false;
    std::printf("cycles: %ld Connect/Shutdown cycles in %.1f s\n", Option("--cycles"), Seconds(start));
    return Compare("cycles", before);
}

bool SoakPushes() {
    const Sample before = Take();
    bool ok = true;
    {
        ChildProcess service(PTSA_SERVICE_PATH,
                             {"--push-rate", g_options["--push-rate"], "--push-count", g_options["--pushes"]});
        if (!service.WaitForLine("ready", 20000)) return std::printf("pushes: the service did not start\n"), false;
        const Sample serviceStarted = Take();
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_penInfos = 0;
        }
        PevraNUV_RegisterCallbacks(&kCallbacks, nullptr);
        const auto start = Clock::now();
        if (PevraNUV_Connect(0) != 0) return std::printf("pushes: the client did not connect\n"), false;
        const long expected = Option("--pushes") + g_handshakePenInfos;
        ok = WaitFor([&] { return g_penInfos >= expected / 10; }, 60);
        const Sample early = Take();
        // Until all arrived, or none for five seconds.
        for (long seen = -1; PenInfos() < expected && PenInfos() != seen;) {
            seen = PenInfos();
            WaitFor([&] { return g_penInfos >= expected; }, 5);
        }
        const Sample end = Take();
        const long received = PenInfos();
        std::printf("pushes: %ld of %ld callbacks in %.1f s\n", received, expected, Seconds(start));
        std::printf("pushes: while connected, after a tenth -> at the end: resident %ld KiB -> %ld KiB (%+ld KiB)\n",
                    early.residentKib, end.residentKib, end.residentKib - early.residentKib);
        ok = ok && received == expected && end.residentKib - early.residentKib <= Option("--slack-kib");
        PevraNUV_Shutdown();
        ok = Compare("pushes (client)", serviceStarted) && ok;
    }
    return Compare("pushes (with the service gone)", before) && ok;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 == argc || !g_options.count(argv[i])) {
            std::fprintf(stderr, "usage: ptsa_soak [--cycles N] [--pushes M] [--push-rate HZ] [--slack-kib K]\n");
            return 2;
        }
        g_options[argv[i]] = argv[i + 1];
    }
    if (!PevraNUV::test::EnterOwnPosixSession()) return 1;  // for pipes no other test's service serves
    PevraNUV_Shutdown();                                     // a client named after this session's pipes
    const bool cycles = SoakCycles();
    const bool pushes = SoakPushes();
    std::printf("soak: %s\n", cycles && pushes ? "passed" : "FAILED");
    return cycles && pushes ? 0 : 1;
}
