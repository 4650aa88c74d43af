#include "service.h"

#include <algorithm>
#include <iostream>
#include <vector>

namespace settings_service {

using Kind = Request::Kind;

void Progress::CountHandshake() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_handshakes;
    }
    m_changed.notify_all();
}

bool Progress::WaitForHandshakes(std::uint64_t count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopped || m_handshakes >= count; });
    return m_handshakes >= count;
}

void Progress::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
}

Service::Service(Transport& transport, Settings settings, Faults faults, Progress& progress, bool trace)
    : m_transport(transport), m_settings(std::move(settings)), m_faults(faults), m_progress(progress), m_trace(trace) {}

void Service::OnAccepted(ConnectionId id, Pipe pipe, std::uint32_t peerProcess) {
    if (m_trace) {
        std::cerr << "settings-service: #" << id << " process " << peerProcess << " connected to the "
                  << (pipe == Pipe::Request ? "request" : "send-only") << " pipe\n";
    }
    if (pipe == Pipe::Request && m_faults.closeAfter == 0) {
        m_transport.Close(id);
        return;
    }
    m_connections[id] = Connection{pipe, peerProcess};
}

void Service::OnReceived(ConnectionId id, const std::string& bytes) {
    auto found = m_connections.find(id);
    if (found == m_connections.end()) return;
    Trace("<", id, bytes);
    if (found->second.pipe == Pipe::SendOnly) return;  // nothing is read from a send-only pipe
    found->second.inbox.push_back(FromWire(bytes));
    Pump(id);
}

void Service::OnClosed(ConnectionId id) {
    if (m_trace) std::cerr << "settings-service: #" << id << " closed\n";
    m_connections.erase(id);
}

// Answers the waiting requests of one connection in order, stopping behind
// a reply that the delay fault holds back.
void Service::Pump(ConnectionId id) {
    while (!m_exitCode) {
        auto found = m_connections.find(id);
        if (found == m_connections.end()) return;
        Connection& connection = found->second;
        if (connection.heldReply || connection.inbox.empty()) return;
        const Request request = ParseRequest(connection.inbox.front());
        connection.inbox.pop_front();
        const bool selected = m_faults.Selects(++connection.requests);
        const Text reply = Answer(request, connection.process);
        std::string bytes = selected ? m_faults.ShapeReply(request.kind, reply) : ToWire(reply);
        if (selected && m_faults.delayReplyMs > 0) {
            connection.heldReply = std::move(bytes);
            connection.heldUntil = Clock::now() + std::chrono::milliseconds(m_faults.delayReplyMs);
            connection.heldKind = request.kind;
            return;
        }
        Deliver(id, std::move(bytes), request.kind);
    }
}

Text Service::Answer(const Request& request, std::uint32_t writer) {
    switch (request.kind) {
    case Kind::Handshake:
        return kAck;
    case Kind::Read:
        return ReadReply(m_settings.Read(request.key));
    case Kind::Write:
        Store(request.key, request.value, writer);
        return kAck;
    case Kind::Malformed:
        break;
    }
    std::cerr << "settings-service: refused a request of no known form\n";
    return kRefusal;
}

void Service::Deliver(ConnectionId id, std::string reply, Kind kind) {
    Connection& connection = m_connections.at(id);
    Trace(">", id, reply);
    m_transport.Send(id, std::move(reply));

    if (kind == Kind::Handshake) {
        connection.inHandshake = true;
        connection.handshakeReads = 0;
        m_progress.CountHandshake();
        if (m_faults.pushRate > 0 && !m_pushTrainStart) m_pushTrainStart = Clock::now();
    } else if (kind == Kind::Read && connection.inHandshake) {
        ++connection.handshakeReads;
    } else {
        connection.inHandshake = false;
    }

    if (connection.inHandshake && connection.handshakeReads == m_faults.dieInHandshake) {
        std::cerr << "settings-service: exiting after the handshake and " << connection.handshakeReads
                  << " read requests, as told\n";
        m_exitCode = 0;
        return;
    }
    if (static_cast<std::int64_t>(connection.requests) == m_faults.closeAfter) {
        if (m_trace) std::cerr << "settings-service: #" << id << " closed after " << m_faults.closeAfter << " requests, as told\n";
        m_transport.Close(id);
        m_connections.erase(id);
    }
}

// Stores a value and pushes it to every client but the writer. Starting a
// key capture also empties the captured keystrokes, for every client.
void Service::Store(const Text& key, const Text& value, std::optional<std::uint32_t> writer) {
    m_settings.Write(key, value);
    // An unknown process id cannot tell clients apart: then nobody is skipped.
    if (writer == 0u) writer.reset();
    PushToClients(m_faults.ShapePush(key, value), writer);
    if (key == kCaptureSwitchKey && value == u"1") Store(kCapturedKeysKey, Text(), std::nullopt);
}

void Service::PushToClients(const std::string& bytes, std::optional<std::uint32_t> except) {
    for (const auto& [id, connection] : m_connections) {
        if (connection.pipe != Pipe::SendOnly || connection.process == except) continue;
        Trace(">", id, bytes);
        m_transport.Send(id, bytes);
    }
}

void Service::Execute(const Command& command) {
    switch (command.kind) {
    case Command::Kind::Push:
        PushToClients(m_faults.ShapePush(command.key, command.value), std::nullopt);
        break;
    case Command::Kind::Raw:
        PushToClients(ToWire(command.value), std::nullopt);
        break;
    case Command::Kind::Set:
        Store(command.key, command.value, std::nullopt);
        break;
    case Command::Kind::Key:
        if (m_settings.Recording()) {
            Store(kCapturedKeysKey, m_settings.Read(kCapturedKeysKey) + command.value, std::nullopt);
        } else {
            std::cerr << "settings-service: not recording keystrokes; \"key\" ignored\n";
        }
        break;
    case Command::Kind::ClosePushes:
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (it->second.pipe != Pipe::SendOnly) {
                ++it;
                continue;
            }
            m_transport.Close(it->first);
            it = m_connections.erase(it);
        }
        break;
    case Command::Kind::Quit:
        m_exitCode = 0;
        break;
    }
}

// The battery runs down by one per push and starts again at 100 after 0.
void Service::PushBattery() {
    const long level = LeadingInteger(m_settings.Read(kBatteryStatusKey));
    const int next = level <= 0 || level > 100 ? 100 : level - 1;
    Store(kBatteryStatusKey, FromUtf8(std::to_string(next)), std::nullopt);
}

int Service::RunDue(Clock::time_point now) {
    std::optional<Clock::time_point> next;
    auto consider = [&](Clock::time_point when) {
        if (!next || when < *next) next = when;
    };

    std::vector<ConnectionId> due;
    for (const auto& [id, connection] : m_connections) {
        if (!connection.heldReply) continue;
        if (connection.heldUntil <= now) {
            due.push_back(id);
        } else {
            consider(connection.heldUntil);
        }
    }
    for (ConnectionId id : due) {
        if (m_exitCode) break;
        Connection& connection = m_connections.at(id);
        std::string reply = std::move(*connection.heldReply);
        connection.heldReply.reset();
        Deliver(id, std::move(reply), connection.heldKind);
        Pump(id);
        auto found = m_connections.find(id);
        if (found != m_connections.end() && found->second.heldReply) consider(found->second.heldUntil);
    }

    if (m_pushTrainStart && !m_exitCode) {
        const std::chrono::duration<double> period(1.0 / m_faults.pushRate);
        // A train that has fallen behind goes on in bursts, with the
        // requests answered in between: replies never wait for the backlog.
        constexpr int kPushBurst = 64;
        for (int sent = 0;; ++sent) {
            if (m_faults.pushCount != 0 && m_pushesDone >= m_faults.pushCount) break;
            if (sent == kPushBurst) {
                consider(now);
                break;
            }
            const auto when = *m_pushTrainStart + std::chrono::duration_cast<Clock::duration>(period * double(m_pushesDone + 1));
            if (when > now) {
                consider(when);
                break;
            }
            PushBattery();
            ++m_pushesDone;
        }
    }

    if (!next) return -1;
    // Waking once a minute at the latest keeps the count within an int.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
    return static_cast<int>(std::clamp<std::int64_t>(wait, 0, 60000));
}

void Service::Trace(const char* direction, ConnectionId id, const std::string& bytes) const {
    if (!m_trace) return;
    std::cerr << "settings-service: #" << id << ' ' << direction << ' ' << ToUtf8(FromWire(bytes))
              << (bytes.size() % 2 ? " (+1 byte)" : "") << '\n';
}

}  // namespace settings_service
