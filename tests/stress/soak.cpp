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
#include <cstring>
#include <fstream>
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

struct Options {
    long cycles = 200;
    long pushes = 20000;
    std::string pushRate = "50000";  // faster, the service's push loop holds replies past the client's 1 s limit
    long slackKib = 2048;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--cycles") options.cycles = std::atol(value);
        else if (name == "--pushes") options.pushes = std::atol(value);
        else if (name == "--push-rate") options.pushRate = value;
        else if (name == "--slack-kib") options.slackKib = std::atol(value);
        else return false;
    }
    return argc % 2 == 1 && options.cycles > 0 && options.pushes > 0;
}

long ResidentKib() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Sample {
    int descriptors;
    int threads;
    long residentKib;
};

Sample Take() {
    return {PevraNUV::platform::OpenHandleCount(), PevraNUV::platform::ThreadCount(), ResidentKib()};
}

// After a Shutdown the sync thread has left the client, and ends a moment
// later: give it up to a second to be gone from the thread count.
Sample TakeSettled(const Sample& before) {
    Sample now = Take();
    for (int wait = 0; wait < 100 && now.threads != before.threads; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = Take();
    }
    return now;
}

// Prints the comparison; false when descriptors or threads differ or the
// memory grew by more than the slack.
bool Report(const char* part, const Sample& before, const Sample& after, long slackKib) {
    const long growth = after.residentKib - before.residentKib;
    std::printf("%s: descriptors %d -> %d, threads %d -> %d, resident %ld KiB -> %ld KiB (%+ld KiB)\n", part,
                before.descriptors, after.descriptors, before.threads, after.threads, before.residentKib,
                after.residentKib, growth);
    const bool ok = before.descriptors == after.descriptors && before.threads == after.threads && growth <= slackKib;
    if (!ok) std::printf("%s: FAILED (slack %ld KiB)\n", part, slackKib);
    return ok;
}

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// What the callbacks saw: the end of a handshake (the zoom map, its last
// value and one that differs from a fresh client's) and the pushes.
struct Seen {
    std::mutex mutex;
    std::condition_variable changed;
    long zoomMaps = 0;
    long pushes = 0;
} g_seen;

// How many OnPenInfo calls a handshake with the built-in values makes by
// itself, counted in the cycles, where the service does not push.
long g_handshakePenInfos = -1;

PevraNUV_Callbacks Callbacks() {
    PevraNUV_Callbacks table{};
    table.OnSlavedDisplayZoom = [](void*, PevraNUV_ZoomMap) {
        std::lock_guard<std::mutex> lock(g_seen.mutex);
        ++g_seen.zoomMaps;
        g_seen.changed.notify_all();
    };
    table.OnPenInfo = [](void*, const PevraNUV_PenInfo*) {
        std::lock_guard<std::mutex> lock(g_seen.mutex);
        ++g_seen.pushes;
        g_seen.changed.notify_all();
    };
    return table;
}

bool StartService(ChildProcess& service) { return service.Started() && service.WaitForLine("ready", 20000); }

// Half the cycles wait for the handshake to end, half shut down at once,
// in the middle of it.
bool Cycle(PevraNUV_Callbacks& table, long cycle) {
    std::unique_lock<std::mutex> lock(g_seen.mutex);
    g_seen.zoomMaps = 0;
    g_seen.pushes = 0;
    lock.unlock();
    PevraNUV_RegisterCallbacks(&table, nullptr);
    if (PevraNUV_Connect(0) != 0) {
        std::printf("cycles: cycle %ld did not connect\n", cycle);
        return false;
    }
    if (cycle % 2 == 0) {
        lock.lock();
        if (!g_seen.changed.wait_for(lock, std::chrono::seconds(10), [] { return g_seen.zoomMaps > 0; })) {
            std::printf("cycles: cycle %ld: the handshake did not end\n", cycle);
            return false;
        }
        g_handshakePenInfos = g_seen.pushes;
        lock.unlock();
    }
    PevraNUV_Shutdown();
    return true;
}

bool SoakCycles(const Options& options) {
    ChildProcess service(PTSA_SERVICE_PATH, {});
    if (!StartService(service)) return std::printf("cycles: the service did not start\n"), false;
    PevraNUV_Callbacks table = Callbacks();
    for (long warmUp = 0; warmUp < 4; ++warmUp)  // lazily made state of the library and the runtime
        if (!Cycle(table, warmUp)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the last sync thread's end
    const Sample before = Take();
    const auto start = Clock::now();
    for (long cycle = 0; cycle < options.cycles; ++cycle)
        if (!Cycle(table, cycle)) return false;
    std::printf("cycles: %ld Connect/Shutdown cycles in %.1f s\n", options.cycles, Seconds(start));
    return Report("cycles", before, TakeSettled(before), options.slackKib);
}

bool SoakPushes(const Options& options) {
    const Sample before = Take();
    bool ok = true;
    {
        ChildProcess service(PTSA_SERVICE_PATH,
                             {"--push-rate", options.pushRate, "--push-count", std::to_string(options.pushes)});
        if (!StartService(service)) return std::printf("pushes: the service did not start\n"), false;
        const Sample serviceStarted = Take();
        PevraNUV_Callbacks table = Callbacks();
        {
            std::lock_guard<std::mutex> lock(g_seen.mutex);
            g_seen.pushes = 0;
        }
        PevraNUV_RegisterCallbacks(&table, nullptr);
        const auto start = Clock::now();
        if (PevraNUV_Connect(0) != 0) return std::printf("pushes: the client did not connect\n"), false;
        const long expected = options.pushes + g_handshakePenInfos;
        const long tenth = expected / 10;
        Sample early{};
        std::unique_lock<std::mutex> lock(g_seen.mutex);
        const bool reachedTenth = g_seen.changed.wait_for(lock, std::chrono::seconds(60), [&] { return g_seen.pushes >= tenth; });
        lock.unlock();
        early = Take();
        lock.lock();
        // Until all arrived, or none for five seconds.
        long seen = -1;
        while (g_seen.pushes < expected && g_seen.pushes != seen) {
            seen = g_seen.pushes;
            g_seen.changed.wait_for(lock, std::chrono::seconds(5), [&] { return g_seen.pushes >= expected; });
        }
        const long received = g_seen.pushes;
        lock.unlock();
        const Sample end = Take();
        std::printf("pushes: %ld of %ld callbacks in %.1f s\n", received, expected, Seconds(start));
        if (!reachedTenth || received != expected) ok = false;
        // While the client lives: from the first tenth to the end.
        std::printf("pushes: while connected, after a tenth -> at the end: resident %ld KiB -> %ld KiB (%+ld KiB)\n",
                    early.residentKib, end.residentKib, end.residentKib - early.residentKib);
        if (end.residentKib - early.residentKib > options.slackKib) ok = false;
        PevraNUV_Shutdown();
        ok = Report("pushes (client)", serviceStarted, TakeSettled(serviceStarted), options.slackKib) && ok;
    }
    return Report("pushes (with the service gone)", before, TakeSettled(before), options.slackKib) && ok;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: ptsa_soak [--cycles N] [--pushes M] [--push-rate HZ] [--slack-kib K]\n");
        return 2;
    }
    if (!PevraNUV::test::EnterOwnPosixSession()) return 1;  // for pipes no other test's service serves
    PevraNUV_Shutdown();  // a client named after this session's pipes
    const bool cycles = SoakCycles(options);
    const bool pushes = SoakPushes(options);
    std::printf("soak: %s\n", cycles && pushes ? "passed" : "FAILED");
    return cycles && pushes ? 0 : 1;
}
