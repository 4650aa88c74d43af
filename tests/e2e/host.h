// A host of the library as the tests play it: callbacks that write down what
// they heard, the library's failure records in a file of the test's own, and
// Connect as a host retries it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "PTabletSettingsAPI.h"
#include "child_process.h"
#include "log/log.h"

namespace PevraNUV::test {

// Every call of its table as "slot(arguments)": "tip(3)", "tilt(5)",
// "zoom(0,0,100,100)" (the handshake's last value), and the threads the
// calls came on.
class Host {
public:
    Host() {
        m_table.OnTipSensitivity = [](void* host, int32_t tip) { Write(host, "tip(" + std::to_string(tip) + ")"); };
        m_table.OnTiltSensitivity = [](void* host, int32_t tilt) { Write(host, "tilt(" + std::to_string(tilt) + ")"); };
        m_table.OnSlavedDisplayZoom = [](void* host, PevraNUV_ZoomMap z) {
            Write(host, "zoom(" + std::to_string(z.a) + "," + std::to_string(z.b) + "," + std::to_string(z.c) + "," +
                            std::to_string(z.d) + ")");
        };
    }
    void Register() { PevraNUV_RegisterCallbacks(&m_table, this); }
    bool WaitToHear(const std::string& call, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_calls.count(call) > 0; });
    }
    bool HasHeard(const std::string& call) { return WaitToHear(call, {}); }
    std::set<std::thread::id> Threads() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear(), m_threads.clear();
    }

private:
    static void Write(void* context, const std::string& call) {
        Host& host = *static_cast<Host*>(context);
        std::lock_guard<std::mutex> lock(host.m_mutex);
        host.m_calls.insert(call), host.m_threads.insert(std::this_thread::get_id());
        host.m_changed.notify_all();
    }

    PevraNUV_Callbacks m_table{};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::multiset<std::string> m_calls;
    std::set<std::thread::id> m_threads;
};

// Level 4 logs failures; the records go to path instead of the file beside
// the library. PevraNUV_Shutdown turns it off.
class LogFile {
public:
    explicit LogFile(std::string path) : m_path(std::move(path)) {
        std::remove(m_path.c_str());
        ApplyLogLevel(kDebuggerLogLevel);
        SetLogFilePath(std::wstring(m_path.begin(), m_path.end()));
    }
    ~LogFile() { std::remove(m_path.c_str()); }
    // The messages of the records ("time -- process/thread -- message" CR LF), one a line.
    std::string Messages() const {
        std::ifstream file(m_path, std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()}, messages;
        for (std::size_t end; (end = text.find("\r\n")) != std::string::npos; text.erase(0, end + 2))
            messages += text.substr(text.rfind(" -- ", end) + 4, end - text.rfind(" -- ", end) - 4) + "\n";
        return messages;
    }

private:
    std::string m_path;
};

// The reference service of this build, once it is ready (or, after 10 s,
// one that said why it is not, on standard error).
inline std::unique_ptr<ChildProcess> StartService(const std::vector<std::string>& arguments = {}) {
    auto service = std::make_unique<ChildProcess>(PTSA_SERVICE_PATH, arguments);
    if (!service->WaitForLine("ready", 10000)) std::fprintf(stderr, "the service did not start\n");
    return service;
}

// PevraNUV_Connect(0), tried again 1 ms apart for a second: after a
// Shutdown the Windows service may still be putting up a fresh pipe instance.
inline int Connect() {
    int result = 1;
    for (int attempt = 0; attempt < 1000 && (result = PevraNUV_Connect(0)) != 0; ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return result;
}

}  // namespace PevraNUV::test
