// A host in C++: waits for the service's answer to a change instead of
// sleeping, and shuts the library down on every way out.
//
//   cpp_host [TILT]     TILT defaults to 7
//
// Exit status: 0 the change was confirmed, 1 the settings service is not
// running, 2 it did not confirm the change within five seconds.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <PTabletSettingsAPI.h>

namespace {

// Callbacks run on the library's thread with its lock held: copy what you
// need under a lock of your own and act on it from your own thread.
class TiltWatcher {
public:
    TiltWatcher() {
        m_callbacks.OnTiltSensitivity = [](void* context, std::int32_t value) {
            auto* self = static_cast<TiltWatcher*>(context);
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_tilt = value;
            self->m_changed.notify_all();
        };
        PevraNUV_RegisterCallbacks(&m_callbacks, this);
    }
    ~TiltWatcher() { PevraNUV_Shutdown(); }  // the table must outlive its registration
    TiltWatcher(const TiltWatcher&) = delete;
    TiltWatcher& operator=(const TiltWatcher&) = delete;

    bool WaitFor(std::int32_t value, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_tilt == value; });
    }

private:
    PevraNUV_Callbacks m_callbacks{};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::int32_t m_tilt = -1;
};

}  // namespace

int main(int argc, char** argv) {
    const auto tilt = static_cast<unsigned>(argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 7);
    TiltWatcher watcher;
    if (PevraNUV_Connect(0) != 0) {
        std::fprintf(stderr, "the settings service is not running\n");
        return 1;
    }
    PevraNUV_SetTiltSensitivity(tilt);
    if (!watcher.WaitFor(static_cast<std::int32_t>(tilt), std::chrono::seconds(5))) {
        std::fprintf(stderr, "the service did not confirm tilt sensitivity %u\n", tilt);
        return 2;
    }
    std::printf("tilt sensitivity %u confirmed\n", tilt);
    return 0;
}
