// The two pipes of this session as Unix sequenced-packet sockets, for the
// bench service and the raw clients.
#pragma once

#include <sys/un.h>

#include <string>

namespace PevraNUV::bench {

inline constexpr const char* kRequestPipe = "PevraSettingsSyncher_";
inline constexpr const char* kPushPipe = "PevraSettingsSyncherSendOnly_";

// Owns a descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

std::string SocketDirectory();                // /tmp/pevra-<uid>
sockaddr_un PipeAddress(const char* name);    // <directory>/<name><session id>
Fd ConnectPipe(const sockaddr_un& address);   // invalid on failure

// What the transport asks of a client besides the connection: a trusted
// directory, a probe of the push pipe before opening it, a peer of our uid
// or root.
bool DirectoryTrusted();
bool ProbePipe(const sockaddr_un& address);
bool PeerTrusted(int fd);

}  // namespace PevraNUV::bench
