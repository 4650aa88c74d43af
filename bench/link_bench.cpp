// Measures the library against two raw clients of the same pipes, in one
// run, all against the bench service: the handshake (the library's own
// first handshake, which the raw clients replay byte for byte) and the push
// rate. Prints figures and ratios; asserts nothing.
//
//   ptsa_link_bench [--rounds R] [--pushes N] [--push-runs P] [--only lean|design|library]
//
// --only runs one client alone, for a profiler.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "design_client.h"
#include "lean_client.h"
#include "posix_session.h"
#include "request.h"
#include "service_process.h"

using Clock = std::chrono::steady_clock;
using namespace PevraNUV::bench;

namespace {

constexpr auto kPatience = std::chrono::seconds(30);

double Microseconds(Clock::duration duration) { return std::chrono::duration<double, std::micro>(duration).count(); }

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// What a host sees of a client: the handshake's last value, and the pushes.
class Observer {
public:
    void Expect(int replies, long pushes) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replies = 0;
        m_expectedReplies = replies;
        m_handshakeDone = false;
        m_pushes = 0;
        m_expectedPushes = pushes;
    }

    // Called for every read reply's value by the design-shaped client.
    void Replied() {
        if (++m_replies == m_expectedReplies) HandshakeDone();
    }

    void HandshakeDone() {
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handshakeAt = now;
        m_handshakeDone = true;
        m_changed.notify_all();
    }

    // Called on one thread at a time; only the last push takes the lock.
    void Pushed() {
        const auto now = Clock::now();
        const long count = m_pushes.load(std::memory_order_relaxed) + 1;
        if (count == 1) m_firstPush = now;
        m_lastPush = now;
        m_pushes.store(count, std::memory_order_relaxed);
        if (count == m_expectedPushes) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_changed.notify_all();
        }
    }

    // The time of the handshake's last value, or nothing.
    bool AwaitHandshake(Clock::time_point& at) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, kPatience, [this] { return m_handshakeDone; })) return false;
        at = m_handshakeAt;
        return true;
    }

    // Pushes a second from the first to the last, or 0.
    double AwaitPushes() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, kPatience, [this] { return m_pushes.load() >= m_expectedPushes; })) return 0;
        return (m_expectedPushes - 1) / std::chrono::duration<double>(m_lastPush - m_firstPush).count();
    }

    void ResetPushes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pushes = 0;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_replies = 0, m_expectedReplies = 0;
    bool m_handshakeDone = false;
    Clock::time_point m_handshakeAt;
    std::atomic<long> m_pushes{0};
    long m_expectedPushes = 0;
    Clock::time_point m_firstPush, m_lastPush;
};

Observer g_observer;

struct Setup {
    ServiceProcess& service;
    std::vector<Request> handshake;
    int reads = 0;  // read requests in the handshake
    long pushes = 0;
};

// One client's handshake (microseconds, negative on failure) and, when
// asked, a burst of pushes after it (pushes a second, 0 on failure).
struct Figures {
    double handshake = -1;
    double pushRate = 0;
};

using Run = Figures (*)(Setup&, bool withPushes);

Figures RunLean(Setup& setup, bool withPushes) {
    Figures figures;
    g_observer.Expect(setup.reads, setup.pushes);
    const auto start = Clock::now();
    LeanClient client;
    bool ok = client.Connected();
    Units key, value;
    for (std::size_t i = 0; ok && i < setup.handshake.size(); ++i) ok = client.Exchange(setup.handshake[i], value);
    if (!ok) return figures;
    figures.handshake = Microseconds(Clock::now() - start);
    if (!withPushes) return figures;
    setup.service.WriteLine("push " + std::to_string(setup.pushes));
    for (long n = 0; n < setup.pushes && client.ReceivePush(key, value); ++n) g_observer.Pushed();
    figures.pushRate = g_observer.AwaitPushes();
    return figures;
}

Figures RunDesign(Setup& setup, bool withPushes) {
    Figures figures;
    g_observer.Expect(setup.reads, setup.pushes);
    const DesignHost host{&g_observer, [](void* observer, Units) { static_cast<Observer*>(observer)->Replied(); },
                          [](void* observer, Units, Units) { static_cast<Observer*>(observer)->Pushed(); }};
    const auto start = Clock::now();
    DesignClient client(host);
    if (!client.Connected()) return figures;
    client.Enqueue(setup.handshake);
    Clock::time_point end;
    if (!g_observer.AwaitHandshake(end)) return figures;
    figures.handshake = Microseconds(end - start);
    if (!withPushes) return figures;
    setup.service.WriteLine("push " + std::to_string(setup.pushes));
    figures.pushRate = g_observer.AwaitPushes();
    return figures;
}

Figures RunLibrary(Setup& setup, bool withPushes) {
    Figures figures;
    g_observer.Expect(setup.reads, setup.pushes);
    PevraNUV_Callbacks table{};
    // The zoom map is the handshake's last value; OnPenInfo follows every
    // battery value once a pen is on file, which the handshake files.
    table.OnSlavedDisplayZoom = [](void* observer, PevraNUV_ZoomMap) {
        static_cast<Observer*>(observer)->HandshakeDone();
    };
    table.OnPenInfo = [](void* observer, const PevraNUV_PenInfo*) { static_cast<Observer*>(observer)->Pushed(); };
    PevraNUV_RegisterCallbacks(&table, &g_observer);
    const auto start = Clock::now();
    Clock::time_point end;
    if (PevraNUV_Connect(0) == 0 && g_observer.AwaitHandshake(end)) {
        figures.handshake = Microseconds(end - start);
        if (withPushes) {
            g_observer.ResetPushes();  // the handshake's own battery value
            setup.service.WriteLine("push " + std::to_string(setup.pushes));
            figures.pushRate = g_observer.AwaitPushes();
        }
    }
    PevraNUV_Shutdown();
    return figures;
}

struct Client {
    const char* name;
    Run run;
};
const Client kClients[] = {{"lean", RunLean}, {"design", RunDesign}, {"library", RunLibrary}};

int CpuCount() {
    cpu_set_t set;
    return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
}

// The median of each client's figures, and the library's ratios two ways:
// of the medians, and the median of the ratios within each round, which
// pairs figures taken moments apart on a machine whose load drifts.
void PrintRow(const char* what, const char* unit, const std::vector<double> (&figures)[3]) {
    const double lean = Median(figures[0]), design = Median(figures[1]), library = Median(figures[2]);
    std::vector<double> toLean, toDesign;
    for (std::size_t i = 0; i < figures[2].size(); ++i) {
        toLean.push_back(figures[2][i] / figures[0][i]);
        toDesign.push_back(figures[2][i] / figures[1][i]);
    }
    std::printf("%-10s lean %7.0f  design %7.0f  library %7.0f %s  library/lean %.2f (paired %.2f)  "
                "library/design %.2f (paired %.2f)\n",
                what, lean, design, library, unit, library / lean, Median(toLean), library / design,
                Median(toDesign));
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 200, pushRuns = 9;
    long pushes = 50000;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--pushes")) pushes = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--push-runs")) pushRuns = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
    }
    if (!PevraNUV::test::EnterOwnPosixSession()) return 1;  // a session of its own, for its own pipes
    PevraNUV_Shutdown();  // a client named after this session's pipes

    const std::string recording = "/tmp/ptsa-bench-" + std::to_string(getpid()) + ".requests";
    ServiceProcess service(PTSA_BENCH_SERVICE_PATH, {"--record", recording});
    if (!service.Started() || !service.WaitForLine("ready", 10000))
        return std::printf("the bench service did not start\n"), 1;
    Setup setup{service, {}, 0, pushes};
    // The library's first handshake is recorded, and warms it up.
    if (RunLibrary(setup, false).handshake < 0 || !service.WaitForLine("recorded", 10000))
        return std::printf("the library's first handshake failed\n"), 1;
    setup.handshake = Prepare(ReadRecording(recording));
    std::remove(recording.c_str());
    for (const Request& request : setup.handshake) setup.reads += request.kind == Kind::Read;
    std::printf("handshake recorded from the library: %zu requests, %d reads; %d CPU%s\n", setup.handshake.size(),
                setup.reads, CpuCount(), CpuCount() == 1 ? "" : "s");

    std::vector<double> handshakes[3], rates[3];
    for (int round = 0; round < rounds + pushRuns; ++round) {
        const bool withPushes = round >= rounds;
        for (int k = 0; k < 3; ++k) {
            const int which = (round + k) % 3;  // each client goes first in turn
            if (!only.empty() && only != kClients[which].name) continue;
            const Figures figures = kClients[which].run(setup, withPushes);
            if (figures.handshake < 0 || (withPushes && figures.pushRate <= 0))
                return std::printf("the %s client failed\n", kClients[which].name), 1;
            if (!withPushes) handshakes[which].push_back(figures.handshake);
            else rates[which].push_back(figures.pushRate);
        }
    }
    if (!only.empty()) return 0;
    std::printf("handshake of %zu exchanges, median of %d rounds; pushes, %ld a run, median of %d runs\n",
                setup.handshake.size(), rounds, pushes, pushRuns);
    PrintRow("handshake", "us ", handshakes);
    PrintRow("pushes", "/s ", rates);
    return 0;
}
