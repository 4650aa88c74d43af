// A second client for the end-to-end tests: connects, sets the tilt
// sensitivity, waits until the service's answer arrives, prints "done".
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "PTabletSettingsAPI.h"

namespace {

std::mutex g_mutex;
std::condition_variable g_changed;
long g_tilt = -1;

void OnTilt(void*, int32_t value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_tilt = value;
    g_changed.notify_all();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "tilt") != 0) {
        std::fprintf(stderr, "usage: %s tilt VALUE\n", argv[0]);
        return 2;
    }
    const long wanted = std::strtol(argv[2], nullptr, 10);
    PevraNUV_Callbacks callbacks{};
    callbacks.OnTiltSensitivity = OnTilt;
    PevraNUV_RegisterCallbacks(&callbacks, nullptr);
    if (PevraNUV_Connect(0) != 0) return 3;
    PevraNUV_SetTiltSensitivity(static_cast<unsigned>(wanted));
    bool arrived;
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        arrived = g_changed.wait_for(lock, std::chrono::seconds(10), [&] { return g_tilt == wanted; });
    }
    PevraNUV_Shutdown();
    std::printf(arrived ? "done\n" : "timeout\n");
    std::fflush(stdout);
    return arrived ? 0 : 4;
}
