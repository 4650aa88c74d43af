// The bench service: the least a settings service can do, so that its own
// work dilutes the link benchmark's ratios as little as possible. It answers
// the handshake request and every write with {"Ack":"1"} and every read
// with one fixed value, and pushes battery values back to back on request.
//
//   ptsa_bench_service [--record FILE]
//
// Standard input, one command a line: "push N" sends N pushes to every open
// push pipe; "stamp N GAP KEY" sends N pushes of KEY (as it travels), GAP
// microseconds apart (0: back to back), each carrying the steady clock's
// reading in nanoseconds modulo 10^15 at its send, so that a client on this
// machine can tell each push's latency (bench/dotnet_latency.sh). Standard output: "ready" once both pipes listen; "recorded"
// once the first client's request pipe has closed and FILE holds the
// requests it sent, for the raw clients to replay. The end of its input
// ends it.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/messages.h"
#include "raw_link.h"
#include "recording.h"
#include "wire_view.h"

using namespace PevraNUV;
using namespace PevraNUV::bench;

namespace {

// One value serves every handler without a read failure: the number
// readers take the leading 1, the version and pen texts take it whole,
// the option lists find no pair in it, and the zoom map finds four numbers,
// which differ from a fresh client's zeros, so the handshake's last value,
// the zoom map, always reaches the host.
const std::u16string kReadReply = uR"({"Val":"1,2,3,4"})";
const std::u16string kPushedKeyEnd = u"PenBatteryStatus";
constexpr int kPushValues = 100;  // pushes cycle through the values 0 to 99

Message Bytes(const std::u16string& text) {
    const char* bytes = reinterpret_cast<const char*>(text.data());
    return Message(bytes, bytes + text.size() * 2);
}

std::u16string Digits(long long number) {
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

Fd Listen(const char* name) {
    const sockaddr_un address = PipeAddress(name);
    ::unlink(address.sun_path);
    Fd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 64) != 0)
        return Fd();
    return fd;
}

class Service {
public:
    explicit Service(std::string recordPath) : m_recordPath(std::move(recordPath)) {}
    ~Service() {
        if (m_listenPush.valid()) ::unlink(PipeAddress(kPushPipe).sun_path);
        if (m_listenRequest.valid()) ::unlink(PipeAddress(kRequestPipe).sun_path);
    }

    bool Open() {
        ::mkdir(SocketDirectory().c_str(), 0700);
        if (!DirectoryTrusted()) return false;
        m_listenPush = Listen(kPushPipe);
        m_listenRequest = Listen(kRequestPipe);
        if (!m_listenPush.valid() || !m_listenRequest.valid()) return false;
        m_polls = {{0, POLLIN, 0}, {m_listenPush.get(), POLLIN, 0}, {m_listenRequest.get(), POLLIN, 0}};
        m_links.resize(3);
        return true;
    }

    int Run() {
        for (;;) {
            if (::poll(m_polls.data(), m_polls.size(), -1) < 0) continue;
            if (m_polls[0].revents && !ReadCommands()) return 0;
            if (m_polls[1].revents) Accept(m_listenPush, Link::Push);
            if (m_polls[2].revents) Accept(m_listenRequest, Link::Request);
            for (std::size_t i = 3; i < m_polls.size();) {
                if (m_polls[i].revents && !Serve(i)) {
                    Drop(i);
                    continue;
                }
                ++i;
            }
        }
    }

private:
    enum class Link { None, Push, Request };
    struct Connection {
        Fd fd;
        Link kind = Link::None;
        bool recording = false;
    };

    void Accept(const Fd& listener, Link kind) {
        Fd fd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!fd.valid()) return;
        m_polls.push_back({fd.get(), POLLIN, 0});
        // The first request pipe is the library's first handshake.
        const bool record = kind == Link::Request && !m_recordPath.empty() && !m_recordStarted;
        m_recordStarted = m_recordStarted || record;
        m_links.push_back({std::move(fd), kind, record});
    }

    void Drop(std::size_t i) {
        if (m_links[i].recording) {
            if (WriteRecording(m_recordPath, m_recorded)) std::printf("recorded\n");
            std::fflush(stdout);
            PreparePushes();
        }
        m_polls.erase(m_polls.begin() + static_cast<long>(i));
        m_links.erase(m_links.begin() + static_cast<long>(i));
    }

    // One request, one reply; false when the client has gone. A push pipe
    // is readable only when its client has gone.
    bool Serve(std::size_t i) {
        Connection& link = m_links[i];
        if (link.kind == Link::Push) return false;
        const ssize_t got = ::recv(link.fd.get(), m_buffer, sizeof m_buffer, 0);
        if (got <= 0) return false;
        const Units request = View(m_buffer, static_cast<std::size_t>(got));
        const Message& reply = request.find(wire::kReadRequestOpen) != Units::npos ? m_readReply : m_ackReply;
        if (link.recording) m_recorded.emplace_back(m_buffer, m_buffer + got);
        return ::send(link.fd.get(), reply.data(), reply.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(reply.size());
    }

    // The battery key is the one the library asked for in its handshake.
    void PreparePushes() {
        for (const Message& request : m_recorded) {
            Units key;
            const Units text = View(request.data(), request.size());
            if (!CutValue(text, key) || key.size() < kPushedKeyEnd.size() ||
                key.substr(key.size() - kPushedKeyEnd.size()) != kPushedKeyEnd)
                continue;
            for (int value = 0; value < kPushValues; ++value)
                m_pushes.push_back(Bytes(u"{\"" + std::u16string(key) + u"\":\"" + Digits(value) + u"\"}"));
            return;
        }
    }

    // Blocking sends: when a client's pipe is full, the service waits for
    // it, so the rate is the slower side's.
    void Push(long count) {
        if (m_pushes.empty()) return;
        for (long n = 0; n < count; ++n) {
            const Message& push = m_pushes[static_cast<std::size_t>(n % kPushValues)];
            for (const Connection& link : m_links)
                if (link.kind == Link::Push) ::send(link.fd.get(), push.data(), push.size(), MSG_NOSIGNAL);
        }
    }

    // 15 digits: a version text holds at most 15 units.
    void Stamp(long count, long gapMicroseconds, const std::string& key) {
        using Clock = std::chrono::steady_clock;
        const std::u16string opening = u"{\"" + std::u16string(key.begin(), key.end()) + u"\":\"";
        const auto start = Clock::now();
        for (long n = 0; n < count; ++n) {
            if (gapMicroseconds > 0) std::this_thread::sleep_until(start + std::chrono::microseconds(gapMicroseconds * n));
            const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
            const Message push = Bytes(opening + Digits(static_cast<long long>(now.count() % 1000000000000000LL)) + u"\"}");
            for (const Connection& link : m_links)
                if (link.kind == Link::Push) ::send(link.fd.get(), push.data(), push.size(), MSG_NOSIGNAL);
        }
    }

    bool ReadCommands() {
        char chunk[256];
        const ssize_t got = ::read(0, chunk, sizeof chunk);
        if (got <= 0) return false;
        m_commands.append(chunk, static_cast<std::size_t>(got));
        for (std::size_t end; (end = m_commands.find('\n')) != std::string::npos;) {
            const std::string line = m_commands.substr(0, end);
            m_commands.erase(0, end + 1);
            if (line.rfind("push ", 0) == 0) Push(std::atol(line.c_str() + 5));
            std::istringstream stamp(line);
            std::string word, key;
            long count = 0, gap = 0;
            if (stamp >> word >> count >> gap >> key && word == "stamp") Stamp(count, gap, key);
        }
        return true;
    }

    const std::string m_recordPath;
    bool m_recordStarted = false;
    std::vector<Message> m_recorded;
    std::vector<Message> m_pushes;
    const Message m_ackReply = Bytes(wire::kWriteReplyMark);
    const Message m_readReply = Bytes(kReadReply);
    Fd m_listenPush, m_listenRequest;
    std::vector<pollfd> m_polls;      // standard input, the two listeners, then one per connection
    std::vector<Connection> m_links;  // beside m_polls, entry for entry
    std::string m_commands;
    alignas(char16_t) char m_buffer[1 << 16];
};

}  // namespace

int main(int argc, char** argv) {
    std::string recordPath;
    if (argc == 3 && std::strcmp(argv[1], "--record") == 0) recordPath = argv[2];
    static Service service(recordPath);  // static: its receive buffer is large
    if (!service.Open()) {
        std::fprintf(stderr, "ptsa_bench_service: cannot listen in %s\n", SocketDirectory().c_str());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return service.Run();
}
