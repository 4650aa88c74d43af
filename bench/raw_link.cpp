// The pipes as sockets, by the POSIX transport contract.
#include "raw_link.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace PevraNUV::bench {

Fd::~Fd() {
    if (m_fd >= 0) ::close(m_fd);
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

std::string SocketDirectory() { return "/tmp/pevra-" + std::to_string(::getuid()); }

sockaddr_un PipeAddress(const char* name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = SocketDirectory() + "/" + name + std::to_string(::getsid(0));
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

Fd ConnectPipe(const sockaddr_un& address) {
    Fd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (fd.valid() && ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Fd();
    return fd;
}

bool DirectoryTrusted() {
    struct stat info;
    if (::lstat(SocketDirectory().c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

bool ProbePipe(const sockaddr_un& address) { return ConnectPipe(address).valid(); }

bool PeerTrusted(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
    return peer.uid == ::getuid() || peer.uid == 0;
}

}  // namespace PevraNUV::bench
