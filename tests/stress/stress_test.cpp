// Eight host threads call every function of the library at once, in rounds
// with PevraNUV_Shutdown between them. Built with PTSA_TSAN the tests fail on
// any race report (TSAN_OPTIONS=halt_on_error=1, set by CTest), a deadlock
// on CTest's time limit, and the messages queued or sent are checked to be
// the callers' batches, each whole and in call order.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "api/library.h"
#include "call_mix.h"
#include "child_process.h"
#include "client/messages.h"
#include "log/log.h"
#include "platform/platform.h"
#include "settings/catalogue.h"

using namespace std::chrono_literals;
using PevraNUV::stress::Caller;
using PevraNUV::test::ChildProcess;

namespace {

constexpr int kHostThreads = 8;
constexpr int kRounds = 3;

// Runs the mix on kHostThreads threads at once and joins them.
std::vector<std::unique_ptr<Caller>> RunHostThreads(int iterations, const std::function<void()>& pace = {}) {
    std::vector<std::unique_ptr<Caller>> callers;
    for (int index = 0; index < kHostThreads; ++index) callers.push_back(std::make_unique<Caller>(index));
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (auto& caller : callers) {
        threads.emplace_back([&ready, &caller, iterations, &pace] {
            // Start together, for the most contention.
            ready.fetch_add(1);
            while (ready.load() < kHostThreads) std::this_thread::yield();
            PevraNUV::stress::RunMix(*caller, iterations, pace);
        });
    }
    for (auto& thread : threads) thread.join();
    return callers;
}

std::vector<const Caller*> View(const std::vector<std::unique_ptr<Caller>>& callers) {
    std::vector<const Caller*> view;
    for (const auto& caller : callers) view.push_back(caller.get());
    return view;
}

// ---- The check itself: it passes the batches intact, and nothing else --

TEST(Stress, TheCheckAcceptsOnlyWholeBatchesInCallOrder) {
    PevraNUV_Shutdown();
    Caller a(0), b(1);
    PevraNUV::stress::RunMix(a, 3);
    PevraNUV::stress::RunMix(b, 3);
    PevraNUV_Shutdown();
    // The two callers' batches taken in turn, then their fixed batches.
    const auto inTurn = [&b](const Caller& first) {
        std::vector<std::u16string> messages;
        const auto append = [&](const PevraNUV::Batch& batch) {
            messages.insert(messages.end(), batch.begin(), batch.end());
        };
        for (std::size_t i = 0; i < std::max(first.batches.size(), b.batches.size()); ++i) {
            if (i < first.batches.size()) append(first.batches[i]);
            if (i < b.batches.size()) append(b.batches[i]);
        }
        for (const Caller* caller : {&first, static_cast<const Caller*>(&b)})
            for (const auto& [batch, count] : caller->fixed)
                for (int i = 0; i < count; ++i) append(batch);
        return messages;
    };
    const auto check = [&](const std::vector<std::u16string>& sent) {
        return PevraNUV::stress::CheckInterleaving(sent, {&a, &b});
    };
    EXPECT_EQ(check(inTurn(a)), "");
    Caller swapped = a;
    std::swap(swapped.batches[0], swapped.batches[1]);
    EXPECT_NE(check(inTurn(swapped)), "") << "one caller's batches swapped";
    std::vector<std::u16string> messages = inTurn(a);
    const std::size_t first = a.batches[0].size();
    ASSERT_GE(first, 2u);
    std::rotate(messages.begin() + 1, messages.begin() + first, messages.begin() + first + b.batches[0].size());
    EXPECT_NE(check(messages), "") << "a batch split by another";
    messages = inTurn(a);
    messages.pop_back();
    EXPECT_NE(check(messages), "") << "the last message lost";
    messages = inTurn(a);
    messages.push_back(PevraNUV::stress::FixedBatches()[1].front());
    EXPECT_NE(check(messages), "") << "a fixed batch too many";
}

// ---- Without a connection: the queue itself is read back ---------------

// The log file of level 5, beside the library (here the test program).
std::string LogFilePath() {
    const std::wstring path = PevraNUV::platform::LibraryFolder() + PevraNUV::kLogFileName;
    return std::string(path.begin(), path.end());
}

TEST(Stress, EveryCallAtOnceQueuesWholeBatchesInCallOrder) {
    std::remove(LogFilePath().c_str());
    for (int round = 0; round < kRounds; ++round) {
        PevraNUV_Shutdown();
        // Now and then a Connect that fails and logs, while the other
        // threads switch the log level and with it the file.
        const std::vector<std::unique_ptr<Caller>> callers = RunHostThreads(150, [] {
            thread_local int iteration = 0;
            if (++iteration % 15 != 0) return;
            PevraNUV_SetLogLevel(5);
            EXPECT_EQ(PevraNUV_Connect(0), 1) << "no service serves this session";
        });
        // Nothing drains the queue without a connection: it holds every
        // message queued this round.
        PevraNUV::SettingsClient& client = PevraNUV::CurrentClient();
        std::vector<std::u16string> queued;
        {
            std::lock_guard<std::recursive_mutex> lock(client.m_lock);
            queued.assign(client.m_outgoing.begin(), client.m_outgoing.end());
        }
        ASSERT_FALSE(queued.empty());
        EXPECT_EQ(PevraNUV::stress::CheckInterleaving(queued, View(callers)), "") << "round " << round;
    }
    PevraNUV_Shutdown();

    // Every record that reached the file is whole, one to a line.
    std::ifstream log(LogFilePath(), std::ios::binary);
    const std::regex record(R"(\d\d:\d\d:\d\d\.\d\d\d -- \d{5,}/\d{5,} -- Timed out waiting for Service\.\r)");
    int records = 0;
    for (std::string line; std::getline(log, line); ++records)
        EXPECT_TRUE(std::regex_match(line, record)) << "record " << records << ": " << line;
    EXPECT_GT(records, 0) << "no record reached " << LogFilePath();
    log.close();
    std::remove(LogFilePath().c_str());
}

// ---- Against a service that pushes: what the service received ---------

// The sync thread's side: its callbacks count the pushes, call back into
// the library, and see the marker that ends a round.
struct SyncThreadSide {
    Caller caller{kHostThreads};
    PevraNUV_Callbacks table{};
    bool callBack = true;  // written and read under the library's lock only
    int pushes = 0;        // likewise
    std::mutex mutex;
    std::int32_t tip = 0;

    SyncThreadSide() {
        table.OnPenInfo = [](void* context, const PevraNUV_PenInfo*) {
            auto& side = *static_cast<SyncThreadSide*>(context);
            if (++side.pushes % 4 != 0 || !side.callBack) return;
            // From inside a callback, with the lock held: a setter, key
            // capture, registration and the log level in turn.
            switch (side.pushes / 4 % 4) {
            case 0:
                side.caller.SetTaggedTip();
                break;
            case 1: {
                PevraNUV_Char keys[16];
                PevraNUV_FinishKeyCapture(keys, sizeof keys);
                ++side.caller.fixed[PevraNUV::stress::FixedBatches()[2]];
                break;
            }
            case 2:
                PevraNUV_RegisterCallbacks(&side.table, &side);
                break;
            default:
                PevraNUV_SetLogLevel(4);
                break;
            }
        };
        table.OnTipSensitivity = [](void* context, std::int32_t value) {
            auto& side = *static_cast<SyncThreadSide*>(context);
            std::lock_guard<std::mutex> lock(side.mutex);
            side.tip = value;
        };
    }
};

// The requests each request-pipe connection received, in the order the
// connections were made, from the service's --trace output.
std::vector<std::vector<std::u16string>> ReadRequests(const std::string& trace) {
    std::istringstream lines(trace);
    std::vector<std::vector<std::u16string>> connections;
    std::map<std::string, std::size_t> requestPipe;  // connection id -> index
    const std::string prefix = "settings-service: #";
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const std::size_t space = line.find(' ', prefix.size());
        if (space == std::string::npos) continue;
        const std::string id = line.substr(prefix.size(), space - prefix.size());
        const std::string rest = line.substr(space + 1);
        if (rest.find("connected to the request pipe") != std::string::npos) {
            requestPipe[id] = connections.size();
            connections.emplace_back();
        } else if (rest.compare(0, 2, "< ") == 0 && requestPipe.count(id)) {
            connections[requestPipe[id]].emplace_back(rest.begin() + 2, rest.end());
        }
    }
    return connections;
}

// Polls until done() holds; false once the link has failed (nothing will
// change any more) or the time is up.
template <typename Done>
bool WaitWhileLinked(PevraNUV::SettingsClient& client, Done done, std::chrono::seconds limit = 240s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (!client.HasSyncThread() || std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(200us);
    }
    return true;
}

TEST(Stress, EveryCallAtOnceAgainstAPushingServiceSendsWholeBatchesInCallOrder) {
    auto service = std::make_unique<ChildProcess>(
        PTSA_SERVICE_PATH, std::vector<std::string>{"--trace", "--push-rate", PTSA_STRESS_PUSH_RATE});
    ASSERT_TRUE(service->WaitForLine("ready", 20000)) << "the service did not start";

    struct Round {
        std::vector<std::unique_ptr<Caller>> hosts;
        std::unique_ptr<SyncThreadSide> sync = std::make_unique<SyncThreadSide>();
        std::unique_ptr<Caller> marker = std::make_unique<Caller>(kHostThreads + 1);
    };
    std::vector<Round> rounds(kRounds);
    for (int index = 0; index < kRounds; ++index) {
        Round& round = rounds[index];
        PevraNUV_Shutdown();
        PevraNUV_RegisterCallbacks(&round.sync->table, round.sync.get());
        PevraNUV::SettingsClient& client = PevraNUV::CurrentClient();
        const auto underLock = [&](auto read) {
            decltype(read()) value{};
            client.RunSerialized([&] { value = read(); });
            return value;
        };
        const auto pushesSeen = [&] { return underLock([&] { return round.sync->pushes; }); };
        // Every host thread connects, all at once at first: one of them
        // opens the pipes, the others find them open. Then the sync thread
        // reads a push only when nothing waits to be sent: each iteration
        // waits for an empty queue, so that the push callbacks run among
        // the host threads' calls.
        std::atomic<int> failedConnects{0};
        round.hosts = RunHostThreads(20, [&] {
            if (PevraNUV_Connect(0) != 0) failedConnects.fetch_add(1);
            WaitWhileLinked(client, [&] { return underLock([&] { return client.m_outgoing.empty(); }); });
        });
        EXPECT_EQ(failedConnects.load(), 0) << "round " << index;
        const int pushesAmongHostCalls = pushesSeen();
        // Enough pushes for the callbacks' own calls, before they stop.
        ASSERT_TRUE(WaitWhileLinked(client, [&] { return pushesSeen() >= 400; }))
            << "round " << index << ": the link failed or the pushes stopped, after " << pushesSeen() << " pushes";

        // No more calls back from the sync thread; then a marker whose
        // answer means every message before it has been answered too. The
        // markers differ from round to round: each handshake reads back the
        // value the round before left.
        client.RunSerialized([&] { round.sync->callBack = false; });
        round.marker->sequence = 1000 * index;
        const auto markerValue = static_cast<std::int32_t>(round.marker->SetTaggedTip());
        ASSERT_TRUE(WaitWhileLinked(client, [&] {
            std::lock_guard<std::mutex> lock(round.sync->mutex);
            return round.sync->tip == markerValue;
        })) << "round " << index << ": the marker's answer never came";
        EXPECT_TRUE(client.HasSyncThread()) << "round " << index << ": the link failed under the load";
        EXPECT_FALSE(round.sync->caller.batches.empty()) << "round " << index << ": no setter called from a callback";
        std::printf("round %d: %d pushes reached the callbacks (%d while the host threads ran), %zu batches queued "
                    "from them\n",
                    index, pushesSeen(), pushesAmongHostCalls, round.sync->caller.batches.size());
        PevraNUV_Shutdown();
    }
    EXPECT_EQ(service->Stop(), 0) << "the service did not end cleanly (a race report in it ends it with 66)";

    // One connection and one handshake a round, however many threads
    // connected at once.
    const auto requests = ReadRequests(service->Output().err);
    ASSERT_EQ(requests.size(), rounds.size()) << "one request-pipe connection a round";
    const std::size_t handshake = 1 + PevraNUV::HandlerTable.size();
    for (std::size_t index = 0; index < rounds.size(); ++index) {
        const auto& received = requests[index];
        ASSERT_GT(received.size(), handshake);
        EXPECT_EQ(received.front(), PevraNUV::wire::kHandshakeRequest);
        std::vector<const Caller*> callers = View(rounds[index].hosts);
        callers.push_back(&rounds[index].sync->caller);
        callers.push_back(rounds[index].marker.get());
        const std::vector<std::u16string> rest(received.begin() + handshake, received.end());
        EXPECT_EQ(PevraNUV::stress::CheckInterleaving(rest, callers), "") << "round " << index;
    }
}

}  // namespace

// ---- The service dies while the host threads call ------------------------

TEST(Stress, HostThreadsCarryOnWhenTheServiceDiesAndShutdownLeavesNothingBehind) {
    // Counted at the end of each round, from the first on: a sanitizer's
    // own thread starts during the first.
    int handles = -1, threads = -1;
    for (int round = 0; round < kRounds; ++round) {
        PevraNUV_Shutdown();
        {
            ChildProcess service(PTSA_SERVICE_PATH, {"--push-rate", PTSA_STRESS_PUSH_RATE});
            ASSERT_TRUE(service.WaitForLine("ready", 20000)) << "the service did not start";
            SyncThreadSide sync;
            PevraNUV_RegisterCallbacks(&sync.table, &sync);
            ASSERT_EQ(PevraNUV_Connect(0), 0);
            PevraNUV::SettingsClient& client = PevraNUV::CurrentClient();
            // A failed link still counts as connected: Connect keeps saying 0.
            std::atomic<int> failedConnects{0};
            std::thread killer([&] {
                std::this_thread::sleep_for(50ms);  // the host threads run 200 ms and more
                service.Stop();
            });
            RunHostThreads(100, [&] {
                if (PevraNUV_Connect(0) != 0) failedConnects.fetch_add(1);
                std::this_thread::sleep_for(2ms);
            });
            killer.join();
            EXPECT_EQ(failedConnects.load(), 0) << "round " << round;
            for (int wait = 0; wait < 500 && client.HasSyncThread(); ++wait) std::this_thread::sleep_for(10ms);
            EXPECT_FALSE(client.HasSyncThread()) << "round " << round << ": the sync thread outlived the service";
            client.RunSerialized([&] { sync.callBack = false; });
            PevraNUV_Shutdown();
        }
        // The sync thread has left the client; give the system a moment to
        // retire it.
        for (int wait = 0; wait < 100 && (round == 0 || PevraNUV::platform::ThreadCount() != threads); ++wait)
            std::this_thread::sleep_for(10ms);
        if (round > 0) {
            EXPECT_EQ(PevraNUV::platform::OpenHandleCount(), handles) << "round " << round;
            EXPECT_EQ(PevraNUV::platform::ThreadCount(), threads) << "round " << round;
        }
        handles = PevraNUV::platform::OpenHandleCount();
        threads = PevraNUV::platform::ThreadCount();
    }
    std::remove(LogFilePath().c_str());
}

// ---- A callback still running while PevraNUV_Shutdown runs ---------------
//
// The exports a callback calls while Shutdown stops its sync thread reach the
// old client, which goes: the fresh client holds no table that callback
// registered (the host may free it once Shutdown returns), no log level and
// no batch of it.
PevraNUV_Callbacks g_slowCallbacks{};
std::atomic<int> g_slowCallbackCalls{0};

TEST(Stress, ACallbackRunningDuringShutdownLeavesTheFreshClientAsAfterLoad) {
    ChildProcess service(PTSA_SERVICE_PATH, {"--push-rate", "1000"});
    ASSERT_TRUE(service.WaitForLine("ready", 20000)) << "the service did not start";
    g_slowCallbacks.OnPenInfo = [](void*, const PevraNUV_PenInfo*) {
        g_slowCallbackCalls.fetch_add(1);
        std::this_thread::sleep_for(5ms);
        PevraNUV_RegisterCallbacks(&g_slowCallbacks, nullptr);
        PevraNUV_SetLogLevel(4);
        PevraNUV_SetTiltSensitivity(5);
    };
    for (int round = 0; round < kRounds; ++round) {
        PevraNUV_Shutdown();
        PevraNUV_RegisterCallbacks(&g_slowCallbacks, nullptr);
        ASSERT_EQ(PevraNUV_Connect(0), 0);
        const int calls = g_slowCallbackCalls.load();
        while (g_slowCallbackCalls.load() < calls + 3) std::this_thread::sleep_for(1ms);
        PevraNUV_Shutdown();  // most likely during a callback: they run back to back
        PevraNUV::SettingsClient& fresh = PevraNUV::CurrentClient();
        std::lock_guard<std::recursive_mutex> lock(fresh.m_lock);
        EXPECT_TRUE(fresh.m_callbackTables.empty()) << "round " << round;
        EXPECT_EQ(fresh.m_logLevel, 3) << "round " << round;
        EXPECT_FALSE(PevraNUV::g_logEnabled.load()) << "round " << round;
        EXPECT_TRUE(fresh.m_outgoing.empty()) << "round " << round;
    }
    PevraNUV_Shutdown();
}
