// The POSIX transport against stand-in services made of bare sockets at the
// service's paths, /tmp/pevra-<uid>/NAME_<session>: whom the client trusts,
// and that Connect never blocks.
#ifdef __linux__
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <future>

#include "host.h"
#include "platform/posix/internal.h"
#include "usage.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const kPipes[] = {"PevraSettingsSyncherSendOnly_", "PevraSettingsSyncher_"};

std::string PathOf(const fs::path& folder, const char* pipe) { return folder / (pipe + std::to_string(getsid(0))); }

// Sockets closed with the object; closing a listener ends a connect that waits for it.
struct Sockets {
    void Close() { fds.clear(); }
    // A listener with a backlog of one, run as uid (a client reads the
    // credentials of listen()), or a connection that does not wait.
    bool Add(const std::string& path, bool listener, uid_t uid = geteuid()) {
        sockaddr_un address{AF_UNIX, {}};
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        const auto* where = reinterpret_cast<const sockaddr*>(&address);
        const int fd = fds.emplace_back(socket(AF_UNIX, SOCK_SEQPACKET | (listener ? 0 : SOCK_NONBLOCK), 0)).get();
        if (!listener) return connect(fd, where, sizeof address) == 0;
        const uid_t self = geteuid();
        const bool ok = bind(fd, where, sizeof address) == 0 && setresuid(-1, uid, -1) == 0 && listen(fd, 1) == 0;
        return setresuid(-1, self, -1) == 0 && ok;
    }
    std::vector<PevraNUV::platform::posix::UniqueFd> fds;
};

// ---- Access control, as root. The client runs with a real uid of its own,
// so that its socket folder is this test's alone, while the effective uid
// stays root: the kernel refuses nothing, and every refusal is the library's.
constexpr uid_t kRoot = 0, kNobody = 65534, kUser = 1, kOtherUser = 2;  // in the tables: this test's uid, the next
const std::string kConnected, kDirectoryRefused = "Timed out waiting for Service.\n",
                              kPeerRefused = "Couldn't find Service.\n";

class Access : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != kRoot) GTEST_SKIP() << "needs root: it chowns the socket folder and listens as other users";
        PevraNUV_Shutdown();  // a client of this test's session: the one made at load predates it
        fs::remove_all(folder), fs::remove_all(moved);
        ASSERT_TRUE(fs::create_directory(folder));
        Restore();
    }
    void TearDown() override { listeners.Close(), fs::remove_all(folder), fs::remove_all(moved); }
    void Listen(uid_t sendOnly, uid_t request) {
        const auto who = [&](uid_t peer) { return peer == kUser ? uid : peer == kOtherUser ? uid + 1 : peer; };
        ASSERT_TRUE(listeners.Add(PathOf(folder, kPipes[0]), true, who(sendOnly)));
        ASSERT_TRUE(listeners.Add(PathOf(folder, kPipes[1]), true, who(request)));
    }
    void Restore() {
        if (fs::exists(moved)) fs::remove(folder), fs::rename(moved, folder);
        ASSERT_EQ(chown(folder.c_str(), uid, uid) | chmod(folder.c_str(), 0700), 0);
    }
    // PevraNUV_Connect(0) as the user, and the messages it logged.
    std::pair<int, std::string> Connect() {
        PevraNUV::test::LogFile log(::testing::TempDir() + "ptsa_access_" + std::to_string(getpid()) + ".log");
        const int result = setresuid(uid, kRoot, kRoot) == 0 ? PevraNUV_Connect(0) : -1;
        setresuid(kRoot, kRoot, kRoot);
        const std::pair<int, std::string> outcome{result, log.Messages()};
        PevraNUV_Shutdown();
        return outcome;
    }

    const uid_t uid = 1000000000u + static_cast<uid_t>(getpid());  // no other process's
    const fs::path folder = "/tmp/pevra-" + std::to_string(uid), moved = folder.string() + ".moved";
    Sockets listeners;
};

struct FolderCase {
    const char* name;
    std::function<void(const fs::path& folder, const fs::path& moved)> spoil;
};

void PrintTo(const FolderCase& which, std::ostream* out) { *out << which.name; }

auto Chmod(mode_t mode) { return [mode](const fs::path& folder, auto&) { chmod(folder.c_str(), mode); }; }
auto Chown(uid_t owner) { return [owner](const fs::path& folder, auto&) { chown(folder.c_str(), owner, -1); }; }

const FolderCase kFolderCases[] = {
    {"symlink_to_own_0700",
     [](auto& folder, auto& moved) { fs::rename(folder, moved), fs::create_directory_symlink(moved, folder); }},
    {"regular_file", [](auto& folder, auto& moved) { fs::rename(folder, moved), std::ofstream(folder) << "a file"; }},
    {"mode_0755", Chmod(0755)}, {"mode_0711", Chmod(0711)}, {"mode_0770", Chmod(0770)}, {"mode_0750", Chmod(0750)},
    {"mode_0701", Chmod(0701)}, {"owned_by_nobody", Chown(kNobody)}, {"owned_by_root", Chown(kRoot)},
};

class SocketFolder : public Access, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(SocketFolder, OnlyTheUsersOwnPrivateFolderIsUsed) {
    ASSERT_NO_FATAL_FAILURE(Listen(kUser, kUser));
    GetParam().spoil(folder, moved);
    EXPECT_EQ(Connect(), std::make_pair(1, kDirectoryRefused));
    ASSERT_NO_FATAL_FAILURE(Restore());
    EXPECT_EQ(Connect(), std::make_pair(0, kConnected)) << "the same listeners in the folder made good again";
}

INSTANTIATE_TEST_SUITE_P(Cases, SocketFolder, ::testing::ValuesIn(kFolderCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct PeerCase {
    const char* name;
    uid_t sendOnly, request;  // who listens on each pipe
    int connect;
    const std::string& log;
};

void PrintTo(const PeerCase& which, std::ostream* out) { *out << which.name; }

const PeerCase kPeerCases[] = {
    {"the_user", kUser, kUser, 0, kConnected}, {"root", kRoot, kRoot, 0, kConnected},
    {"nobody", kNobody, kNobody, 1, kPeerRefused}, {"another_user", kOtherUser, kOtherUser, 1, kPeerRefused},
    {"request_pipe_of_nobody", kUser, kNobody, 1, kPeerRefused},
};

class Peer : public Access, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(Peer, OnlyTheUserOrRootIsTalkedTo) {
    ASSERT_NO_FATAL_FAILURE(Listen(GetParam().sendOnly, GetParam().request));
    EXPECT_EQ(Connect(), std::make_pair(GetParam().connect, GetParam().log));
}

INSTANTIATE_TEST_SUITE_P(Cases, Peer, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Connect never blocks: a frozen service listens and never accepts, and
// its listen queues (both, or the request pipe's) are full. Connect(0) fails
// at once and holds no lock another export waits for meanwhile: timed on
// PevraNUV_RegisterCallbacks, which takes the client's lock (the connect
// task holds it while it opens the pipes). PevraNUV_SetLogLevel would not
// do: it sets the log's own level and never takes the client's lock.

// How many milliseconds body ran, on a thread of its own.
auto Timed(void (*body)()) {
    return std::async(std::launch::async, [body] {
        const auto start = std::chrono::steady_clock::now();
        body();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    });
}

class FrozenService : public ::testing::TestWithParam<bool> {};

TEST_P(FrozenService, ConnectReturnsAtOnceAndHoldsNoLock) {
    PevraNUV_Shutdown();  // a client of this test's session: the one made at load predates it
    const fs::path folder = "/tmp/pevra-" + std::to_string(getuid());
    mkdir(folder.c_str(), 0700);  // as the service makes it, if it is missing
    Sockets service;
    for (const char* pipe : kPipes) {
        fs::remove(PathOf(folder, pipe));
        ASSERT_TRUE(service.Add(PathOf(folder, pipe), true));
    }
    for (const char* pipe : {kPipes[GetParam() ? 0 : 1], kPipes[1]})
        while (service.Add(PathOf(folder, pipe), false)) continue;
    ASSERT_EQ(errno, EAGAIN) << "the queue is not full";
    static int result = -1;
    auto connect = Timed([] { result = PevraNUV_Connect(0); });
    std::this_thread::sleep_for(20ms);  // inside Connect, unless it has returned
    auto registration = Timed([] {
        static const PevraNUV_Callbacks none{};
        PevraNUV_RegisterCallbacks(&none, nullptr);
    });
    connect.wait_for(3s);  // the watchdog: then a connect that waits is released
    service.Close();
    if (connect.wait_for(10s) != std::future_status::ready || registration.wait_for(10s) != std::future_status::ready)
        std::fprintf(stderr, "Connect still blocks with the service gone\n"), std::_Exit(1);
    for (const char* pipe : kPipes) fs::remove(PathOf(folder, pipe));
    EXPECT_LT(registration.get(), 500) << "RegisterCallbacks waited for the client's lock, held across a connect";
    EXPECT_LT(connect.get(), 500) << "Connect(0) blocked in a connect";
    EXPECT_EQ(result, 1);
    PevraNUV_Shutdown();
}

INSTANTIATE_TEST_SUITE_P(Queues, FrozenService, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "BothFull" : "RequestPipeFull"; });

}  // namespace
#endif
