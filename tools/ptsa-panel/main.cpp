// ptsa-panel: a settings panel in the browser. A small web server on
// 127.0.0.1 serves one page that shows every value the library reports,
// live, and calls the library's setters; it prints the URL to open.
#include <CLI/CLI.hpp>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <string>
#include <thread>

#include "api.h"
#include "guard.h"
#include "hub.h"
#include "link.h"
#include "page.h"

namespace ptsa_panel {
namespace {

// A page that receives nothing for this long gets a comment line, so that
// a stream whose page has gone ends and frees its server thread.
constexpr auto kHeartbeat = std::chrono::seconds(5);

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
void OnInterrupt(int) { g_interrupted = true; }

struct Options {
    int port = 0;  // 0: a free one
    int logLevel = 3;
    bool quitAtEof = false;
};

void ServePage(httplib::Response& res) {
    // The page fetches nothing but this server's events and API, and no
    // other site may frame it or learn its URL (the token) as a referrer.
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                   "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
    res.set_content(kPage, "text/html; charset=utf-8");
}

// The event stream of one page: the current state first, then every
// value as it arrives.
void ServeEvents(Hub& hub, httplib::Response& res) {
    std::shared_ptr<Hub::Page> page = hub.Open();
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [&hub, page](std::size_t, httplib::DataSink& sink) {
            std::string text;
            switch (hub.Take(*page, text, kHeartbeat)) {
            case Hub::Next::Closed:
                sink.done();
                return true;
            case Hub::Next::Idle:
                text = ":\n\n";
                break;
            case Hub::Next::Events:
                break;
            }
            return sink.write(text.data(), text.size());
        },
        [&hub, page](bool) { hub.Leave(page); });
}

// The HTTP server on its own thread; ended and joined when this goes,
// after the hub has ended the event streams that hold its threads.
class Server {
public:
    Server(Hub& hub, Link& link, int port) : m_hub(hub) {
        const bool bound = port == 0 ? (port = m_http.bind_to_any_port("127.0.0.1")) > 0
                                     : m_http.bind_to_port("127.0.0.1", port);
        if (!bound) throw std::runtime_error("cannot listen on 127.0.0.1" + (port ? ":" + std::to_string(port) : ""));
        m_guard = std::make_unique<Guard>(port);
        // stop() waits for every idle keep-alive connection to time out
        // (5 s by default): a second keeps the panel's exit quick.
        m_http.set_keep_alive_timeout(1);
        m_http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            return m_guard->Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                            : httplib::Server::HandlerResponse::Handled;
        });
        m_http.Get("/", [](const httplib::Request&, httplib::Response& res) { ServePage(res); });
        m_http.Get("/events", [&hub](const httplib::Request&, httplib::Response& res) { ServeEvents(hub, res); });
        AddApi(m_http, link);
        m_thread = std::thread([this] { m_http.listen_after_bind(); });
    }
    ~Server() {
        m_hub.Close();
        m_http.stop();
        m_thread.join();
    }
    std::string url() const { return "http://" + m_guard->host() + "/?token=" + m_guard->token(); }

private:
    Hub& m_hub;
    httplib::Server m_http;
    std::unique_ptr<Guard> m_guard;
    std::thread m_thread;
};

int Run(const Options& options) {
    Hub hub;
    Link link(hub);
    link.session().setLogLevel(options.logLevel);
    Server server(hub, link, options.port);
    std::cout << server.url() << std::endl;
    std::cerr << "ptsa-panel: open the URL above in a browser on this machine; "
              << (options.quitAtEof ? "end of input" : "Ctrl-C") << " ends the panel" << std::endl;
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
