// The POSIX counterpart of the pipes: two listening AF_UNIX SOCK_SEQPACKET
// sockets in /tmp/pevra-<uid>/, one socket record per pipe message.
#include "transport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>
#include <vector>

namespace settings_service {

namespace {

const char* const kPipeNames[] = {"PevraSettingsSyncher_", "PevraSettingsSyncherSendOnly_"};

// Large enough for a push of a long option list in one record.
constexpr int kWantedSendBuffer = 8 * 1024 * 1024;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// One eventfd for the process, never closed, so that a signal handler may
// write to it at any time.
int WakeDescriptor() {
    static const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd;
}

void WakeProcess() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(WakeDescriptor(), &one, sizeof one);
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    Descriptor(Descriptor&& other) noexcept : m_fd(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    ~Descriptor() { Reset(); }
    int Get() const { return m_fd; }
    int Release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// The directory must be a real directory of ours with no group or other
// permission bits; the service makes it when it is missing.
std::string PrepareDirectory(const std::string& directory) {
    if (::mkdir(directory.c_str(), 0700) == 0) {
        // The umask may have taken owner bits away.
        if (::chmod(directory.c_str(), 0700) != 0) return SystemError("chmod " + directory);
    } else if (errno != EEXIST) {
        return SystemError("mkdir " + directory);
    }
    struct stat info;
    if (::lstat(directory.c_str(), &info) != 0) return SystemError("lstat " + directory);
    const std::string refusal = "refusing the socket directory " + directory + ": ";
    if (!S_ISDIR(info.st_mode)) return refusal + "not a directory";
    if (info.st_uid != ::getuid()) return refusal + "owned by uid " + std::to_string(info.st_uid);
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return refusal + "mode " + mode + " gives group or other users access";
    }
    return {};
}

sockaddr_un AddressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

void RaiseSendBuffer(int fd, int bytes) {
    // SO_SNDBUFFORCE passes the system limit when we may; else take what
    // SO_SNDBUF gives.
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &bytes, sizeof bytes) != 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    }
}

class PosixTransport final : public QueuedTransport {
public:
    ~PosixTransport() override {
        for (auto& listener : m_listeners) {
            // Remove the socket file only while it is still the one we made.
            struct stat info;
            if (!listener.path.empty() && ::lstat(listener.path.c_str(), &info) == 0 && info.st_ino == listener.inode) {
                ::unlink(listener.path.c_str());
            }
        }
    }

    std::string Listen(const std::string& session, bool withRequestPipe, bool withSendOnlyPipe) override {
        if (WakeDescriptor() < 0) return SystemError("eventfd");
        const std::string directory = "/tmp/pevra-" + std::to_string(::getuid());
        if (std::string error = PrepareDirectory(directory); !error.empty()) return error;
        for (Pipe pipe : {Pipe::Request, Pipe::SendOnly}) {
            if (!(pipe == Pipe::Request ? withRequestPipe : withSendOnlyPipe)) continue;
            if (std::string error = ListenOn(pipe, directory + "/" + kPipeNames[int(pipe)] + session); !error.empty()) {
                return error;
            }
        }
        return {};
    }

    void Send(ConnectionId id, std::string bytes) override {
        auto found = m_connections.find(id);
        if (found == m_connections.end()) return;
        found->second.outgoing.push_back(std::move(bytes));
        WriteQueued(id, found->second);
    }

    void Close(ConnectionId id) override {
        auto found = m_connections.find(id);
        if (found == m_connections.end()) return;
        found->second.closeWhenWritten = true;
        if (found->second.outgoing.empty()) m_connections.erase(found);
    }

    void Flush(int timeoutMs) override {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            std::vector<pollfd> waiting;
            for (auto& [id, connection] : m_connections) {
                if (!connection.outgoing.empty()) waiting.push_back({connection.fd.Get(), POLLOUT, 0});
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (waiting.empty() || left.count() <= 0) return;
            ::poll(waiting.data(), waiting.size(), static_cast<int>(left.count()));
            for (auto it = m_connections.begin(); it != m_connections.end();) {
                auto next = std::next(it);
                WriteQueued(it->first, it->second);
                it = next;
            }
        }
    }

    void Wake() override { WakeProcess(); }

private:
    struct Listener {
        Descriptor fd;
        Pipe pipe;
        std::string path;
        ino_t inode = 0;
    };

    struct Connection {
        Descriptor fd;
        Pipe pipe;
        std::deque<std::string> outgoing;
        bool closeWhenWritten = false;
    };

    std::string ListenOn(Pipe pipe, const std::string& path) {
        if (path.size() >= sizeof(sockaddr_un::sun_path)) return "socket path too long: " + path;
        const sockaddr_un address = AddressOf(path);
        struct stat info;
        if (::lstat(path.c_str(), &info) == 0) {
            if (!S_ISSOCK(info.st_mode)) return "refusing to replace " + path + ": not a socket";
            // A socket file that accepts a connection belongs to a running
            // service; one that refuses is left over and goes.
            Descriptor probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
            if (::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
                return "another service already serves " + path;
            }
            ::unlink(path.c_str());
        }
        Descriptor fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd.Get() < 0) return SystemError("socket");
        if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return SystemError("bind " + path);
        }
        Listener listener{std::move(fd), pipe, path, 0};
        if (::lstat(path.c_str(), &info) == 0) listener.inode = info.st_ino;
        ::chmod(path.c_str(), 0600);
        m_listeners.push_back(std::move(listener));
        if (::listen(m_listeners.back().fd.Get(), SOMAXCONN) != 0) return SystemError("listen " + path);
        return {};
    }

    void Gather(int timeoutMs) override {
        std::vector<pollfd> fds;
        fds.push_back({WakeDescriptor(), POLLIN, 0});
        for (auto& listener : m_listeners) fds.push_back({listener.fd.Get(), POLLIN, 0});
        std::vector<ConnectionId> ids;
        for (auto& [id, connection] : m_connections) {
            short events = POLLIN | POLLRDHUP;
            if (!connection.outgoing.empty()) events |= POLLOUT;
            fds.push_back({connection.fd.Get(), events, 0});
            ids.push_back(id);
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) <= 0) return;

        if (fds[0].revents & POLLIN) {
            std::uint64_t count;
            while (::read(WakeDescriptor(), &count, sizeof count) > 0) {
            }
            m_events.push_back({TransportEvent::Type::Woken});
        }
        for (std::size_t i = 0; i < m_listeners.size(); ++i) {
            if (fds[1 + i].revents & POLLIN) Accept(m_listeners[i]);
        }
        const std::size_t first = 1 + m_listeners.size();
        for (std::size_t i = 0; i < ids.size(); ++i) Serve(ids[i], fds[first + i].revents);
    }

    void Accept(Listener& listener) {
        for (;;) {
            Descriptor fd(::accept4(listener.fd.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (fd.Get() < 0) return;
            ucred peer{};
            socklen_t length = sizeof peer;
            if (::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) peer.pid = 0;
            RaiseSendBuffer(fd.Get(), kWantedSendBuffer);
            const ConnectionId id = m_nextId++;
            m_connections.emplace(id, Connection{std::move(fd), listener.pipe, {}, false});
            TransportEvent event{TransportEvent::Type::Accepted, id, listener.pipe};
            event.peerProcess = static_cast<std::uint32_t>(peer.pid);
            m_events.push_back(std::move(event));
        }
    }

    void Serve(ConnectionId id, short revents) {
        auto found = m_connections.find(id);
        if (found == m_connections.end()) return;
        Connection& connection = found->second;
        if (revents & POLLOUT) {
            if (!WriteQueued(id, connection)) return;
        }
        if (revents & POLLNVAL) return Drop(id);
        if (!(revents & (POLLIN | POLLHUP | POLLRDHUP | POLLERR))) return;
        // One record per pass: the length first, so the record is never cut.
        const ssize_t length = ::recv(connection.fd.Get(), nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        if (length < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Drop(id);
            return;
        }
        // Zero bytes is the end of the stream, or an empty record when the
        // peer has not hung up.
        if (length == 0 && (revents & (POLLHUP | POLLRDHUP | POLLERR))) return Drop(id);
        std::string bytes(static_cast<std::size_t>(length), '\0');
        if (::recv(connection.fd.Get(), bytes.data(), bytes.size(), MSG_DONTWAIT) != length) return Drop(id);
        if (connection.closeWhenWritten) return;  // closing: nothing more is served
        m_events.push_back({TransportEvent::Type::Received, id, connection.pipe, 0, std::move(bytes)});
    }

    // Writes what the socket takes now; false when the connection is gone.
    bool WriteQueued(ConnectionId id, Connection& connection) {
        while (!connection.outgoing.empty()) {
            const std::string& bytes = connection.outgoing.front();
            ssize_t sent = ::send(connection.fd.Get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL | MSG_EOR);
            if (sent < 0 && errno == EMSGSIZE) {
                RaiseSendBuffer(connection.fd.Get(), static_cast<int>(std::min<std::size_t>(bytes.size() * 2 + 4096, 1u << 30)));
                sent = ::send(connection.fd.Get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL | MSG_EOR);
                if (sent < 0 && errno == EMSGSIZE) {
                    std::cerr << "settings-service: dropped a message of " << bytes.size()
                              << " bytes: larger than the socket's send buffer\n";
                    connection.outgoing.pop_front();
                    continue;
                }
            }
            if (sent < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
                Drop(id);
                return false;
            }
            connection.outgoing.pop_front();
        }
        if (connection.closeWhenWritten) {
            m_connections.erase(id);
            return false;
        }
        return true;
    }

    void Drop(ConnectionId id) {
        auto found = m_connections.find(id);
        if (found == m_connections.end()) return;
        const bool announced = !found->second.closeWhenWritten;
        m_connections.erase(found);
        if (announced) m_events.push_back({TransportEvent::Type::Closed, id});
    }

    std::vector<Listener> m_listeners;
    std::map<ConnectionId, Connection> m_connections;
    ConnectionId m_nextId = 1;
};

}  // namespace

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void OnStopSignal(int) {
    g_stopRequested = 1;
    WakeProcess();
}

}  // namespace

void CatchStopRequests() {
    WakeDescriptor();  // made before any signal can need it
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return g_stopRequested != 0; }

std::unique_ptr<Transport> MakeTransport() { return std::make_unique<PosixTransport>(); }

std::string CurrentSession() {
    const pid_t session = ::getsid(0);
    return session < 0 ? "0" : std::to_string(static_cast<unsigned long>(session));
}

}  // namespace settings_service
