// The settings service proper: answers requests, stores writes, pushes
// changes to the other clients, records keystrokes, and misbehaves when
// told to. It sees the pipes only through Transport.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "faults.h"
#include "settings.h"
#include "transport.h"

namespace settings_service {

using Clock = std::chrono::steady_clock;

// One line of the control channel.
struct Command {
    enum class Kind { Push, Key, Set, Raw, ClosePushes, Quit };
    Kind kind = Kind::Quit;
    Text key;
    Text value;  // the value, the keystroke text, or the raw message
};

// What the control channel may wait for, shared across threads.
class Progress {
public:
    void CountHandshake();
    // False when the service stops first.
    bool WaitForHandshakes(std::uint64_t count);
    void Stop();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_handshakes = 0;
    bool m_stopped = false;
};

class Service {
public:
    Service(Transport& transport, Settings settings, Faults faults, Progress& progress, bool trace);

    void OnAccepted(ConnectionId id, Pipe pipe, std::uint32_t peerProcess);
    void OnReceived(ConnectionId id, const std::string& bytes);
    void OnClosed(ConnectionId id);
    void Execute(const Command& command);

    // Runs what is due (delayed replies, timed pushes) and tells how long
    // the transport may wait: milliseconds, or -1 for no limit.
    int RunDue(Clock::time_point now);

    // Set once the service is to end.
    std::optional<int> ExitCode() const { return m_exitCode; }

private:
    struct Connection {
        Pipe pipe;
        std::uint32_t process;
        std::uint64_t requests = 0;
        std::deque<Text> inbox;
        // A reply held back by the delay fault; the inbox waits behind it.
        std::optional<std::string> heldReply;
        Clock::time_point heldUntil;
        Request::Kind heldKind = Request::Kind::Malformed;
        bool inHandshake = false;
        std::int64_t handshakeReads = 0;
    };

    void Pump(ConnectionId id);
    Text Answer(const Request& request, std::uint32_t writer);
    void Deliver(ConnectionId id, std::string reply, Request::Kind kind);
    void Store(const Text& key, const Text& value, std::optional<std::uint32_t> writer);
    void PushToClients(const std::string& bytes, std::optional<std::uint32_t> except);
    void PushBattery();
    void Trace(const char* direction, ConnectionId id, const std::string& bytes) const;

    Transport& m_transport;
    Settings m_settings;
    Faults m_faults;
    Progress& m_progress;
    bool m_trace;
    std::map<ConnectionId, Connection> m_connections;
    std::optional<int> m_exitCode;

    std::optional<Clock::time_point> m_pushTrainStart;
    std::uint64_t m_pushesDone = 0;
};

}  // namespace settings_service
