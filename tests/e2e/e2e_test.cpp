// The library in this process, the reference service in another, over the
// real transport.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <regex>
#include <vector>

#include "child_process.h"
#include "host.h"
#include "usage.h"

using namespace PevraNUV::test;
using namespace std::chrono_literals;

namespace {

const std::string kHandshakeEnd = "zoom(0,0,100,100)";  // the last value the handshake reads

class EndToEnd : public ::testing::Test {
protected:
    // A client of this test's session: the one made at load predates it.
    void SetUp() override {
        PevraNUV_Shutdown();
        log = std::make_unique<LogFile>(::testing::TempDir() + "ptsa_e2e_" + std::to_string(ProcessId()) + ".log");
    }
    void TearDown() override { PevraNUV_Shutdown(); }
    void Connected() {  // registered, connected, the handshake in
        host.Forget(), host.Register();
        ASSERT_EQ(Connect(), 0);
        ASSERT_TRUE(host.WaitToHear(kHandshakeEnd));
    }
    // A values file for the service: the tilt it starts with.
    static std::string ValuesFile(int tilt) {
        const std::string path = ::testing::TempDir() + "ptsa_values_" + std::to_string(tilt) + ".json";
        std::ofstream(path) << R"({"ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity":")" << tilt << "\"}";
        return path;
    }
    template <typename Done>
    static bool Eventually(Done done) {  // within 5 s
        for (int wait = 0; wait < 500 && !done(); ++wait) std::this_thread::sleep_for(10ms);
        return done();
    }
    bool LogShows(const std::string& text) { return Eventually([&] { return log->Messages().find(text) != std::string::npos; }); }

    Host host;
    std::unique_ptr<LogFile> log;
};

// The service's restarts under one client, a case each. Every step waits
// for an event (a record in the log, a value heard), none for a time.
const std::string kOutage = "SyncThread read failed.\nTimed out waiting for Service.\n";  // and its first attempt

class Restart : public EndToEnd {
protected:
    void SetUp() override {
        EndToEnd::SetUp();
        service = StartService({"--values", ValuesFile(20), "--stdin-control"});
        ASSERT_NO_FATAL_FAILURE(Connected());
        threads = MeasureUsage().threads;  // with the link's (the first connect may start Wine's own)
    }
    void GoAway() {  // the service ends, and the first attempt to connect again fails
        service.reset();
        ASSERT_TRUE(LogShows(kOutage));
    }
    std::unique_ptr<ChildProcess> service;
    long threads = 0;
};

TEST_F(Restart, APushPipeClosedAloneComesBackAtOnce) {
    service->WriteLine("close-pushes");
    ASSERT_TRUE(LogShows("Reconnected to Service.\n"));
    PevraNUV_SetTiltSensitivity(12);  // answered after the new link's handshake
    EXPECT_TRUE(host.WaitToHear("tilt(12)"));
    EXPECT_EQ(log->Messages(), "SyncThread read failed.\nReconnected to Service.\n");
}

TEST_F(Restart, TheServiceIsHeardAgainWithoutAConnect) {
    ASSERT_NO_FATAL_FAILURE(GoAway());
    EXPECT_EQ(PevraNUV_Connect(0), 1) << "connected without a service";
    PevraNUV_SetTiltSensitivity(33);  // dropped: no link carries it
    host.Forget();
    service = StartService({"--values", ValuesFile(40)});
    ASSERT_TRUE(host.WaitToHear("tilt(40)"));
    EXPECT_FALSE(host.HasHeard("tip(3)") || host.HasHeard("tilt(33)")) << "reported again, or sent while away";
    PevraNUV_SetTiltSensitivity(9);
    EXPECT_TRUE(host.WaitToHear("tilt(9)")) << "a change after the restart did not reach the new service";
    EXPECT_FALSE(host.Threads().count(std::this_thread::get_id())) << "a callback ran on the host's thread";
    EXPECT_EQ(log->Messages(), kOutage + "Timed out waiting for Service.\nReconnected to Service.\n");
}

TEST_F(Restart, AHostsConnectInTheOutageLeavesOneLink) {
    ASSERT_NO_FATAL_FAILURE(GoAway());
    // The host asks every millisecond from before the service is back, so
    // it, and not the waiting thread's next attempt, finds the pipes first.
    auto connect = std::async(std::launch::async, [] {
        for (int attempt = 0; attempt < 10000; ++attempt, std::this_thread::sleep_for(1ms))
            if (PevraNUV_Connect(0) == 0) return 0;
        return 1;
    });
    service = StartService({"--values", ValuesFile(50)});
    EXPECT_EQ(connect.get(), 0);
    ASSERT_TRUE(host.WaitToHear("tilt(50)"));
    PevraNUV_SetTiltSensitivity(51);  // answered after the handshake's rest
    EXPECT_TRUE(host.WaitToHear("tilt(51)") && ThreadsSettlingTo(threads) == threads) << "not one link on one thread";
    // The host's own failures while the service comes up are logged.
    const std::string failed = "((Timed out waiting for|Couldn't find) Service\\.\n)*";
    EXPECT_TRUE(std::regex_match(log->Messages(), std::regex(kOutage + failed + "Reconnected to Service\\.\n")))
        << log->Messages();
}

// A service that serves the push pipe alone: every attempt of the outage
// fails at the request pipe, and its trace counts them (a connection each,
// and natively one more for the wait for the pipe).
TEST_F(Restart, AnOutageLogsOnlyItsFirstFailedAttempt) {
    ASSERT_NO_FATAL_FAILURE(GoAway());
    auto half = StartService({"--no-request-pipe", "--trace"});
    EXPECT_TRUE(half->WaitForError("#4 process", 10000)) << "the thread stopped trying";
    EXPECT_EQ(log->Messages(), kOutage);
}

TEST_F(Restart, ShutdownEndsTheWaitForTheService) {
    ASSERT_NO_FATAL_FAILURE(GoAway());
    const auto start = std::chrono::steady_clock::now();
    PevraNUV_Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "Shutdown waited for an attempt";
    EXPECT_EQ(ThreadsSettlingTo(threads - 1), threads - 1);
    EXPECT_EQ(log->Messages(), kOutage);
}

#ifdef _WIN32
// Two processes that serve the two pipes are refused before a byte is
// written to either (the peer checks of the POSIX transport are in
// posix_transport_test.cpp).
TEST_F(EndToEnd, PipesOfTwoServersAreRefused) {
    auto pushes = StartService({"--no-request-pipe"});
    auto requests = StartService({"--no-send-only-pipe", "--trace"});
    host.Register();
    EXPECT_EQ(PevraNUV_Connect(0), 1);
    EXPECT_EQ(log->Messages(), "Couldn't find Service.\n");
    requests->WaitForError(" closed", 10000);  // the refused client hangs up (one wrongly trusted talks)
    const std::string trace = requests->Finish(0).err;
    EXPECT_TRUE(trace.find("connected to the request pipe") != std::string::npos && trace.find(" < ") == std::string::npos)
        << "the request pipe's server was not reached, or received a message:\n" << trace;
}
#endif

// What a misbehaving service does to the link. Every row connects, waits
// for the handshake's end or the link's, and then changes the tilt.
struct Fault {
    const char* name;
    std::vector<std::string> service;  // its arguments; {"-"}: no service
    int connect;
    bool handshake;  // its last value arrives
    enum { Survives, Ends, Retries } link;  // Survives: the tilt's answer arrives
    const char* log;  // the messages logged (a regular expression)
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

const Fault kFaults[] = {
    {"NoService", {"-"}, 1, false, Fault::Ends, "Timed out waiting for Service\\.\n"},
    {"NoRequestPipe", {"--no-request-pipe"}, 1, false, Fault::Ends, "Couldn't find Service\\.\n"},
    {"Handshake_Ack0", {"--bad-reply", "handshake-ack-0"}, 0, false, Fault::Ends, "Unknown protocol version\\.\n"},
    {"Handshake_Ack2", {"--bad-reply", "handshake-ack-2"}, 0, true, Fault::Survives, ""},
    {"WriteReplyAck0", {"--bad-reply", "ack-0"}, 0, true, Fault::Ends, "Set value: bad format\\.\n"},
    {"ReplyTooLate", {"--delay-reply-ms", "1500", "--only-request", "3"}, 0, false, Fault::Ends, "Ack read failed\\.\n"},
    {"RequestPipeClosed", {"--close-after", "2"}, 0, false, Fault::Retries,
     "(Ack read failed\\.\nReconnected to Service\\.\n)+(Ack read failed\\.\n)?"},
    {"DiesInTheHandshake", {"--die-in-handshake", "5"}, 0, false, Fault::Retries,
     // The first attempt meets the dying service's pipe (busy) or none at all.
     "(.+ read failed\\.\nReconnected to Service\\.\n)*.+ read failed\\.\n(Timed out waiting for|Couldn't find) Service\\.\n"},
    {"OddByteCount", {"--odd-bytes"}, 0, true, Fault::Survives, ""},
    {"OneMiBReply", {"--long-reply", "524288", "--only-request", "3"}, 0, true, Fault::Survives, ""},
};

class FaultMatrix : public EndToEnd, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultMatrix, Link) {
    const Fault& fault = GetParam();
    const long threads = MeasureUsage().threads;
    auto service = fault.service[0] == "-" ? nullptr : StartService(fault.service);
    host.Register();
    EXPECT_EQ(PevraNUV_Connect(0), fault.connect);
    if (fault.handshake) EXPECT_TRUE(host.WaitToHear(kHandshakeEnd));
    PevraNUV_SetTiltSensitivity(8);
    if (fault.link == Fault::Survives) EXPECT_TRUE(host.WaitToHear("tilt(8)"));
    if (fault.link == Fault::Ends)  // the sync thread leaves
        EXPECT_TRUE(Eventually([&] { return MeasureUsage().threads == threads; })) << "the sync thread goes on";
    if (fault.link == Fault::Retries)  // the first attempt to connect again is in the log
        EXPECT_TRUE(LogShows("Service.\n") && MeasureUsage().threads == threads + 1) << "the sync thread gave up";
    EXPECT_EQ(host.HasHeard(kHandshakeEnd), fault.handshake);
    EXPECT_EQ(host.HasHeard("tilt(8)"), fault.link == Fault::Survives);
    EXPECT_TRUE(Eventually([&] { return std::regex_match(log->Messages(), std::regex(fault.log)); })) << log->Messages();
    if (fault.link == Fault::Ends && fault.connect == 0) EXPECT_EQ(PevraNUV_Connect(0), 0) << "a failed link still counts as connected";
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

}  // namespace
