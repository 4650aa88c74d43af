// A host in C++ on PTabletSettings.hpp: sets the tilt and waits for the
// service's answer on its own thread, draining a ptsa::Queue; the session
// shuts the library down on every way out.
//
//   cpp_host [TILT]     TILT defaults to 7
//
// Exit status: 0 the change was confirmed, 1 the settings service is not
// running, 2 it did not confirm the change within five seconds.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <PTabletSettings.hpp>

int main(int argc, char** argv) {
    const auto tilt = static_cast<unsigned>(argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 7);
    bool confirmed = false;
    ptsa::Queue queue;  // the handlers run in queue.waitFor, on this thread
    ptsa::Handlers handlers;
    handlers.tiltSensitivity = [&](std::int32_t value) { confirmed = confirmed || value == std::int32_t(tilt); };
    ptsa::Session session(handlers, queue);
    if (session.connect() != ptsa::Connection::Connected) {
        std::fprintf(stderr, "the settings service is not running\n");
        return 1;
    }
    session.setTiltSensitivity(tilt);
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5); !confirmed && std::chrono::steady_clock::now() < end;)
        queue.waitFor(std::chrono::milliseconds(100));
    if (!confirmed) {
        std::fprintf(stderr, "the service did not confirm tilt sensitivity %u\n", tilt);
        return 2;
    }
    std::printf("tilt sensitivity %u confirmed\n", tilt);
    return 0;
}
