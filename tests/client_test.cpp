// SettingsClient: construction, serialised tasks, the outgoing queue, and
// destruction of a client that never connected.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
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

}  // namespace

TEST(SettingsClient, StartsUnconnectedWithPipesNamedAfterTheSession) {
    std::uint32_t session = 0;
    const std::string digits = platform::QuerySessionId(session) ? std::to_string(session) : "0";
    const std::u16string suffix(digits.begin(), digits.end());
    ClientPtr client = NewClient();
    EXPECT_EQ(client->m_sendOnlyPipeName, uR"(\\.\pipe\PevraSettingsSyncherSendOnly_)" + suffix);
    EXPECT_EQ(client->m_pipeName, uR"(\\.\pipe\PevraSettingsSyncher_)" + suffix);
    EXPECT_EQ(client->m_sendOnlyPipe.load(), platform::kInvalidHandle);
    EXPECT_EQ(client->m_pipe.load(), platform::kInvalidHandle);
    EXPECT_FALSE(client->IsConnected());

    // Two distinct open events, not signalled, manual reset.
    platform::Handle events[] = {client->m_stopEvent.load(), client->m_sendEvent.load()};
    EXPECT_NE(events[0], events[1]);
    for (platform::Handle event : events) {
        ASSERT_NE(event, platform::kInvalidHandle);
        EXPECT_FALSE(IsSignalled(event));
        ASSERT_TRUE(platform::SetEvent(event));
        EXPECT_TRUE(IsSignalled(event));
        EXPECT_TRUE(IsSignalled(event)) << "a wait does not reset the event";
        ASSERT_TRUE(platform::ResetEvent(event));
        EXPECT_FALSE(IsSignalled(event));
    }
}

TEST(RunSerialized, RunsTasksAtOnceOnTheCallingThreadUnderTheLockAndNested) {
    ClientPtr client = NewClient();
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<int> order;
    client->RunSerialized([&] {
        order.push_back(1);
        EXPECT_EQ(std::this_thread::get_id(), caller);
        EXPECT_FALSE(LockIsFreeForOthers(*client));
        client->RunSerialized([&] { order.push_back(2); });
        order.push_back(3);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(LockIsFreeForOthers(*client));
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
                    mostInside = std::max(mostInside, ++inside);
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
    PevraNUV::Task tasks[] = {
        PevraNUV::Task(),
        [] { throw std::runtime_error("task failed"); },
        [] { throw 42; },
        [&] { client->RunSerialized([] { throw std::bad_alloc(); }); throw 1; },
    };
    for (PevraNUV::Task& task : tasks) {
        EXPECT_NO_THROW(client->RunSerialized(std::move(task)));
        EXPECT_TRUE(LockIsFreeForOthers(*client));
    }
    bool ran = false;
    client->RunSerialized([&] { ran = true; });
    EXPECT_TRUE(ran) << "the client goes on working";
}

// A task holding the only reference to a probe is destroyed by the time
// RunSerialized returns, whether it ran or was skipped.
TEST(RunSerialized, DestroysTheTaskBeforeItReturnsAndSkipsItOnceShuttingDown) {
    ClientPtr client = NewClient();
    for (const bool shuttingDown : {false, true}) {
        client->m_shuttingDown = shuttingDown;
        auto probe = std::make_shared<int>(0);
        std::weak_ptr<int> watch = probe;
        bool ran = false;
        // The comma operator reads the probe before the end of the full
        // expression, where a parameter left alive by the caller would die.
        const bool destroyed = (client->RunSerialized([&ran, probe = std::move(probe)] { ran = true; }), watch.expired());
        EXPECT_EQ(ran, !shuttingDown);
        EXPECT_TRUE(destroyed);
        EXPECT_TRUE(LockIsFreeForOthers(*client));
    }
}

TEST(EnqueueMessages, AppendsBatchesInOrderAndSignalsEachTimeEvenForAnEmptyOne) {
    ClientPtr client = NewClient();
    platform::Handle sendEvent = client->m_sendEvent.load();
    const std::vector<std::u16string> batches[] = {{u"a", u"b", u"c"}, {u"d"}, {}, {u"e", u""}};
    for (const auto& batch : batches) {
        platform::ResetEvent(sendEvent);
        client->RunSerialized([&] {
            if (batch.size() == 1)
                client->EnqueueMessage(batch.front());
            else
                client->EnqueueMessages(batch);
        });
        EXPECT_TRUE(IsSignalled(sendEvent));
    }
    EXPECT_EQ(client->m_outgoing, (std::deque<std::u16string>{u"a", u"b", u"c", u"d", u"e", u""}));
    EXPECT_FALSE(IsSignalled(client->m_stopEvent.load()));
}

// A client without a sync thread has nobody to wait for: its destruction
// must not poll for one. Ten of them in well under ten polling periods.
TEST(SettingsClient, DestroyingAClientWithoutSyncThreadDoesNotWait) {
    std::vector<ClientPtr> clients;
    for (int i = 0; i < 10; ++i) clients.push_back(NewClient());
    clients[3]->RunSerialized([&] { clients[3]->EnqueueMessage(u"never sent"); });
    const auto start = std::chrono::steady_clock::now();
    clients.clear();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}
