// SettingsClient: construction, serialised tasks, the outgoing queue, and
// destruction of a client that never connected.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "client/settings_client.h"
#include "platform/platform.h"

using PevraNUV::SettingsClient;
namespace platform = PevraNUV::platform;

namespace {

struct ClientDeleter {
    void operator()(SettingsClient* client) const { SettingsClient::Destroy(client); }
};
using ClientPtr = std::unique_ptr<SettingsClient, ClientDeleter>;

ClientPtr NewClient() { return ClientPtr(SettingsClient::Create()); }

bool IsSignalled(platform::Handle event) { return platform::WaitForOne(event, 0) == platform::WaitResult::Signalled; }

// Whether another thread could take the client's lock at this moment.
bool LockIsFreeForOthers(SettingsClient& client) {
    bool free = false;
    std::thread other([&] {
        free = client.m_lock.try_lock();
        if (free) client.m_lock.unlock();
    });
    other.join();
    return free;
}

std::u16string Decimal(std::uint32_t number) {
    std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace

TEST(SettingsClient, PipeNamesEndInTheSessionId) {
    std::uint32_t session = 0;
    std::u16string suffix = platform::QuerySessionId(session) ? Decimal(session) : u"0";
    ClientPtr client = NewClient();
    EXPECT_EQ(client->m_sendOnlyPipeName, uR"(\\.\pipe\PevraSettingsSyncherSendOnly_)" + suffix);
    EXPECT_EQ(client->m_pipeName, uR"(\\.\pipe\PevraSettingsSyncher_)" + suffix);
}

TEST(SettingsClient, StartsUnconnectedWithBothEventsOpen) {
    ClientPtr client = NewClient();
    EXPECT_FALSE(client->m_shuttingDown.load());
    EXPECT_EQ(client->m_logLevel, 3);
    EXPECT_EQ(client->m_sendOnlyPipe.load(), platform::kInvalidHandle);
    EXPECT_EQ(client->m_pipe.load(), platform::kInvalidHandle);
    EXPECT_FALSE(client->IsConnected());
    EXPECT_TRUE(client->m_outgoing.empty());
    EXPECT_TRUE(client->m_callbackTables.empty());
    EXPECT_EQ(client->m_ranges[0], 0);
    EXPECT_EQ(client->m_ranges[1], 6);
    EXPECT_EQ(client->m_ranges[2], -90);
    EXPECT_EQ(client->m_ranges[3], 90);

    // Two distinct open events, not signalled, manual reset.
    platform::Handle events[] = {client->m_stopEvent.load(), client->m_sendEvent.load()};
    EXPECT_NE(events[0], events[1]);
    for (platform::Handle event : events) {
        ASSERT_NE(event, platform::kInvalidHandle);
        EXPECT_EQ(platform::WaitForOne(event, 0), platform::WaitResult::TimedOut);
        ASSERT_TRUE(platform::SetEvent(event));
        EXPECT_TRUE(IsSignalled(event));
        EXPECT_TRUE(IsSignalled(event)) << "a wait does not reset the event";
        ASSERT_TRUE(platform::ResetEvent(event));
        EXPECT_EQ(platform::WaitForOne(event, 0), platform::WaitResult::TimedOut);
    }
}

TEST(RunSerialized, RunsTheTaskOnTheCallingThreadUnderTheLock) {
    ClientPtr client = NewClient();
    std::thread::id ranOn;
    bool lockHeld = false;
    client->RunSerialized([&] {
        ranOn = std::this_thread::get_id();
        lockHeld = !LockIsFreeForOthers(*client);
    });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(lockHeld);
    EXPECT_TRUE(LockIsFreeForOthers(*client));
}

TEST(RunSerialized, NestedTasksRunAtOnceOnTheSameThread) {
    ClientPtr client = NewClient();
    std::vector<int> order;
    client->RunSerialized([&] {
        order.push_back(1);
        client->RunSerialized([&] {
            order.push_back(2);
            client->RunSerialized([&] { order.push_back(3); });
            order.push_back(4);
        });
        order.push_back(5);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(LockIsFreeForOthers(*client));
}

TEST(RunSerialized, TaskOfAnotherThreadWaitsForTheLock) {
    ClientPtr client = NewClient();
    std::atomic<bool> otherCalling{false};
    std::atomic<bool> otherRan{false};
    std::vector<const char*> order;
    std::thread other;
    client->RunSerialized([&] {
        other = std::thread([&] {
            otherCalling = true;
            client->RunSerialized([&] {
                order.push_back("other");
                otherRan = true;
            });
        });
        while (!otherCalling) std::this_thread::yield();
        // The other thread is calling now; give it time to get past the lock
        // if the lock did not hold it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(otherRan.load());
        order.push_back("first");
    });
    other.join();
    EXPECT_TRUE(otherRan.load());
    EXPECT_EQ(order, (std::vector<const char*>{"first", "other"}));
}

TEST(RunSerialized, TasksOfManyThreadsNeverOverlap) {
    ClientPtr client = NewClient();
    constexpr int kThreads = 4, kTasks = 2000;
    int inside = 0, mostInside = 0, total = 0;  // touched only by tasks
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kTasks; ++i) {
                client->RunSerialized([&] {
                    ++inside;
                    if (inside > mostInside) mostInside = inside;
                    ++total;
                    --inside;
                });
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(total, kThreads * kTasks);
    EXPECT_EQ(mostInside, 1);
}

TEST(RunSerialized, EmptyAndThrowingTasksAreContainedAndFreeTheLock) {
    ClientPtr client = NewClient();
    struct Case {
        const char* what;
        PevraNUV::Task task;
    } cases[] = {
        {"empty task", PevraNUV::Task()},
        {"throws a standard exception", [] { throw std::runtime_error("task failed"); }},
        {"throws something else", [] { throw 42; }},
        {"throws from a nested task", [&] { client->RunSerialized([] { throw std::bad_alloc(); }); throw 1; }},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NO_THROW(client->RunSerialized(std::move(c.task)));
        EXPECT_TRUE(LockIsFreeForOthers(*client));
    }
    // The client goes on working.
    bool ran = false;
    client->RunSerialized([&] { ran = true; });
    EXPECT_TRUE(ran);
}

namespace {

struct ProbeOutcome {
    bool ran;
    bool destroyedOnReturn;
};

// Runs a task that holds the only reference to a probe object: did the task
// run, and was it destroyed by the time RunSerialized returned?
ProbeOutcome RunProbe(SettingsClient& client) {
    auto probe = std::make_shared<int>(0);
    std::weak_ptr<int> watch = probe;
    bool ran = false;
    // The comma operator reads the probe before the end of the full
    // expression, where a parameter left alive by the caller would die.
    bool destroyed = (client.RunSerialized([&ran, probe = std::move(probe)] { ran = true; }), watch.expired());
    return {ran, destroyed};
}

}  // namespace

TEST(RunSerialized, DestroysTheTaskBeforeItReturns) {
    ClientPtr client = NewClient();
    ProbeOutcome outcome = RunProbe(*client);
    EXPECT_TRUE(outcome.ran);
    EXPECT_TRUE(outcome.destroyedOnReturn);
}

TEST(RunSerialized, SkipsAndDestroysTasksOnceShuttingDown) {
    ClientPtr client = NewClient();
    client->RunSerialized([&] { client->EnqueueMessage(u"before"); });
    client->m_shuttingDown = true;

    ProbeOutcome outcome = RunProbe(*client);
    EXPECT_FALSE(outcome.ran);
    EXPECT_TRUE(outcome.destroyedOnReturn);

    // A skipped enqueue leaves the queue and the send event alone.
    platform::ResetEvent(client->m_sendEvent.load());
    client->RunSerialized([&] { client->EnqueueMessages({u"after"}); });
    EXPECT_EQ(client->m_outgoing, (std::deque<std::u16string>{u"before"}));
    EXPECT_FALSE(IsSignalled(client->m_sendEvent.load()));
    EXPECT_TRUE(LockIsFreeForOthers(*client));
}

TEST(EnqueueMessages, SignalsTheSendEventEvenForAnEmptyBatch) {
    ClientPtr client = NewClient();
    platform::Handle sendEvent = client->m_sendEvent.load();
    ASSERT_EQ(platform::WaitForOne(sendEvent, 0), platform::WaitResult::TimedOut);
    client->RunSerialized([&] { client->EnqueueMessages({}); });
    EXPECT_TRUE(IsSignalled(sendEvent));
    EXPECT_TRUE(client->m_outgoing.empty());
    EXPECT_FALSE(IsSignalled(client->m_stopEvent.load()));
}

TEST(EnqueueMessages, AppendsBatchesInOrderAndSignalsEachTime) {
    ClientPtr client = NewClient();
    platform::Handle sendEvent = client->m_sendEvent.load();
    struct Step {
        std::vector<std::u16string> batch;  // one message: EnqueueMessage
        bool single;
    } steps[] = {
        {{u"a", u"b", u"c"}, false},
        {{u"d"}, true},
        {{}, false},
        {{u"e", u""}, false},
        {{u"f"}, false},
    };
    for (const Step& step : steps) {
        platform::ResetEvent(sendEvent);
        client->RunSerialized([&] {
            if (step.single)
                client->EnqueueMessage(step.batch.front());
            else
                client->EnqueueMessages(step.batch);
        });
        EXPECT_TRUE(IsSignalled(sendEvent));
    }
    EXPECT_EQ(client->m_outgoing, (std::deque<std::u16string>{u"a", u"b", u"c", u"d", u"e", u"", u"f"}));
}

TEST(SettingsClient, CreateAndDestroyCyclesLeakNoHandle) {
    constexpr int kCycles = 1000;
    NewClient().reset();  // the first client may set up lazily held resources
    const int before = platform::OpenHandleCount();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        ClientPtr client = NewClient();
        ASSERT_NE(client->m_stopEvent.load(), platform::kInvalidHandle) << "cycle " << cycle;
        ASSERT_NE(client->m_sendEvent.load(), platform::kInvalidHandle) << "cycle " << cycle;
        client->RunSerialized([&] { client->EnqueueMessage(u"queued"); });
    }
    if (before < 0) GTEST_SKIP() << "the platform cannot count open handles";
    // At most as many as before: a leak of two events per cycle would show
    // as thousands more; fewer may mean another test's thread closed some.
    EXPECT_LE(platform::OpenHandleCount(), before);
}

// A client without a sync thread has nobody to wait for: its destruction
// must not poll for one. Ten of them in well under ten polling periods.
TEST(SettingsClient, DestroyingAClientWithoutSyncThreadDoesNotWait) {
    std::vector<ClientPtr> clients;
    for (int i = 0; i < 10; ++i) clients.push_back(NewClient());
    clients[3]->RunSerialized([&] { clients[3]->EnqueueMessage(u"never sent"); });
    auto start = std::chrono::steady_clock::now();
    clients.clear();
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(500));
}
