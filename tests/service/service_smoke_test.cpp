// The reference settings service over its real pipes, driven by a raw client
// written apart from the library: message-mode named pipes on Windows, the
// POSIX transport's SOCK_SEQPACKET sockets elsewhere.
//
//   settings_service_smoke_test SERVICE             starts SERVICE for a session of its own
//   settings_service_smoke_test --write SESSION V   the second client (see WriteTilt)
#include <cstdio>
#include <optional>
#include <string>

#include "child_process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

const std::string kTilt = R"(ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity)";
const std::string kAck = R"({"Ack":"1"})";
std::string Read(const std::string& key) { return R"({"GetVal":")" + key + R"("})"; }
std::string Write(const std::string& key, const std::string& value) { return "{\"" + key + R"(":")" + value + "\"}"; }
std::string Val(const std::string& value) { return R"({"Val":")" + value + "\"}"; }

#ifdef _WIN32
// A client end of a named pipe, read as the library reads: overlapped, in
// message mode, in 1024-byte pieces.
class Pipe {
public:
    explicit Pipe(const std::string& name, bool requests) {
        const std::wstring path = L"\\\\.\\pipe\\" + std::wstring(name.begin(), name.end());
        // While the service puts up the next instance, a patient client waits for it.
        for (int attempt = 0; attempt < 50; ++attempt) {
            m_handle = CreateFileW(path.c_str(), GENERIC_READ | (requests ? GENERIC_WRITE : FILE_WRITE_ATTRIBUTES), 0,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
            if (m_handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) break;
            WaitNamedPipeW(path.c_str(), 100);
        }
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (m_handle != INVALID_HANDLE_VALUE) SetNamedPipeHandleState(m_handle, &mode, nullptr, nullptr);
    }
    ~Pipe() {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
        CloseHandle(m_event);
    }
    bool Send(const std::u16string& text) {
        DWORD bytes = 0, error = 0;
        return Await(WriteFile(m_handle, text.data(), DWORD(text.size() * 2), nullptr, Start()), 5000, bytes, error);
    }
    // The next whole message; nothing when none comes within ms or the pipe closed.
    std::optional<std::u16string> Receive(DWORD ms = 5000) {
        std::u16string text;
        char16_t piece[512];
        for (DWORD error = ERROR_MORE_DATA, bytes = 0; error == ERROR_MORE_DATA; text.append(piece, bytes / 2)) {
            if (!Await(ReadFile(m_handle, piece, sizeof piece, nullptr, Start()), ms, bytes, error)) return {};
        }
        return text;
    }

private:
    OVERLAPPED* Start() {
        m_overlapped = OVERLAPPED{};
        m_overlapped.hEvent = m_event;
        ResetEvent(m_event);
        return &m_overlapped;
    }
    // Whether the operation just started completed, or left a piece with more to come.
    bool Await(BOOL done, DWORD ms, DWORD& bytes, DWORD& error) {
        error = done ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SUCCESS && error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return false;
        if (WaitForSingleObject(m_event, ms) != WAIT_OBJECT_0) {
            CancelIoEx(m_handle, &m_overlapped);
            GetOverlappedResult(m_handle, &m_overlapped, &bytes, TRUE);
            return false;
        }
        error = GetOverlappedResult(m_handle, &m_overlapped, &bytes, FALSE) ? ERROR_SUCCESS : GetLastError();
        return error == ERROR_SUCCESS || error == ERROR_MORE_DATA;
    }
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED m_overlapped{};
};
unsigned long ProcessId() { return GetCurrentProcessId(); }
#else
// A client end of a pipe: a connection to /tmp/pevra-<uid>/<name>.
class Pipe {
public:
    explicit Pipe(const std::string& name, bool) : m_fd(socket(AF_UNIX, SOCK_SEQPACKET, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "/tmp/pevra-%u/%s", unsigned(getuid()), name.c_str());
        if (connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) close(m_fd), m_fd = -1;
    }
    ~Pipe() {
        if (m_fd >= 0) close(m_fd);
    }
    bool Send(const std::u16string& text) {
        return send(m_fd, text.data(), text.size() * 2, MSG_NOSIGNAL) == ssize_t(text.size() * 2);
    }
    // The next whole record, its length peeked first; nothing when none comes
    // within ms or the pipe closed (this test sends no empty message).
    std::optional<std::u16string> Receive(int ms = 5000) {
        pollfd ready{m_fd, POLLIN, 0};
        const ssize_t size = poll(&ready, 1, ms) == 1 ? recv(m_fd, nullptr, 0, MSG_PEEK | MSG_TRUNC) : -1;
        if (size <= 0) return {};
        std::u16string text(size / 2 + 1, u'\0');
        recv(m_fd, text.data(), size, 0);
        text.resize(size / 2);
        return text;
    }

private:
    int m_fd;
};
unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }
#endif

// Both pipes of one client of a session; the texts here are all ASCII.
struct Client {
    explicit Client(const std::string& session)
        : pushes("PevraSettingsSyncherSendOnly_" + session, false), requests("PevraSettingsSyncher_" + session, true) {}
    static std::string Narrow(const std::optional<std::u16string>& text) {
        return text ? std::string(text->begin(), text->end()) : "<nothing>";
    }
    std::string Exchange(const std::string& request) {
        return requests.Send(std::u16string(request.begin(), request.end())) ? Narrow(requests.Receive()) : "<not sent>";
    }
    std::string Push() { return Narrow(pushes.Receive()); }
    Pipe pushes;
    Pipe requests;
};

int g_failures = 0;
void Expect(const std::string& actual, const std::string& expected, const char* what) {
    const bool ok = actual == expected;
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, ok ? "" : ": got ", ok ? "" : actual.c_str());
    g_failures += !ok;
}

// The second client writes the tilt sensitivity from a process of its own:
// the service tells clients apart by process id and pushes a write to the
// others only.
int WriteTilt(const std::string& session, const std::string& value) {
    Client client(session);
    return client.Exchange(Write(kTilt, value)) == kAck ? 0 : 1;
}

int Smoke(const std::string& self, const std::string& servicePath) {
    using PevraNUV::test::ChildProcess;
    const std::string session = std::to_string(4100000000UL + ProcessId() % 100000);
    ChildProcess service(servicePath, {"--session", session, "--stdin-control"});
    if (!service.WaitForLine("ready", 20000)) return std::printf("FAIL the service did not report ready\n"), 1;

    Client client(session);
    Expect(client.Exchange(R"({"Connected":"?"})"), kAck, "the handshake is acknowledged");
    Expect(client.Exchange(Read(R"(ComponentsDriver\\ServiceVersion)")), Val("3.1.0"), "a default value is read");
    Expect(client.Exchange(Write(kTilt, "7")), kAck, "a write is acknowledged");
    Expect(client.Exchange(Read(kTilt)), Val("7"), "the written value is read back");
    Expect(client.Exchange("nonsense"), R"({"Ack":"0"})", "a request of no known form is refused");
    // Had this client's own write been pushed back to it, it would come first.
    const int writer = PevraNUV::test::RunProgram(self, {"--write", session, "3"}, 20000).exitCode;
    Expect(std::to_string(writer), "0", "a second client, in another process, writes");
    Expect(client.Push(), Write(kTilt, "3"), "its write, and only that, is pushed to the first client");
    const auto second = PevraNUV::test::RunProgram(servicePath, {"--session", session}, 20000);
    Expect(second.exitCode != 0 && second.err.find("another service already serves") != std::string::npos ? "refused"
                                                                                                          : second.err,
           "refused", "a second service of the session exits non-zero and says why");
    service.WriteLine("set ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity 12");
    Expect(client.Push(), Write(kTilt, "12"), "a value set through the control channel is pushed");
    service.WriteLine("quit");
    Expect(std::to_string(service.Finish(10000).exitCode), "0", "quit ends the service with status 0");
    Expect(client.Push(), "<nothing>", "and closes its pipes");
    return g_failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--write") return WriteTilt(argv[2], argv[3]);
    if (argc != 2) return std::fprintf(stderr, "usage: %s SERVICE\n", argv[0]), 2;
    return Smoke(argv[0], argv[1]);
}
