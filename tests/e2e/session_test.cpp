// The C++ face (PTabletSettings.hpp) against the reference service: each
// setter's road to its handler on the draining thread, a throwing handler, a
// restart, the end while pushes arrive. (ptsa-cli shows dump, watch, capture.)
#include <gtest/gtest.h>

#include <PTabletSettings.hpp>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "host.h"

using namespace std::chrono_literals;

// The two builds of second_module.cpp.
extern "C" const char* OpenSessionIn_default();
extern "C" const char* OpenSessionIn_hidden();

namespace {

std::string Fn(const ptsa::ButtonFunction& f) { return std::to_string(f.code) + ":" + std::string(f.text.begin(), f.text.end()); }

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { PevraNUV_Shutdown(); }  // a client of this test's session
    // Handlers writing down "kind(values)" in order, each on the draining thread (this one).
    ptsa::Handlers Recording() {
        ptsa::Handlers h;
        h.eraser = [this](ptsa::EraserPress p, const ptsa::ButtonFunction& f) { Note("eraser", int(p), Fn(f)); };
        h.sideSwitch = [this](ptsa::Switch s, const ptsa::SideSwitch& v) { Note("switch", int(s), Fn(v.press) + "," + std::to_string(v.hoverClick)); };
        h.wedge = [this](ptsa::Wedge w, const ptsa::Wedges& all) { Note("wedge", int(w), Fn(all[std::size_t(w)])); };
        h.tipSensitivity = [this](std::int32_t v) { Note("tip", 0, std::to_string(v)); };
        h.tiltSensitivity = [this](std::int32_t v) { Note("tilt", 0, std::to_string(v)); };
        h.zoom = [this](const ptsa::ZoomMap& z) { Note("zoom", 0, std::to_string(z.a) + "," + std::to_string(z.d)); };
        h.options = [this](ptsa::Options o, const std::vector<ptsa::ButtonFunction>& l) { Note("options", int(o), std::to_string(l.size())); };
        h.pen = [this](const ptsa::PenInfo& p) { Note("pen", p.batteryStatus, std::string(p.penId.begin(), p.penId.end())); };
        return h;
    }
    void Note(const char* kind, int which, const std::string& value) {
        EXPECT_EQ(std::this_thread::get_id(), drainer) << "a handler ran off the draining thread";
        heard.push_back(kind + std::to_string(which) + "(" + value + ")");
    }
    std::size_t At(const std::string& call) const { return std::find(heard.begin(), heard.end(), call) - heard.begin(); }
    bool DrainUntil(const std::string& call) {  // on this thread, for at most 10 s
        for (auto end = std::chrono::steady_clock::now() + 10s; At(call) == heard.size() && std::chrono::steady_clock::now() < end;)
            queue.waitFor(10ms);
        return At(call) < heard.size();
    }

    const std::thread::id drainer = std::this_thread::get_id();
    ptsa::Queue queue;
    std::vector<std::string> heard;
};

TEST_F(SessionTest, EverySettersRoadEndsInItsHandlerOnTheDrainingThread) {
    auto service = PevraNUV::test::StartService();
    ptsa::Session session(Recording(), queue);
    EXPECT_THROW((ptsa::Session{Recording(), queue}), std::logic_error);
    ASSERT_EQ(session.connect(), ptsa::Connection::Connected);
    ASSERT_TRUE(DrainUntil("zoom0(0,100)"));
    for (const char* call : {"tilt0(5)", "options5(7)", "pen85(PEN-7F3A21)"}) EXPECT_LT(At(call), heard.size()) << call;
    const auto run = ptsa::ButtonFunction::RunApplication(u"C:\\a.exe");
    const std::pair<std::function<void()>, std::string> roads[] = {
        {[&] { session.setZoom({1, 2, 3, 4}); }, "zoom0(1,4)"},
        {[&] { session.resetZoom(); }, "zoom0(0,0)"},
        {[&] { session.setEraser(ptsa::EraserPress::Double, ptsa::ButtonFunction::Code(1)); }, "eraser1(1:)"},
        {[&] { session.setSwitchPress(ptsa::Switch::Top, ptsa::ButtonFunction::Code(3)); }, "switch0(3:,1)"},
        {[&] { session.setEraser(ptsa::EraserPress::Long, ptsa::ButtonFunction::Code(3)); }, "eraser2(3:)"},
        {[&] { session.setEraser(ptsa::EraserPress::Single, run); }, "eraser0(23:C:\\a.exe)"},
        {[&] { session.setSwitchPress(ptsa::Switch::Bottom, ptsa::ButtonFunction::Code(4)); }, "switch1(4:,0)"},
        {[&] { session.setHoverClick(ptsa::Switch::Bottom, true); }, "switch1(4:,1)"},
        {[&] { session.setWedge(ptsa::Wedge::North, ptsa::ButtonFunction::Code(2)); }, "wedge6(2:)"},
    };
    for (const auto& [set, heardBack] : roads) {
        set();
        EXPECT_TRUE(DrainUntil(heardBack)) << heardBack;
    }
    session.setTipSensitivity(6), session.setTipSensitivity(7), std::this_thread::sleep_for(300ms);  // both answered, undrained
    ASSERT_TRUE(DrainUntil("tip0(7)"));
    EXPECT_LT(At("tip0(6)"), At("tip0(7)")) << "handlers drained out of the order the library reported";
}

TEST_F(SessionTest, AThrowingHandlerIsContainedAndARestartIsSurvivedAndTold) {
    auto service = PevraNUV::test::StartService();
    ptsa::Handlers handlers = Recording();
    handlers.tipSensitivity = [](std::int32_t) { throw std::runtime_error("handler"); };
    handlers.error = [this](std::exception_ptr) { Note("error", 0, ""); };
    handlers.availability = [this](bool available) { Note("available", available, ""); };
    ptsa::Session session(handlers, queue);
    EXPECT_FALSE(session.isServiceAvailable());
    ASSERT_EQ(session.connect(), ptsa::Connection::Connected);
    EXPECT_TRUE(session.isServiceAvailable());
    ASSERT_TRUE(DrainUntil("zoom0(0,100)") && At("error0()") < heard.size());
    EXPECT_EQ(session.snapshot().tiltSensitivity, 5);
    service = nullptr;  // the same session hears the next service, without a connect
    ASSERT_TRUE(DrainUntil("available0()"));
    heard.clear();
    service = PevraNUV::test::StartService({"--values", PTSA_SERVICE_VALUES});
    ASSERT_TRUE(DrainUntil("available1()") && DrainUntil("options5(7)"));  // option lists come with every handshake
    session.setZoom({5, 6, 7, 8});
    EXPECT_TRUE(DrainUntil("zoom0(5,8)"));
    // What a page opened now reads: the new service's values over the old ones.
    const ptsa::Snapshot now = session.snapshot();
    EXPECT_EQ(now.tiltSensitivity, 3);
    EXPECT_EQ(now.versions.service, u"9.8.7-pkgtest");
    EXPECT_EQ(now.pen.penId, u"PEN-7F3A21");
    EXPECT_EQ(now.zoom, (ptsa::ZoomMap{5, 6, 7, 8}));
    EXPECT_EQ(now.options[std::size_t(ptsa::Options::RadialWedge)].size(), 7u);
}

TEST_F(SessionTest, ASecondSessionInAnyModuleIsRefusedAndTheFirstGoesOn) {
    auto service = PevraNUV::test::StartService();
    {
        ptsa::Session session(Recording(), queue);
        ASSERT_EQ(session.connect(), ptsa::Connection::Connected);
        ASSERT_TRUE(DrainUntil("zoom0(0,100)"));
        for (auto open : {OpenSessionIn_default, OpenSessionIn_hidden})
            EXPECT_STREQ(open(), "another PTabletSettings session is open in this process");
        EXPECT_THROW((ptsa::Session{Recording(), queue}), std::logic_error);
        session.setZoom({1, 2, 3, 4});
        EXPECT_TRUE(DrainUntil("zoom0(1,4)")) << "the refused sessions disturbed the first";
    }
    EXPECT_STREQ(OpenSessionIn_hidden(), "") << "the first session has ended: another may open";
}

// Capture until stop, however long the duration; a negative one is refused.
TEST_F(SessionTest, CaptureWaitsForStopWithTheLongestDuration) {
    auto service = PevraNUV::test::StartService({"--stdin-control"});
    ptsa::Session session(Recording(), queue);
    ASSERT_EQ(session.connect(), ptsa::Connection::Connected);
    ASSERT_TRUE(DrainUntil("zoom0(0,100)"));
    EXPECT_THROW(session.captureKeystrokes(-1ms), std::invalid_argument);
    std::atomic<bool> stop{false};
    std::thread user([&] {
        std::this_thread::sleep_for(300ms), service->WriteLine("key Ctrl+K");
        std::this_thread::sleep_for(300ms), stop = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(session.captureKeystrokes(std::chrono::seconds::max(), &stop), u"Ctrl+K");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 600ms);
    user.join();
}

// A handler that drains again (a modal loop) while newer values arrive never
// sees one older than it has; a burst while nobody drains wakes the loop once.
TEST(QueueTest, NestedDrainKeepsTheOrderAndABurstWakesOnce) {
    int wakeUps = 0;
    ptsa::Queue queue([&] { ++wakeUps; });
    std::vector<int> ran;
    queue.Post([&] {
        ran.push_back(1);
        queue.Post([&] { ran.push_back(3); });  // arrives during the dialog
        queue.poll();                           // the dialog's own loop
    });
    queue.Post([&] { ran.push_back(2); });
    queue.poll();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    wakeUps = 0;
    for (int i = 0; i < 10000; ++i) queue.Post([] {});
    EXPECT_EQ(wakeUps, 1);
    EXPECT_EQ(queue.poll(), 10000u);
    queue.Post([] {});
    EXPECT_EQ(wakeUps, 2) << "work after a drain must wake the loop again";
}

// The shared vectors of the text and number rule (tests/text_rule_cases.tsv).
struct RuleCase {
    std::string name, kind, rule, message;
    ptsa::Text text;
};
std::vector<RuleCase> RuleCases() {
    std::vector<RuleCase> cases;
    std::ifstream file(PTSA_TEXT_RULE_CASES);
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        RuleCase c;
        std::string input;
        std::getline(fields, c.name, '\t'), std::getline(fields, c.kind, '\t'), std::getline(fields, input, '\t');
        std::getline(fields, c.rule, '\t'), std::getline(fields, c.message, '\t');
        for (std::size_t i = 0; i < input.size(); ++i) {
            const bool escaped = input.compare(i, 2, "\\u") == 0;
            c.text += escaped ? char16_t(std::stoi(input.substr(i + 2, 4), nullptr, 16)) : char16_t(input[i]);
            i += escaped ? 5 : 0;
        }
        cases.push_back(c);
    }
    return cases;
}
const char* const kRuleNames[] = {"ZeroUnit", "IllFormed", "ReservedMark", "TooLong", "NumberTooLarge"};

// Every case of the rule through a setter: a refused one throws the rule's
// error and writes nothing (the service's trace holds the handshake, the
// accepted cases and the last zoom, no more), and the link stays up.
TEST_F(SessionTest, TheRuleRefusesBeforeAnythingIsSentAndTheLinkStaysUp) {
    auto service = PevraNUV::test::StartService({"--trace"});
    ptsa::Session session(Recording(), queue);
    ASSERT_EQ(session.connect(), ptsa::Connection::Connected);
    ASSERT_TRUE(DrainUntil("zoom0(0,100)"));
    const std::vector<RuleCase> cases = RuleCases();
    ASSERT_GE(cases.size(), 20u);
    std::size_t requests = 68;  // the handshake
    for (const RuleCase& c : cases) {
        const auto set = [&] {
            if (c.kind == "number") return session.setTipSensitivity(unsigned(std::stoull(std::string(c.text.begin(), c.text.end()))));
            session.setEraser(ptsa::EraserPress::Single, ptsa::ButtonFunction::Keystrokes(c.text));
        };
        try {
            set();
            EXPECT_EQ(c.rule, "ok") << c.name;
            requests += c.kind == "number" ? 2 : 4;
        } catch (const ptsa::InputRejected& refused) {
            EXPECT_EQ(kRuleNames[int(refused.rule())], c.rule) << c.name;
            EXPECT_EQ(refused.what(), c.message) << c.name;
        }
    }
    // A text with a code that carries none is dropped, never refused.
    session.setEraser(ptsa::EraserPress::Double, {2, u"{\"GetVal\":\"\0"});
    session.setZoom({9, 8, 7, 6});
    ASSERT_TRUE(DrainUntil("zoom0(9,6)")) << "the link did not stay up";
    const std::string trace = service->Finish(200).err;
    std::size_t written = 0;
    for (std::size_t at = 0; (at = trace.find(" < ", at)) != std::string::npos; ++at) ++written;
    EXPECT_EQ(written, requests + 2 + 2) << trace;
}

// The session ends on the draining thread amid pushes; what it left is drained safely after it.
TEST_F(SessionTest, EndsOnTheDrainingThreadWhilePushesArrive) {
    auto service = PevraNUV::test::StartService({"--push-rate", "2000"});
    auto session = std::make_unique<ptsa::Session>(Recording(), queue);
    ASSERT_EQ(session->connect(), ptsa::Connection::Connected);
    ASSERT_TRUE(DrainUntil("pen85(PEN-7F3A21)"));
    session.reset();
    queue.poll();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(queue.poll(), 0u) << "a handler was posted after the session had ended";
    ptsa::Session again(Recording(), queue);  // and a new one may open
}

}  // namespace
