// The C++ face (PTabletSettings.hpp) against the reference service: typed
// values, each setter's road, the queue, contained handlers, destruction
// while pushes arrive, a restart of the service.
#include <gtest/gtest.h>

#include <PTabletSettings.hpp>
#include <algorithm>
#include <future>
#include <set>

#include "child_process.h"

using namespace std::chrono_literals;
using PevraNUV::test::ChildProcess;

namespace {

std::string Narrow(const ptsa::Text& text) { return std::string(text.begin(), text.end()); }
std::string Describe(const ptsa::ButtonFunction& f) { return std::to_string(f.code) + ":" + Narrow(f.text); }

// Handlers that write down "kind(values)" on the thread that drains the queue.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { PevraNUV_Shutdown(); }  // a client of this test's session
    ptsa::Handlers Recording() {
        ptsa::Handlers h;
        h.versions = [this](const ptsa::Versions& v) { Note("versions(" + Narrow(v.service) + ")"); };
        h.eraser = [this](ptsa::EraserPress p, const ptsa::ButtonFunction& f) { Note("eraser" + std::to_string(int(p)) + "(" + Describe(f) + ")"); };
        h.sideSwitch = [this](ptsa::Switch s, const ptsa::SideSwitch& v) {
            Note("switch" + std::to_string(int(s)) + "(" + Describe(v.press) + "," + std::to_string(v.hoverClick) + ")");
        };
        h.wedge = [this](ptsa::Wedge w, const ptsa::Wedges& all) { Note("wedge" + std::to_string(int(w)) + "(" + Describe(all[size_t(w)]) + ")"); };
        h.tipSensitivity = [this](std::int32_t v) { Note("tip(" + std::to_string(v) + ")"); };
        h.tiltSensitivity = [this](std::int32_t v) { Note("tilt(" + std::to_string(v) + ")"); };
        h.zoom = [this](const ptsa::ZoomMap& z) { Note("zoom(" + std::to_string(z.a) + "," + std::to_string(z.d) + ")"); };
        h.options = [this](ptsa::Options o, const std::vector<ptsa::ButtonFunction>& l) { Note("options" + std::to_string(int(o)) + "(" + std::to_string(l.size()) + ")"); };
        return h;
    }
    void Note(const std::string& call) { heard.push_back(call), threads.insert(std::this_thread::get_id()); }
    bool Heard(const std::string& call) { return std::find(heard.begin(), heard.end(), call) != heard.end(); }
    // Drains the queue on this thread until call is heard, for at most 10 s.
    bool DrainUntil(const std::string& call) {
        for (auto end = std::chrono::steady_clock::now() + 10s; !Heard(call) && std::chrono::steady_clock::now() < end;)
            queue.waitFor(10ms);
        return Heard(call);
    }
    static std::unique_ptr<ChildProcess> Service(const std::vector<std::string>& arguments = {}) {
        auto service = std::make_unique<ChildProcess>(PTSA_SERVICE_PATH, arguments);
        EXPECT_TRUE(service->WaitForLine("ready", 10000));
        return service;
    }

    ptsa::Queue queue;
    std::vector<std::string> heard;
    std::set<std::thread::id> threads;
};

TEST_F(SessionTest, TypedValuesAndEverySettersRoadOnTheDrainingThread) {
    auto service = Service({"--stdin-control"});
    ptsa::Session session(Recording(), queue);
    EXPECT_THROW((ptsa::Session{Recording(), queue}), std::logic_error);
    EXPECT_EQ(session.registration().wedgeCount, 10u);
    ASSERT_EQ(session.connect(), ptsa::Connection::Connected);
    ASSERT_TRUE(DrainUntil("zoom(0,100)"));
    EXPECT_TRUE(Heard("versions(3.1.0)") && Heard("tilt(5)") && Heard("options5(7)"));
    const auto run = ptsa::ButtonFunction::RunApplication(u"C:\\a.exe");
    const std::pair<std::function<void()>, std::string> roads[] = {
        {[&] { session.setTiltSensitivity(7); }, "tilt(7)"},
        {[&] { session.setTipSensitivity(2); }, "tip(2)"},
        {[&] { session.setZoom({1, 2, 3, 4}); }, "zoom(1,4)"},
        {[&] { session.setEraser(ptsa::EraserPress::Long, ptsa::ButtonFunction::Code(3)); }, "eraser2(3:)"},
        {[&] { session.setEraser(ptsa::EraserPress::Single, run); }, "eraser0(23:C:\\a.exe)"},
        {[&] { session.setSwitchPress(ptsa::Switch::Bottom, ptsa::ButtonFunction::Code(4)); }, "switch1(4:,0)"},
        {[&] { session.setHoverClick(ptsa::Switch::Bottom, true); }, "switch1(4:,1)"},
        {[&] { session.setWedge(ptsa::Wedge::Outside, run); }, "wedge9(23:C:\\a.exe)"},
    };
    for (const auto& [set, heardBack] : roads) {
        set();
        EXPECT_TRUE(DrainUntil(heardBack)) << heardBack;
    }
    EXPECT_THROW(session.setWedge(ptsa::Wedge::East, ptsa::ButtonFunction::Keystrokes(ptsa::Text(512, u'k'))), std::length_error);
    EXPECT_EQ(threads, std::set<std::thread::id>{std::this_thread::get_id()}) << "a handler ran off the draining thread";
    std::atomic<bool> stop{false};
    auto captured = std::async(std::launch::async, [&] { return session.captureKeystrokes(10s, &stop); });
    std::this_thread::sleep_for(300ms);  // the capture has started: its request goes before the next change
    session.setTiltSensitivity(11);
    ASSERT_TRUE(DrainUntil("tilt(11)"));
    service->WriteLine("key Ctrl+K");
    service->WriteLine(R"(set ComponentsDriver\PenHandler\PenTransducer\TiltSensitivity 56)");  // pushed after the keys
    ASSERT_TRUE(DrainUntil("tilt(56)"));
    stop = true;
    EXPECT_EQ(Narrow(captured.get()), "Ctrl+K");
}

TEST_F(SessionTest, AThrowingHandlerIsContainedAndARestartIsSurvived) {
    auto service = Service();
    ptsa::Handlers handlers = Recording();
    handlers.tipSensitivity = [](std::int32_t) { throw std::runtime_error("handler"); };
    handlers.error = [this](std::exception_ptr) { Note("error"); };
    ptsa::Session session(handlers, queue);
    ASSERT_EQ(session.connect(), ptsa::Connection::Connected);
    ASSERT_TRUE(DrainUntil("zoom(0,100)"));
    EXPECT_TRUE(Heard("error"));
    service = nullptr;  // the same session hears the next service, without a connect
    heard.clear();
    service = Service();
    ASSERT_TRUE(DrainUntil("options5(7)"));  // option lists are reported at every handshake
    session.setZoom({5, 6, 7, 8});
    EXPECT_TRUE(DrainUntil("zoom(5,8)"));
}

// The session goes on the draining thread while the service pushes; what
// the queue still holds is drained after it, safely.
TEST_F(SessionTest, DestroyedOnTheDrainingThreadWhilePushesArrive) {
    auto service = Service({"--push-rate", "2000"});
    ptsa::Handlers handlers = Recording();
    handlers.pen = [this](const ptsa::PenInfo&) { Note("pen"); };
    auto session = std::make_unique<ptsa::Session>(handlers, queue);
    ASSERT_EQ(session->connect(), ptsa::Connection::Connected);
    for (int round = 0; round < 20; ++round) queue.waitFor(5ms);
    session.reset();
    queue.poll();
    const std::size_t pens = std::count(heard.begin(), heard.end(), "pen");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(queue.poll(), 0u) << "a handler was posted after the session had gone";
    EXPECT_GT(pens, 0u);
    ptsa::Session again(Recording(), queue);  // and a new one may open
}

}  // namespace
