// Soak, natively and under Wine: Connect/Shutdown cycles against the
// reference service (every other one shut down in the middle of the
// handshake), then pushes through one client, then restarts of the service
// under one client that reconnects by itself. Handles and threads must come
// back exactly, memory may grow by the slack only; exit status 0 when all
// holds.
//
//   ptsa_soak [CYCLES [PUSHES [PUSH_RATE [SLACK_KIB [RESTARTS]]]]]   (200 20000 50000 2048 100)
#include <atomic>
#include <cstdlib>

#include "child_process.h"
#include "host.h"
#include "posix_session.h"
#include "usage.h"

using namespace PevraNUV::test;

namespace {

std::atomic<long> g_handshakes{0}, g_pens{0};  // zoom maps (the handshake's last value), pen records
const PevraNUV_Callbacks kTable = [] {
    PevraNUV_Callbacks table{};
    table.OnSlavedDisplayZoom = [](void*, PevraNUV_ZoomMap) { ++g_handshakes; };
    table.OnPenInfo = [](void*, const PevraNUV_PenInfo*) { ++g_pens; };
    return table;
}();

// Until counter reaches value; false once it has held still for a while.
bool WaitFor(const std::atomic<long>& counter, long value, int stillSeconds) {
    using Clock = std::chrono::steady_clock;
    auto changed = Clock::now();
    for (long seen = counter; counter < value; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        if (counter != seen) seen = counter, changed = Clock::now();
        if (Clock::now() - changed > std::chrono::seconds(stillSeconds)) return false;
    }
    return true;
}

bool Compare(const char* part, const Usage& before, long slackKib) {
    Usage after = MeasureUsage();
    after.threads = ThreadsSettlingTo(before.threads);
    std::printf("%s: handles %ld -> %ld, threads %ld -> %ld, memory %ld -> %ld KiB\n", part, before.handles,
                after.handles, before.threads, after.threads, before.memoryKib, after.memoryKib);
    return after.handles == before.handles && after.threads == before.threads &&
           after.memoryKib - before.memoryKib <= slackKib;
}

}  // namespace

int main(int argc, char** argv) {
    const long cycles = argc > 1 ? std::atol(argv[1]) : 200, pushes = argc > 2 ? std::atol(argv[2]) : 20000;
    const std::string rate = argc > 3 ? argv[3] : "50000";  // faster, and replies miss the one-second limit
    const long slackKib = argc > 4 ? std::atol(argv[4]) : 2048;
    const long restarts = argc > 5 ? std::atol(argv[5]) : 100;
    if (!EnterOwnPosixSession()) return 1;
    PevraNUV_Shutdown();  // a client of this session: the one made at load predates it
    setvbuf(stdout, nullptr, _IONBF, 0);

    bool ok = true;
    long pensPerHandshake = 0;
    {
        ChildProcess service(PTSA_SERVICE_PATH, {});
        if (!service.WaitForLine("ready", 20000)) return std::puts("the service did not start"), 1;
        Usage before;
        for (long cycle = -2; ok && cycle < cycles; ++cycle) {  // two to warm up
            if (cycle == 0) before = MeasureUsage();
            const long handshakes = g_handshakes, pens = g_pens;
            PevraNUV_RegisterCallbacks(&kTable, nullptr);
            ok = Connect() == 0 && (cycle % 2 != 0 || WaitFor(g_handshakes, handshakes + 1, 10));
            if (cycle % 2 == 0) pensPerHandshake = g_pens - pens;
            PevraNUV_Shutdown();
            if (!ok) std::printf("cycle %ld failed\n", cycle);
            if (cycle > 0 && ThreadsSettlingTo(before.threads) != before.threads)
                ok = false, std::printf("cycle %ld: the sync thread outlived Shutdown\n", cycle);
        }
        ok = Compare("cycles", before, slackKib) && ok;
    }
    {
        ChildProcess service(PTSA_SERVICE_PATH, {"--push-rate", rate, "--push-count", std::to_string(pushes)});
        if (!service.WaitForLine("ready", 20000)) return std::puts("the service did not start"), 1;
        const Usage before = MeasureUsage();
        const long start = g_pens;
        PevraNUV_RegisterCallbacks(&kTable, nullptr);
        ok = Connect() == 0 && ok;
        const bool all = WaitFor(g_pens, start + pensPerHandshake + pushes, 5);
        std::printf("pushes: %ld of %ld\n", g_pens - start - pensPerHandshake, pushes);
        PevraNUV_Shutdown();
        ok = Compare("pushes", before, slackKib) && all && ok;
    }
    {
        std::unique_ptr<ChildProcess> service;
        PevraNUV_RegisterCallbacks(&kTable, nullptr);
        Usage before;
        for (long restart = -3; ok && restart < restarts; ++restart) {  // the first start connects, two warm up
            // Measured, here and at the end, once the handshake is through.
            if (restart == 0) std::this_thread::sleep_for(std::chrono::milliseconds(300)), before = MeasureUsage();
            const long pens = g_pens;
            service.reset();  // the service ends (SIGTERM; TerminateProcess on Windows)
            service = std::make_unique<ChildProcess>(PTSA_SERVICE_PATH, std::vector<std::string>{});
            // Pen records are reported at every handshake, equal or not.
            const bool ready = service->WaitForLine("ready", 20000);
            ok = ready && (restart > -3 || Connect() == 0) && WaitFor(g_pens, pens + pensPerHandshake, 10);
            if (!ok) {
                const Outcome outcome = service->Finish(0);
                std::printf("restart %ld: the link did not come back; the service %s: %s\n", restart,
                            ready ? "was ready" : "did not start", outcome.err.c_str());
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ok = Compare("restarts", before, slackKib) && ok;
        PevraNUV_Shutdown();
    }
    std::printf("soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
