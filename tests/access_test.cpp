// Access control of the POSIX transport, client side. The socket directory
// must be a real directory of the user's with no group or other bits, and
// the peer must run as the user or as root; anything else counts as a pipe
// that cannot be opened. Checked through the platform calls and through
// PevraNUV_Connect, against the reference service and against a listener
// that runs as another user.
//
// The client's real uid is switched, for the length of a test, to a uid of
// its own (so its directory /tmp/pevra-<uid> is this test's alone) while the
// effective uid stays root: the kernel then refuses nothing, and every
// refusal seen is the library's own.
#if !defined(_WIN32)

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "log/log.h"
#include "platform/platform.h"
#include "test_support.h"

namespace fs = std::filesystem;
namespace platform = PevraNUV::platform;

namespace {

constexpr uid_t kRoot = 0;
constexpr uid_t kNobody = 65534;

// A uid no other process uses, so that the socket directory and the
// service's names are this test process's alone.
uid_t TestUid() { return 1000000000u + static_cast<uid_t>(::getpid()); }

fs::path SocketDirectory(uid_t uid) { return "/tmp/pevra-" + std::to_string(uid); }

// In a forked child: drop every id to uid (and its gid namesake).
void BecomeUser(uid_t uid) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)
        ::_exit(126);
}

bool WaitForReadable(int fd, std::chrono::milliseconds limit) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(limit.count())) == 1;
}

// Waits for a child for up to limit, then kills it.
void Reap(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// The process's real uid is uid while the object lives; the effective and
// saved uids stay root.
class RealUid {
public:
    explicit RealUid(uid_t uid) : m_ok(::setresuid(uid, kRoot, kRoot) == 0) {}
    ~RealUid() {
        if (m_ok) ::setresuid(kRoot, kRoot, kRoot);
    }
    bool ok() const { return m_ok; }

private:
    bool m_ok;
};

// The reference service run as uid, in this process's session, until its
// standard input ends.
class Service {
public:
    explicit Service(uid_t uid) {
        const std::string path = ServicePath();
        const char* const argv[] = {path.c_str(), "--stdin-control", nullptr};
        int input[2], output[2];
        if (::pipe2(input, O_CLOEXEC) != 0) return;
        if (::pipe2(output, O_CLOEXEC) != 0) {
            ::close(input[0]), ::close(input[1]);
            return;
        }
        m_input = input[1];
        m_output = output[0];
        m_pid = ::fork();
        if (m_pid == 0) {
            BecomeUser(uid);
            ::dup2(input[0], STDIN_FILENO);
            ::dup2(output[1], STDOUT_FILENO);
            ::execv(argv[0], const_cast<char* const*>(argv));
            ::_exit(127);
        }
        ::close(input[0]);
        ::close(output[1]);
    }
    ~Service() {
        if (m_input >= 0) ::close(m_input);  // the end of its input quits it
        if (m_output >= 0) ::close(m_output);
        if (m_pid > 0) Reap(m_pid, std::chrono::seconds(5));
    }

    // Whether it printed "ready": both pipes listen.
    bool Ready() {
        std::string line;
        char c;
        while (m_pid > 0 && WaitForReadable(m_output, std::chrono::seconds(10)) && ::read(m_output, &c, 1) == 1) {
            if (c == '\n') return line == "ready";
            line += c;
        }
        return false;
    }

    // Built beside the tests: <build>/tests/ptsa_unit_tests and
    // <build>/tools/settings-service/pevra-settings-service.
    static std::string ServicePath() {
        return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools" / "settings-service" /
                "pevra-settings-service")
            .string();
    }

private:
    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
};

// A stand-in service: listens on one socket path as peerUid (the
// credentials a client reads are those of listen()), accepts every
// connection and counts what it receives. It never answers.
class Listener {
public:
    struct Totals {
        std::uint32_t connections = 0;
        std::uint32_t bytes = 0;
    };

    Listener(const std::string& path, uid_t peerUid) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        int report[2], stop[2];
        if (::pipe2(report, O_CLOEXEC) != 0) return;
        if (::pipe2(stop, O_CLOEXEC) != 0) {
            ::close(report[0]), ::close(report[1]);
            return;
        }
        m_report = report[0];
        m_stop = stop[1];
        m_pid = ::fork();
        if (m_pid == 0) Serve(address, peerUid, stop[0], report[1]);
        ::close(report[1]);
        ::close(stop[0]);
    }
    ~Listener() {
        if (m_stop >= 0) Stop();
        if (m_report >= 0) ::close(m_report);
        if (m_pid > 0) Reap(m_pid, std::chrono::seconds(5));
    }

    bool Ready() {
        char ready = 0;
        return m_pid > 0 && WaitForReadable(m_report, std::chrono::seconds(10)) && ::read(m_report, &ready, 1) == 1 &&
               ready == 'R';
    }

    // Stops the listener and returns what it saw.
    Totals Stop() {
        Totals totals;
        // A byte, not the end of the pipe: a listener forked later holds a
        // copy of its write end.
        [[maybe_unused]] ssize_t written = ::write(m_stop, "S", 1);
        ::close(m_stop);
        m_stop = -1;
        if (!WaitForReadable(m_report, std::chrono::seconds(10)) ||
            ::read(m_report, &totals, sizeof totals) != static_cast<ssize_t>(sizeof totals))
            totals.connections = totals.bytes = UINT32_MAX;
        return totals;
    }

private:
    // The child's whole life: system calls only, no allocation.
    [[noreturn]] static void Serve(const sockaddr_un& address, uid_t peerUid, int stop, int report) {
        constexpr int kMaxEntries = 64;
        pollfd entries[kMaxEntries];
        int count = 0;
        entries[count++] = {stop, POLLIN, 0};
        const int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
        if (listener < 0 || ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            ::_exit(125);
        entries[count++] = {listener, POLLIN, 0};
        BecomeUser(peerUid);
        if (::listen(listener, 16) != 0) ::_exit(124);
        if (::write(report, "R", 1) != 1) ::_exit(123);

        Totals totals;
        unsigned char buffer[65536];
        // One pass over whatever is ready; when draining, nothing waits.
        const auto serveReady = [&](bool draining) {
            for (int i = 1; i < count; ++i) {
                if (!draining && !entries[i].revents) continue;
                if (entries[i].fd == listener) {
                    for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
                        ++totals.connections;
                        if (count < kMaxEntries) {
                            entries[count++] = {fd, POLLIN, 0};
                        } else {
                            ::close(fd);
                        }
                        if (!draining) break;
                    }
                    continue;
                }
                ssize_t got;
                while ((got = ::recv(entries[i].fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
                    totals.bytes += static_cast<std::uint32_t>(got);
                if (got == 0) {  // the client hung up
                    ::close(entries[i].fd);
                    entries[i--] = entries[--count];
                }
            }
        };
        while (true) {
            if (::poll(entries, count, -1) < 0) continue;
            if (entries[0].revents) break;  // the parent asks it to stop
            serveReady(false);
        }
        serveReady(true);
        serveReady(true);  // records of the connections the first pass accepted
        [[maybe_unused]] ssize_t written = ::write(report, &totals, sizeof totals);
        ::_exit(0);
    }

    pid_t m_pid = -1;
    int m_report = -1;
    int m_stop = -1;
};

// What a client sees when it tries the service's pipes.
struct Outcome {
    bool waited;          // WaitForPipe on the send-only pipe
    bool sendOnlyOpened;  // OpenPipe on each pipe
    bool requestOpened;
    int connect;                    // PevraNUV_Connect(0)
    std::vector<std::string> log;  // the messages it logged

    bool operator==(const Outcome& other) const {
        return waited == other.waited && sendOnlyOpened == other.sendOnlyOpened &&
               requestOpened == other.requestOpened && connect == other.connect && log == other.log;
    }
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << "{wait " << outcome.waited << ", open send-only " << outcome.sendOnlyOpened << ", open request "
         << outcome.requestOpened << ", Connect " << outcome.connect << ", log [";
    for (const std::string& message : outcome.log) *out << " \"" << message << "\"";
    *out << " ]}";
}

const Outcome kConnected{true, true, true, 0, {}};
// The directory is checked before the wait, which then fails.
const Outcome kDirectoryRefused{false, false, false, 1, {"Timed out waiting for Service."}};
// The wait only probes that the socket accepts; the open checks the peer.
const Outcome kPeerRefused{true, false, false, 1, {"Couldn't find Service."}};

// Every test runs as a client of its own uid in a socket directory of its
// own, made good (mode 0700, owned by that uid) before it starts.
class AccessTest : public ptsa_test::ExportTest {
protected:
    void SetUp() override {
        if (::geteuid() != kRoot)
            GTEST_SKIP() << "needs root: the cases chown the socket directory, change the real uid and run "
                            "peers as other users";
        ExportTest::SetUp();
        ::testing::internal::CaptureStderr();  // the debugger output, kept out of the test report
        uid = TestUid();
        directory = SocketDirectory(uid);
        moved = directory.string() + ".moved";
        logPath = fs::temp_directory_path() / ("ptsa_access_" + std::to_string(::getpid()) + ".log");
        RemoveDirectories();
        ASSERT_TRUE(fs::create_directory(directory));
        ASSERT_EQ(::chown(directory.c_str(), uid, uid), 0);
        ASSERT_EQ(::chmod(directory.c_str(), 0700), 0);
    }
    void TearDown() override {
        if (::geteuid() != kRoot) return;
        m_realUid.reset();
        PevraNUV::g_logEnabled = false;
        PevraNUV::SetLogFilePath(std::wstring());
        fs::remove(logPath);
        ExportTest::TearDown();
        m_service.reset();
        RemoveDirectories();
        ::testing::internal::GetCapturedStderr();
    }

    void RemoveDirectories() {
        std::error_code ignored;
        fs::remove_all(directory, ignored);  // a symbolic link itself, not its target
        fs::remove_all(moved, ignored);
    }

    void StartService() {
        ASSERT_TRUE(fs::exists(Service::ServicePath())) << Service::ServicePath() << " is not built";
        m_service = std::make_unique<Service>(uid);
        ASSERT_TRUE(m_service->Ready()) << "the service did not start in " << directory;
    }

    // From here on this process's real uid is the test's uid.
    void BecomeClient() {
        m_realUid = std::make_unique<RealUid>(uid);
        ASSERT_TRUE(m_realUid->ok()) << "setresuid: " << std::strerror(errno);
        ASSERT_EQ(::getuid(), uid);
    }

    // The socket paths the client uses for its two pipes.
    std::vector<std::string> SocketPaths() {
        std::vector<std::string> paths;
        for (const std::u16string* name : {&Client().m_sendOnlyPipeName, &Client().m_pipeName}) {
            const std::u16string base = name->substr(name->rfind(u'\\') + 1);
            paths.push_back((directory / std::string(base.begin(), base.end())).string());
        }
        return paths;
    }

    // Tries the pipes through the platform layer, then connects through the
    // export and shuts the link down again.
    Outcome Attempt() {
        PevraNUV::SetLogFilePath(std::wstring());
        fs::remove(logPath);
        PevraNUV::SetLogFilePath(logPath.wstring());
        PevraNUV::g_logEnabled = true;

        Outcome outcome{};
        const PevraNUV::SettingsClient& client = Client();
        outcome.waited = platform::WaitForPipe(client.m_sendOnlyPipeName, 1);
        {
            using platform::PipeAccess;
            platform::UniqueHandle sendOnly(platform::OpenPipe(client.m_sendOnlyPipeName, PipeAccess::ReadOnly));
            platform::UniqueHandle request(platform::OpenPipe(client.m_pipeName, PipeAccess::ReadWrite));
            outcome.sendOnlyOpened = static_cast<bool>(sendOnly);
            outcome.requestOpened = static_cast<bool>(request);
        }
        outcome.connect = PevraNUV_Connect(0);
        outcome.log = LoggedMessages();
        return outcome;
    }

    // The messages of the log's records ("time -- ids -- message" CR LF).
    std::vector<std::string> LoggedMessages() const {
        std::ifstream file(logPath, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::vector<std::string> messages;
        for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            const std::string record = text.substr(start, end - start);
            const std::size_t separator = record.rfind(" -- ");
            messages.push_back(separator == std::string::npos ? record : record.substr(separator + 4));
        }
        return messages;
    }

    uid_t uid = 0;
    fs::path directory;
    fs::path moved;  // where a spoiled case keeps the good directory
    fs::path logPath;

private:
    std::unique_ptr<Service> m_service;
    std::unique_ptr<RealUid> m_realUid;
};

// ---- The socket directory ---------------------------------------------

struct DirectoryCase {
    const char* name;
    // Turns the good directory, in which the service listens, into the case.
    std::function<void(const fs::path& directory, const fs::path& moved)> spoil;
    bool accepted;
};

void MoveAway(const fs::path& directory, const fs::path& moved) { fs::rename(directory, moved); }

std::function<void(const fs::path&, const fs::path&)> Chmod(mode_t mode) {
    return [mode](const fs::path& directory, const fs::path&) { ASSERT_EQ(::chmod(directory.c_str(), mode), 0); };
}

std::function<void(const fs::path&, const fs::path&)> Chown(uid_t owner) {
    return [owner](const fs::path& directory, const fs::path&) {
        ASSERT_EQ(::chown(directory.c_str(), owner, static_cast<gid_t>(-1)), 0);
    };
}

const DirectoryCase kDirectoryCases[] = {
    {"own_0700", [](const fs::path&, const fs::path&) {}, true},
    {"symlink_to_good_directory",
     [](const fs::path& directory, const fs::path& moved) {
         MoveAway(directory, moved);
         fs::create_directory_symlink(moved, directory);
     },
     false},
    {"regular_file",
     [](const fs::path& directory, const fs::path& moved) {
         MoveAway(directory, moved);
         std::ofstream(directory) << "not a directory";
     },
     false},
    {"mode_0755", Chmod(0755), false},
    {"mode_0711", Chmod(0711), false},
    {"mode_0770", Chmod(0770), false},
    {"mode_0750", Chmod(0750), false},
    {"mode_0701", Chmod(0701), false},
    {"owned_by_nobody", Chown(kNobody), false},
    {"owned_by_root", Chown(kRoot), false},
};

void PrintTo(const DirectoryCase& which, std::ostream* out) { *out << which.name; }

class SocketDirectoryTest : public AccessTest, public ::testing::WithParamInterface<DirectoryCase> {
protected:
    // Puts the good directory back where it was.
    void Restore() {
        if (fs::exists(moved)) {
            fs::remove(directory);
            fs::rename(moved, directory);
        }
        ASSERT_EQ(::chown(directory.c_str(), uid, uid), 0);
        ASSERT_EQ(::chmod(directory.c_str(), 0700), 0);
    }
};

TEST_P(SocketDirectoryTest, ClientRefusesAnyButOwnPrivateDirectory) {
    const DirectoryCase& which = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartService());
    ASSERT_NO_FATAL_FAILURE(which.spoil(directory, moved));
    ASSERT_NO_FATAL_FAILURE(BecomeClient());

    EXPECT_EQ(Attempt(), which.accepted ? kConnected : kDirectoryRefused);
    PevraNUV_Shutdown();

    // The same service, its directory made good again: the refusal came from
    // the directory, not from a service that was gone.
    ASSERT_NO_FATAL_FAILURE(Restore());
    EXPECT_EQ(Attempt(), kConnected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SocketDirectoryTest, ::testing::ValuesIn(kDirectoryCases),
                         [](const ::testing::TestParamInfo<DirectoryCase>& info) { return info.param.name; });

// ---- The peer's uid ---------------------------------------------------

enum class Peer { Client, Root, Nobody, OtherUser };

struct PeerCase {
    const char* name;
    Peer sendOnly;  // who listens on each pipe
    Peer request;
    Outcome expected;
};

const PeerCase kPeerCases[] = {
    {"same_uid", Peer::Client, Peer::Client, kConnected},
    {"root", Peer::Root, Peer::Root, kConnected},
    {"nobody", Peer::Nobody, Peer::Nobody, kPeerRefused},
    {"another_user", Peer::OtherUser, Peer::OtherUser, kPeerRefused},
    // The send-only pipe is opened and closed again.
    {"request_pipe_of_nobody", Peer::Client, Peer::Nobody, {true, true, false, 1, {"Couldn't find Service."}}},
};

void PrintTo(const PeerCase& which, std::ostream* out) { *out << which.name; }

class PeerTest : public AccessTest, public ::testing::WithParamInterface<PeerCase> {
protected:
    uid_t UidOf(Peer peer) const {
        switch (peer) {
            case Peer::Client: return uid;
            case Peer::Root: return kRoot;
            case Peer::Nobody: return kNobody;
            case Peer::OtherUser: return uid + 1;
        }
        return uid;
    }
};

TEST_P(PeerTest, ClientTalksOnlyToItsOwnUidOrRoot) {
    const PeerCase& which = GetParam();
    const std::vector<std::string> paths = SocketPaths();
    Listener sendOnly(paths[0], UidOf(which.sendOnly));
    Listener request(paths[1], UidOf(which.request));
    ASSERT_TRUE(sendOnly.Ready() && request.Ready()) << "a listener did not start";
    ASSERT_NO_FATAL_FAILURE(BecomeClient());

    EXPECT_EQ(Attempt(), which.expected);
    if (which.expected.connect == 0) {
        // The sync thread writes the handshake request and, with no reply
        // in 1000 ms, ends the link.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Client().HasSyncThread() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(Client().HasSyncThread());
    }
    PevraNUV_Shutdown();
    const Listener::Totals sendOnlyTotals = sendOnly.Stop();
    const Listener::Totals requestTotals = request.Stop();

    // The platform calls' opens, and Connect's open of the send-only pipe,
    // reached the listeners: a refusal is the client's own.
    EXPECT_GE(sendOnlyTotals.connections, 2u);
    EXPECT_GE(requestTotals.connections, 1u);
    EXPECT_EQ(sendOnlyTotals.bytes, 0u) << "nothing is ever written to the send-only pipe";
    const std::uint32_t handshakeRequestBytes = 2 * (sizeof "{\"Connected\":\"?\"}" - 1);
    EXPECT_EQ(requestTotals.bytes, which.expected.connect == 0 ? handshakeRequestBytes : 0u)
        << "a refused peer must never receive a byte";
}

INSTANTIATE_TEST_SUITE_P(Cases, PeerTest, ::testing::ValuesIn(kPeerCases),
                         [](const ::testing::TestParamInfo<PeerCase>& info) { return info.param.name; });

}  // namespace

#endif  // !_WIN32
