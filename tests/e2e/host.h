// A host of the library as the tests play it: callbacks that write down what
// they heard, the library's failure records in a file of the test's own, and
// Connect as a host retries it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "log/log.h"

namespace PevraNUV::test {

// Every call of its table as "slot(arguments)", one a line, with its thread:
// "versions(3.1.0,2.4.7)", "tip(3)", "tilt(5)", "zoom(0,0,100,100)" (the
// handshake's last value).
class Host {
public:
    Host() {
        m_table.OnVersions = [](void* self, const PevraNUV_Versions* v) {
            Write(self, "versions(" + Narrow(v->serviceVersion) + "," + Narrow(v->hidRouterVersion) + ")");
        };
        m_table.OnTipSensitivity = [](void* self, int32_t value) { Write(self, "tip(" + std::to_string(value) + ")"); };
        m_table.OnTiltSensitivity = [](void* self, int32_t value) { Write(self, "tilt(" + std::to_string(value) + ")"); };
        m_table.OnSlavedDisplayZoom = [](void* self, PevraNUV_ZoomMap z) {
            Write(self, "zoom(" + std::to_string(z.a) + "," + std::to_string(z.b) + "," + std::to_string(z.c) + "," +
                            std::to_string(z.d) + ")");
        };
    }
    void Register() { PevraNUV_RegisterCallbacks(&m_table, this); }
    bool WaitToHear(const std::string& call, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return Find(call) != m_calls.end(); });
    }
    bool HasHeard(const std::string& call) { return WaitToHear(call, {}); }
    std::thread::id ThreadOf(const std::string& call) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return Find(call) == m_calls.end() ? std::thread::id() : Find(call)->second;
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }

private:
    template <std::size_t N>
    static std::string Narrow(const PevraNUV_Char (&text)[N]) {
        std::string narrow;
        for (std::size_t i = 0; i < N && text[i]; ++i) narrow += static_cast<char>(text[i]);
        return narrow;
    }
    static void Write(void* self, std::string call) {
        Host& host = *static_cast<Host*>(self);
        std::lock_guard<std::mutex> lock(host.m_mutex);
        host.m_calls.emplace_back(std::move(call), std::this_thread::get_id());
        host.m_changed.notify_all();
    }
    std::vector<std::pair<std::string, std::thread::id>>::iterator Find(const std::string& call) {
        auto it = m_calls.begin();
        while (it != m_calls.end() && it->first != call) ++it;
        return it;
    }

    PevraNUV_Callbacks m_table{};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::pair<std::string, std::thread::id>> m_calls;
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
    // The records' messages ("time -- process/thread -- message" CR LF), one a line.
    std::string Messages() const {
        std::ifstream file(m_path, std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()}, messages;
        for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            messages += text.substr(text.rfind(" -- ", end) + 4, end - text.rfind(" -- ", end) - 4) + "\n";
        return messages;
    }

private:
    std::string m_path;
};

// PevraNUV_Connect(0), tried again 1 ms apart for a second: after a
// Shutdown the Windows service may still be putting up a fresh pipe instance.
inline int Connect() {
    int result = 1;
    for (int attempt = 0; attempt < 1000 && (result = PevraNUV_Connect(0)) != 0; ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return result;
}

}  // namespace PevraNUV::test
