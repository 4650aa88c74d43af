// Access control of the POSIX transport, client side: the socket directory
// must be a real directory of the user's with no group or other bits, and
// the peer must run as the user or as root; anything else is a pipe that
// cannot be opened. The client runs with a real uid of its own, so that
// /tmp/pevra-<uid> is this test's alone, while the effective uid stays root:
// the kernel refuses nothing, and every refusal seen is the library's own.
#ifdef __linux__
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "host.h"
#include "usage.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kRoot = 0, kNobody = 65534;
constexpr uid_t kUser = 1, kOtherUser = 2;  // in the tables: the test's uid, and the one after it
const std::string kConnected, kDirectoryRefused = "Timed out waiting for Service.\n",
                              kPeerRefused = "Couldn't find Service.\n";

class Access : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != kRoot) GTEST_SKIP() << "needs root: it chowns the socket directory and listens as other users";
        PevraNUV_Shutdown();  // a client of this test's session: the one made at load predates it
        fs::remove_all(directory), fs::remove_all(moved);
        ASSERT_TRUE(fs::create_directory(directory));
        Restore();
    }
    void TearDown() override {
        for (int fd : m_listeners) close(fd);
        fs::remove_all(directory), fs::remove_all(moved);
    }
    // Listens on the socket of pipe NAME as peer: a client reads the
    // credentials of listen().
    void Listen(const std::string& name, uid_t peer) {
        sockaddr_un address{AF_UNIX, {}};
        const std::string path = (directory / (name + std::to_string(getsid(0)))).string();
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        const int fd = m_listeners.emplace_back(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
        ASSERT_EQ(setresuid(-1, peer, -1), 0);
        ASSERT_EQ(listen(fd, 16), 0);
        ASSERT_EQ(setresuid(-1, kRoot, -1), 0);
    }
    void Restore() {
        if (fs::exists(moved)) fs::remove(directory), fs::rename(moved, directory);
        ASSERT_EQ(chown(directory.c_str(), uid, uid), 0);
        ASSERT_EQ(chmod(directory.c_str(), 0700), 0);
    }
    // PevraNUV_Connect(0) as the user, and the messages it logged.
    std::pair<int, std::string> Connect() {
        PevraNUV::test::LogFile log(::testing::TempDir() + "ptsa_access_" + std::to_string(getpid()) + ".log");
        setresuid(uid, kRoot, kRoot);
        const int result = getuid() == uid ? PevraNUV_Connect(0) : -1;
        setresuid(kRoot, kRoot, kRoot);
        const std::string messages = log.Messages();
        PevraNUV_Shutdown();
        return {result, messages};
    }

    const uid_t uid = 1000000000u + static_cast<uid_t>(getpid());  // no other process's
    const fs::path directory = "/tmp/pevra-" + std::to_string(uid), moved = directory.string() + ".moved";

private:
    std::vector<int> m_listeners;
};

struct DirectoryCase {
    const char* name;
    std::function<void(const fs::path& directory, const fs::path& moved)> spoil;
    bool accepted;
};

std::function<void(const fs::path&, const fs::path&)> Chmod(mode_t mode) {
    return [mode](const fs::path& directory, const fs::path&) { chmod(directory.c_str(), mode); };
}

std::function<void(const fs::path&, const fs::path&)> Chown(uid_t owner) {
    return [owner](const fs::path& directory, const fs::path&) { chown(directory.c_str(), owner, -1); };
}

const DirectoryCase kDirectoryCases[] = {
    {"own_0700", [](const fs::path&, const fs::path&) {}, true},
    {"symlink_to_own_0700", [](const fs::path& directory, const fs::path& moved) {
         fs::rename(directory, moved), fs::create_directory_symlink(moved, directory);
     }, false},
    {"regular_file", [](const fs::path& directory, const fs::path& moved) {
         fs::rename(directory, moved), std::ofstream(directory) << "not a directory";
     }, false},
    {"mode_0755", Chmod(0755), false}, {"mode_0711", Chmod(0711), false}, {"mode_0770", Chmod(0770), false},
    {"mode_0750", Chmod(0750), false}, {"mode_0701", Chmod(0701), false},
    {"owned_by_nobody", Chown(kNobody), false}, {"owned_by_root", Chown(kRoot), false},
};

void PrintTo(const DirectoryCase& which, std::ostream* out) { *out << which.name; }

class SocketDirectory : public Access, public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(SocketDirectory, OnlyTheUsersOwnPrivateDirectoryIsUsed) {
    for (const char* name : {"PevraSettingsSyncherSendOnly_", "PevraSettingsSyncher_"})
        ASSERT_NO_FATAL_FAILURE(Listen(name, uid));
    GetParam().spoil(directory, moved);
    const bool accepted = GetParam().accepted;
    EXPECT_EQ(Connect(), std::make_pair(accepted ? 0 : 1, accepted ? kConnected : kDirectoryRefused));
    ASSERT_NO_FATAL_FAILURE(Restore());
    EXPECT_EQ(Connect(), std::make_pair(0, kConnected)) << "the same listeners in the directory made good again";
}

INSTANTIATE_TEST_SUITE_P(Cases, SocketDirectory, ::testing::ValuesIn(kDirectoryCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct PeerCase {
    const char* name;
    uid_t sendOnly, request;  // who listens on each pipe
    int connect;
    const std::string& log;
};

const PeerCase kPeerCases[] = {
    {"the_user", kUser, kUser, 0, kConnected},
    {"root", kRoot, kRoot, 0, kConnected},
    {"nobody", kNobody, kNobody, 1, kPeerRefused},
    {"another_user", kOtherUser, kOtherUser, 1, kPeerRefused},
    {"request_pipe_of_nobody", kUser, kNobody, 1, kPeerRefused},
};

void PrintTo(const PeerCase& which, std::ostream* out) { *out << which.name; }

class Peer : public Access, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(Peer, OnlyTheUserOrRootIsTalkedTo) {
    const PeerCase& peer = GetParam();
    const auto who = [&](uid_t listener) { return listener == kUser ? uid : listener == kOtherUser ? uid + 1 : listener; };
    ASSERT_NO_FATAL_FAILURE(Listen("PevraSettingsSyncherSendOnly_", who(peer.sendOnly)));
    ASSERT_NO_FATAL_FAILURE(Listen("PevraSettingsSyncher_", who(peer.request)));
    EXPECT_EQ(Connect(), std::make_pair(peer.connect, peer.log));
}

INSTANTIATE_TEST_SUITE_P(Cases, Peer, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
#endif
