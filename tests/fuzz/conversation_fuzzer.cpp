// A whole conversation: the input plays the settings service against a real
// client of the library over the POSIX transport, in this process. Each
// input is a script of steps: answer the next request with any text, with a
// well-formed reply around any value, or push any text or a well-formed
// push of any handled key. Then the service goes away and the client shuts
// down: nothing may crash, hang, leak or read out of bounds.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "client/messages.h"
#include "../e2e/posix_session.h"
#include "fuzz_input.h"
#include "settings/setting_table.h"

namespace {

int g_listeners[2] = {-1, -1};  // send-only, request

std::string PipePath(const char* name) {
    return "/tmp/pevra-" + std::to_string(getuid()) + "/" + name + std::to_string(getsid(0));
}

int Listen(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) abort();
    return fd;
}

// Accepts the next connection that is still open: the client's wait for
// the pipe connects and closes at once before it opens the pipe for real.
int AcceptOpen(int listener) {
    for (;;) {
        pollfd entry{listener, POLLIN, 0};
        if (poll(&entry, 1, 1000) != 1) return -1;
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return -1;
        pollfd probe{fd, POLLIN, 0};
        char byte;
        if (poll(&probe, 1, 0) == 1 && recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
            close(fd);
            continue;
        }
        return fd;
    }
}

void Send(int fd, const std::u16string& text) {
    std::string bytes;
    for (char16_t unit : text) bytes += static_cast<char>(unit & 0xFF), bytes += static_cast<char>(unit >> 8);
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Waits briefly for the client's next request; false when none comes.
bool NextRequest(int fd) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 20) != 1) return false;
    static std::vector<char> buffer(1 << 16);
    return recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!PevraNUV::test::EnterOwnPosixSession()) abort();  // the pipes carry the session id
    const std::string folder = "/tmp/pevra-" + std::to_string(getuid());
    mkdir(folder.c_str(), 0700);
    g_listeners[0] = Listen(PipePath("PevraSettingsSyncherSendOnly_"));
    g_listeners[1] = Listen(PipePath("PevraSettingsSyncher_"));
    PevraNUV_Shutdown();  // a client named after this session's pipes
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static PevraNUV_Callbacks table{};  // the handlers run; no host needed
    PevraNUV_RegisterCallbacks(&table, nullptr);
    if (PevraNUV_Connect(0) != 0) abort();
    const int push = AcceptOpen(g_listeners[0]);
    const int request = AcceptOpen(g_listeners[1]);
    if (push < 0 || request < 0) abort();

    // Steps: an operation byte, a length byte, then that many bytes.
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t operation = data[at] % 5;
        const std::size_t length = std::min<std::size_t>(data[at + 1] * 8u, size - at - 2);
        const std::uint8_t* body = data + at + 2;
        at += 2 + length;
        const std::u16string text = PevraNUV::fuzz::Units(body, length);
        const PevraNUV::SettingId id = PevraNUV::HandlerTable[(length ? body[0] : 0) % PevraNUV::HandlerTable.size()];
        switch (operation) {
        case 0:  // any reply
            if (!NextRequest(request)) goto done;
            Send(request, text);
            break;
        case 1:  // a read reply around any value, or the write and handshake reply
            if (!NextRequest(request)) goto done;
            Send(request, u"{\"Val\":\"" + text + u"\"}{\"Ack\":\"1\"}");
            break;
        case 2:  // any push
            Send(push, text);
            break;
        case 3:  // a push of a handled key with any value
            Send(push, PevraNUV::wire::ComposeWriteRequest(PevraNUV::KeyById(id), text));
            break;
        case 4:  // a setter from the host meanwhile
            PevraNUV_SetTiltSensitivity(length);
            break;
        }
    }
done:
    // The service goes away first, so that an exchange in progress ends now.
    close(push);
    close(request);
    PevraNUV_Shutdown();
    return 0;
}
