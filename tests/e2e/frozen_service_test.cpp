// Connect never blocks on Linux: against a frozen service, which listens on
// this session's two sockets and never accepts, with a listen queue full,
// PevraNUV_Connect(0) fails at once, and holds no lock another export waits
// for meanwhile.
#ifdef __linux__
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "PTabletSettingsAPI.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

int Socket(const std::string& path, bool listening, int flags = 0) {
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | flags, 0);
    const auto* where = reinterpret_cast<const sockaddr*>(&address);
    if (listening ? bind(fd, where, sizeof address) == 0 && listen(fd, 1) == 0 : connect(fd, where, sizeof address) == 0)
        return fd;
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
}

// Listens on the service's two paths (/tmp/pevra-<uid>/NAME_<session>) and
// fills the chosen listen queues with connections of its own.
class FrozenService {
public:
    explicit FrozenService(bool fillSendOnly) {
        const std::string folder = "/tmp/pevra-" + std::to_string(getuid()), session = std::to_string(getsid(0));
        mkdir(folder.c_str(), 0700);  // the service's own mode, if it is missing
        for (const char* name : {"PevraSettingsSyncherSendOnly_", "PevraSettingsSyncher_"}) {
            m_paths.push_back(folder + "/" + name + session);
            unlink(m_paths.back().c_str());
            m_fds.push_back(Socket(m_paths.back(), true));
        }
        for (std::size_t path = fillSendOnly ? 0 : 1; path < m_paths.size(); ++path)
            for (int fd; (fd = Socket(m_paths[path], false, SOCK_NONBLOCK)) >= 0;) m_fds.push_back(fd);
        m_full = errno == EAGAIN;
    }
    // Closing the listeners ends a connect that waits for them.
    ~FrozenService() { Thaw(); }
    void Thaw() {
        for (int fd : m_fds) close(fd);
        for (const auto& path : m_paths) unlink(path.c_str());
        m_fds.clear();
    }
    bool Full() const { return m_full && m_fds[0] >= 0 && m_fds[1] >= 0; }

private:
    std::vector<std::string> m_paths;
    std::vector<int> m_fds;
    bool m_full = false;
};

// How many milliseconds body ran, on a thread of its own.
std::future<long long> Timed(void (*body)()) {
    return std::async(std::launch::async, [body] {
        const auto start = Clock::now();
        body();
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    });
}

class FrozenServiceTest : public ::testing::TestWithParam<bool> {};

TEST_P(FrozenServiceTest, ConnectReturnsAtOnceAndHoldsNoLock) {
    PevraNUV_Shutdown();  // a client of this test's session: the one made at load predates it
    FrozenService service(GetParam());
    ASSERT_TRUE(service.Full()) << std::strerror(errno);
    static int result = -1;
    auto connect = Timed([] { result = PevraNUV_Connect(0); });
    std::this_thread::sleep_for(20ms);  // inside Connect, unless it has returned
    auto setLogLevel = Timed([] { PevraNUV_SetLogLevel(3); });
    connect.wait_for(3s);  // the watchdog: then a blocking connect is released
    service.Thaw();
    if (connect.wait_for(10s) != std::future_status::ready || setLogLevel.wait_for(10s) != std::future_status::ready)
        std::fprintf(stderr, "Connect still blocks with the service gone\n"), std::_Exit(1);
    EXPECT_LT(setLogLevel.get(), 500) << "SetLogLevel waited for the client's lock, held across a connect";
    EXPECT_LT(connect.get(), 500) << "Connect(0) blocked in a connect";
    EXPECT_EQ(result, 1);
    PevraNUV_Shutdown();
}

INSTANTIATE_TEST_SUITE_P(Queues, FrozenServiceTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "BothFull" : "RequestPipeFull"; });

}  // namespace
#endif
