// ptsa-panel: a settings panel in the browser. A small web server on
// 127.0.0.1 serves one page that shows every value the library reports,
// live, and calls the library's setters; it prints the URL to open.
#include <CLI/CLI.hpp>
#include "net.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <iostream>
#include <limits>
#include <string>
#include <thread>

#include "hub.h"
#include "link.h"
#include "server.h"

namespace ptsa_panel {
namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
void OnInterrupt(int) { g_interrupted = true; }

struct Options {
    int port = 0;  // 0: a free one
    int logLevel = 3;
    bool quitAtEof = false;
};

// Runs the io_context on the panel's one I/O thread: the server, the
// streams, the handlers of the library's values. Stopped and
// joined when this goes.
class IoThread {
public:
    explicit IoThread(net::io_context& io) : m_io(io), m_thread([&io] { io.run(); }) {}
    ~IoThread() {
        m_io.stop();
        m_thread.join();
    }

private:
    net::io_context& m_io;
    std::thread m_thread;
};

int Run(const Options& options) {
    // The order matters on the way out, which is the reverse: the thread
    // stops, the library shuts down (its last values are posted to a
    // stopped but living io_context), the io_context destroys the
    // connections (streams leave the hub), the hub goes.
    Hub hub;
    net::io_context io(1);
    Link link(hub, options.logLevel, [&io, &link] { net::post(io, [&link] { link.Drain(); }); });
    Server server(io, hub, link, options.port);
    std::cout << server.url() << std::endl;
    std::cerr << "ptsa-panel: open the URL above in a browser on this machine; "
              << (options.quitAtEof ? "end of input" : "Ctrl-C") << " ends the panel" << std::endl;
    IoThread thread(io);
    if (options.quitAtEof) {
        std::cin.ignore(std::numeric_limits<std::streamsize>::max());
    } else {
        std::signal(SIGINT, OnInterrupt);
        std::signal(SIGTERM, OnInterrupt);
        while (!g_interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}

}  // namespace
}  // namespace ptsa_panel

int main(int argc, char** argv) {
    ptsa_panel::Options options;
    CLI::App app("ptsa-panel: the pen-tablet settings of this session in a browser page, live. Serves 127.0.0.1 "
                 "only and prints the URL to open; every request must carry the URL's token.",
                 "ptsa-panel");
    app.add_option("--port", options.port, "the port to serve (default: a free one)")->check(CLI::Range(0, 65535));
    app.add_option("--log-level", options.logLevel, "the library's diagnostic log level (default 3)");
    app.add_flag("--quit-at-eof", options.quitAtEof, "end when standard input ends (for scripts), not at Ctrl-C");
    CLI11_PARSE(app, argc, argv);
    try {
        return ptsa_panel::Run(options);
    } catch (const std::exception& error) {
        std::cerr << "ptsa-panel: " << error.what() << std::endl;
        return 1;
    }
}
