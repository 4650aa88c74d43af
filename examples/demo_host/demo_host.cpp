// A small host of PTabletSettingsAPI on its C++ face (PTabletSettings.hpp):
// it prints every value the library reports, connects to the settings
// service, changes a few settings and shows the answers arriving, captures
// keystrokes for two seconds, shows what the session's snapshot holds, stays
// connected a while longer if asked (the session says when the service goes
// away and when it is back), and ends its
// session. Every handler runs on this thread, as it drains the queue.
// Exits 1 when the service is not available.
//
//   ptsa_demo_host [seconds]    seconds to stay connected at the end (default 0)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <PTabletSettings.hpp>

namespace {

// UTF-16 to UTF-8, in quotes; an unpaired surrogate becomes U+FFFD.
std::string Quoted(const ptsa::Text& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        static const unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(kLead[extra] | (c >> (6 * extra)));
        for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
    return out + "\"";
}

std::string Function(const ptsa::ButtonFunction& f) { return "function " + std::to_string(f.code) + " text " + Quoted(f.text); }

void Print(const char* slot, const std::string& what) {
    std::printf("callback %s: %s\n", slot, what.c_str());
    std::fflush(stdout);
}

void Say(const std::string& what) {
    std::printf("demo host: %s\n", what.c_str());
    std::fflush(stdout);
}

ptsa::Handlers Printing() {
    static const char* const kEraser[] = {"OnEraserSinglePress", "OnEraserDoublePress", "OnEraserLongPress"};
    static const char* const kOptions[] = {"OnRunAppOptions",        "OnTopButtonSingleOptions", "OnTopButtonDoubleOptions",
                                           "OnTopButtonLongOptions", "OnSideSwitchOptions",      "OnRadialWedgeOptions"};
    ptsa::Handlers h;
    h.versions = [](const ptsa::Versions& v) { Print("OnVersions", "HID router " + Quoted(v.hidRouter) + ", service " + Quoted(v.service)); };
    h.pen = [](const ptsa::PenInfo& p) {
        Print("OnPenInfo", "serial " + Quoted(p.serialNumber) + ", pen id " + Quoted(p.penId) + ", BT id " + Quoted(p.btId) +
                               ", battery " + std::to_string(p.batteryStatus));
    };
    h.eraser = [](ptsa::EraserPress press, const ptsa::ButtonFunction& f) { Print(kEraser[int(press)], Function(f)); };
    h.sideSwitch = [](ptsa::Switch side, const ptsa::SideSwitch& s) {
        Print(side == ptsa::Switch::Top ? "OnTopSwitch" : "OnBottomSwitch",
              Function(s.press) + ", hover click " + (s.hoverClick ? "1" : "0"));
    };
    h.wedge = [](ptsa::Wedge w, const ptsa::Wedges& all) {
        Print("OnMenuOp", "[" + std::to_string(int(w)) + "] " + Function(all[std::size_t(w)]));
    };
    h.tipSensitivity = [](std::int32_t v) { Print("OnTipSensitivity", std::to_string(v)); };
    h.tiltSensitivity = [](std::int32_t v) { Print("OnTiltSensitivity", std::to_string(v)); };
    h.zoom = [](const ptsa::ZoomMap& z) {
        Print("OnSlavedDisplayZoom", std::to_string(z.a) + " " + std::to_string(z.b) + " " + std::to_string(z.c) + " " + std::to_string(z.d));
    };
    h.options = [](ptsa::Options list, const std::vector<ptsa::ButtonFunction>& options) {
        std::string text = std::to_string(options.size()) + " option(s)";
        for (std::size_t i = 0; i < options.size(); ++i) text += (i == 0 ? ": " : "; ") + Function(options[i]);
        Print(kOptions[int(list)], text);
    };
    // The session asks the library whether the service is there, and says
    // when the answer changes; the library reconnects by itself.
    h.availability = [](bool available) { Say(available ? "the service is back" : "the service is not available; waiting for it"); };
    return h;
}

// Drains the queue for a while: the handlers print as the values arrive.
void Receive(ptsa::Queue& queue, std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) queue.waitFor(std::chrono::milliseconds(20));
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    ptsa::Queue queue;
    Say("opening a session (it registers the handlers)");
    ptsa::Session session(Printing(), queue);
    const ptsa::Registration& r = session.registration();
    Say("the library reports " + std::to_string(r.wedgeCount) + " wedges, ranges " + std::to_string(r.rangeA.first) +
        " to " + std::to_string(r.rangeA.second) + " and " + std::to_string(r.rangeB.first) + " to " +
        std::to_string(r.rangeB.second));
    const bool connected = session.connect() == ptsa::Connection::Connected;
    Say(std::string("connect: ") + (connected ? "connected" : "the service is not available"));
    if (!connected) return 1;

    Receive(queue, std::chrono::seconds(1));  // the handshake's values
    const ptsa::Snapshot now = session.snapshot();  // what a page opened now would show
    Say("the snapshot holds tilt " + std::to_string(now.tiltSensitivity) + ", tip " + std::to_string(now.tipSensitivity) +
        ", wedge 0 " + Function(now.wedges[0]) + " and " + std::to_string(now.pens.size()) + " pen(s)");
    Say("setting tilt 7, tip 3, zoom {1,-2,300,0} and wedge 0 to run C:\\Tools\\notes.exe");
    session.setTiltSensitivity(7);
    session.setTipSensitivity(3);
    session.setZoom({1, -2, 300, 0});
    session.setWedge(ptsa::Wedge::East, ptsa::ButtonFunction::RunApplication(u"C:\\Tools\\notes.exe"));
    Receive(queue, std::chrono::seconds(1));

    Say("capturing keystrokes for 2000 ms");
    Say("captured " + Quoted(session.captureKeystrokes(std::chrono::seconds(2))));
    queue.poll();  // what arrived meanwhile

    if (seconds > 0) {
        Say("receiving values for " + std::to_string(seconds) + " s");
        Receive(queue, std::chrono::seconds(seconds));
    }
    Say("ending the session (it shuts the library down)");
    return 0;
}
