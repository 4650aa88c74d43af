// The pipes on Windows: message-mode named pipes, overlapped, served
// through one I/O completion port. Every connection keeps a read pending,
// so a client that goes away is noticed at once; a listening instance of
// each pipe waits for the next client.
#include "transport.h"

#include <windows.h>

#include <cstdio>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace settings_service {

namespace {

const wchar_t* const kPipeNames[] = {L"\\\\.\\pipe\\PevraSettingsSyncher_", L"\\\\.\\pipe\\PevraSettingsSyncherSendOnly_"};
constexpr DWORD kPiece = 64 * 1024;
constexpr DWORD kPipeBuffer = 64 * 1024;
constexpr ULONG_PTR kWakeKey = 1;
// Instances of each pipe that wait for clients, so that clients who come
// close together find one free.
constexpr int kListeners = 4;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string SystemError(const std::string& what, DWORD error = GetLastError()) {
    return what + " failed with error " + std::to_string(error);
}

// One port for the process, never closed, so that the console handler may
// post to it at any time.
HANDLE Port() {
    static const HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    return port;
}

void WakeProcess() { PostQueuedCompletionStatus(Port(), 0, kWakeKey, nullptr); }

// A security descriptor whose only entry gives the current user full access:
// nobody else may open or create an instance of the pipes.
class UserOnlySecurity {
public:
    std::string Build() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return SystemError("OpenProcessToken");
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        m_user.resize(size);
        const BOOL got = GetTokenInformation(token, TokenUser, m_user.data(), size, &size);
        CloseHandle(token);
        if (!got) return SystemError("GetTokenInformation");
        PSID sid = reinterpret_cast<TOKEN_USER*>(m_user.data())->User.Sid;
        m_acl.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        ACL* acl = reinterpret_cast<ACL*>(m_acl.data());
        if (!InitializeAcl(acl, static_cast<DWORD>(m_acl.size()), ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) ||
            !InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorOwner(&m_descriptor, sid, FALSE) ||
            !SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE)) {
            return SystemError("building the pipes' security descriptor");
        }
        m_attributes = {sizeof m_attributes, &m_descriptor, FALSE};
        return {};
    }
    SECURITY_ATTRIBUTES* Attributes() { return &m_attributes; }

private:
    std::vector<unsigned char> m_user;
    std::vector<unsigned char> m_acl;
    SECURITY_DESCRIPTOR m_descriptor{};
    SECURITY_ATTRIBUTES m_attributes{};
};

struct Instance;

struct Operation {
    enum class Kind { Connect, Read, Write };
    OVERLAPPED overlapped{};
    Kind kind;
    Instance* instance;
};

// One pipe instance: listening while `id` is 0, then a client's connection.
struct Instance {
    Instance(HANDLE handle, Pipe role) : pipe(handle), role(role) {}
    ~Instance() { CloseHandle(pipe); }

    HANDLE pipe;
    Pipe role;
    ConnectionId id = 0;
    Operation connecting{{}, Operation::Kind::Connect, this};
    Operation reading{{}, Operation::Kind::Read, this};
    Operation writing{{}, Operation::Kind::Write, this};
    int pending = 0;  // operations whose completion has not come back
    std::vector<char> piece = std::vector<char>(kPiece);
    std::string message;  // the pieces of the message being read
    std::deque<std::string> outgoing;
    bool writeInFlight = false;
    bool closeWhenWritten = false;
    bool closed = false;  // cancelled; freed once nothing is pending
};

class WinTransport final : public QueuedTransport {
public:
    ~WinTransport() override {
        const std::vector<Instance*> all(m_instances.begin(), m_instances.end());
        for (Instance* instance : all) Shut(*instance);
        // The system writes into an operation until it completes: drain
        // the port before the instances are freed.
        const DWORD deadline = GetTickCount() + 1000;
        while (!m_instances.empty() && static_cast<LONG>(deadline - GetTickCount()) > 0) Complete(100);
    }

    std::string Listen(const std::string& session, bool withRequestPipe, bool withSendOnlyPipe) override {
        if (!Port()) return SystemError("CreateIoCompletionPort");
        if (std::string error = m_security.Build(); !error.empty()) return error;
        for (Pipe pipe : {Pipe::Request, Pipe::SendOnly}) {
            if (!(pipe == Pipe::Request ? withRequestPipe : withSendOnlyPipe)) continue;
            const std::wstring& name = m_names[int(pipe)] = kPipeNames[int(pipe)] + std::wstring(session.begin(), session.end());
            // A name that exists belongs to a running service: the pipes of
            // a session are not shared.
            if (WaitNamedPipeW(name.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
                return "another service already serves " + Narrow(name);
            }
            for (int i = 0; i < kListeners; ++i) {
                if (std::string error = AddListener(pipe, i == 0); !error.empty()) return error;
            }
        }
        return {};
    }

    void Send(ConnectionId id, std::string bytes) override {
        auto found = m_connections.find(id);
        if (found == m_connections.end()) return;
        found->second->outgoing.push_back(std::move(bytes));
        WriteNext(*found->second);
    }

    void Close(ConnectionId id) override {
        auto found = m_connections.find(id);
        if (found == m_connections.end()) return;
        Instance& instance = *found->second;
        m_connections.erase(found);
        instance.closeWhenWritten = true;
        if (!instance.writeInFlight) Shut(instance);
    }

    void Flush(int timeoutMs) override {
        const DWORD deadline = GetTickCount() + static_cast<DWORD>(timeoutMs);
        for (;;) {
            bool writing = false;
            for (Instance* instance : m_instances) writing = writing || instance->writeInFlight;
            const LONG left = static_cast<LONG>(deadline - GetTickCount());
            if (!writing || left <= 0) return;
            Complete(static_cast<DWORD>(left));
        }
    }

    void Wake() override { WakeProcess(); }

private:
    // Adds an instance that waits for a client. A client that came and went
    // before the instance could take it leaves it useless: then another.
    std::string AddListener(Pipe role, bool first = false) {
        DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
        if (first) openMode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
        const std::wstring& name = m_names[int(role)];
        for (int attempt = 0; attempt < 8; ++attempt) {
            HANDLE handle = CreateNamedPipeW(name.c_str(), openMode,
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                             PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, m_security.Attributes());
            if (handle == INVALID_HANDLE_VALUE) {
                const DWORD error = GetLastError();
                if (first && error == ERROR_ACCESS_DENIED) return "another service already serves " + Narrow(name);
                return SystemError("CreateNamedPipeW " + Narrow(name), error);
            }
            if (!CreateIoCompletionPort(handle, Port(), 0, 0)) {
                const DWORD error = GetLastError();
                CloseHandle(handle);
                return SystemError("CreateIoCompletionPort", error);
            }
            Instance* instance = new Instance(handle, role);
            m_instances.insert(instance);
            ++instance->pending;
            if (ConnectNamedPipe(handle, &instance->connecting.overlapped)) return {};
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) return {};
            if (error == ERROR_PIPE_CONNECTED) {
                // The client came first: no completion follows by itself.
                PostQueuedCompletionStatus(Port(), 0, 0, &instance->connecting.overlapped);
                return {};
            }
            --instance->pending;
            Shut(*instance);
            if (error != ERROR_NO_DATA) return SystemError("ConnectNamedPipe", error);
        }
        return "ConnectNamedPipe kept failing on " + Narrow(name);
    }

    void Gather(int timeoutMs) override { Complete(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)); }

    // Takes one completion off the port and acts on it.
    void Complete(DWORD timeoutMs) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(Port(), &bytes, &key, &overlapped, timeoutMs);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (!overlapped) {
            if (ok && key == kWakeKey) m_events.push_back({TransportEvent::Type::Woken});
            return;
        }
        Operation& operation = *CONTAINING_RECORD(overlapped, Operation, overlapped);
        Instance& instance = *operation.instance;
        --instance.pending;
        if (instance.closed) {
            Release(instance);
            return;
        }
        switch (operation.kind) {
        case Operation::Kind::Connect:
            return Connected(instance, error);
        case Operation::Kind::Read:
            return Received(instance, error, bytes);
        case Operation::Kind::Write:
            return Written(instance, error);
        }
    }

    void Connected(Instance& instance, DWORD error) {
        // The next client of this pipe needs an instance of its own.
        if (std::string problem = AddListener(instance.role); !problem.empty()) {
            std::cerr << "settings-service: " << problem << '\n';
        }
        if (error != ERROR_SUCCESS) return Shut(instance);
        ULONG process = 0;
        if (!GetNamedPipeClientProcessId(instance.pipe, &process)) process = 0;
        instance.id = m_nextId++;
        m_connections[instance.id] = &instance;
        TransportEvent event{TransportEvent::Type::Accepted, instance.id, instance.role};
        event.peerProcess = process;
        m_events.push_back(std::move(event));
        Read(instance);
    }

    void Read(Instance& instance) {
        instance.reading.overlapped = {};
        ++instance.pending;
        if (!ReadFile(instance.pipe, instance.piece.data(), kPiece, nullptr, &instance.reading.overlapped)) {
            const DWORD error = GetLastError();
            // Pending, or done at once with more to come: a completion follows.
            if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
                --instance.pending;
                Lost(instance);
            }
        }
    }

    void Received(Instance& instance, DWORD error, DWORD bytes) {
        if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) return Lost(instance);
        instance.message.append(instance.piece.data(), bytes);
        if (error == ERROR_SUCCESS && !instance.closeWhenWritten) {
            m_events.push_back({TransportEvent::Type::Received, instance.id, instance.role, 0, std::move(instance.message)});
        }
        if (error == ERROR_SUCCESS) instance.message.clear();
        Read(instance);
    }

    void WriteNext(Instance& instance) {
        if (instance.writeInFlight || instance.closed) return;
        if (instance.outgoing.empty()) {
            if (instance.closeWhenWritten) Shut(instance);
            return;
        }
        const std::string& bytes = instance.outgoing.front();
        instance.writing.overlapped = {};
        ++instance.pending;
        instance.writeInFlight = true;
        if (!WriteFile(instance.pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &instance.writing.overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            --instance.pending;
            instance.writeInFlight = false;
            Lost(instance);
        }
    }

    void Written(Instance& instance, DWORD error) {
        instance.writeInFlight = false;
        if (error != ERROR_SUCCESS) return Lost(instance);
        instance.outgoing.pop_front();
        WriteNext(instance);
    }

    // The client went away: announce it unless the service closed it.
    void Lost(Instance& instance) {
        const bool announce = m_connections.erase(instance.id) != 0;
        if (announce) m_events.push_back({TransportEvent::Type::Closed, instance.id});
        Shut(instance);
    }

    // Cancels what is pending; the handle is closed when the port has
    // returned every operation. Closing, unlike DisconnectNamedPipe, leaves
    // the messages already written readable by the client.
    void Shut(Instance& instance) {
        if (instance.closed) return;
        instance.closed = true;
        m_connections.erase(instance.id);
        CancelIoEx(instance.pipe, nullptr);
        Release(instance);
    }

    void Release(Instance& instance) {
        if (instance.pending > 0) return;
        m_instances.erase(&instance);
        delete &instance;
    }

    UserOnlySecurity m_security;
    std::wstring m_names[2];
    std::set<Instance*> m_instances;
    std::map<ConnectionId, Instance*> m_connections;
    ConnectionId m_nextId = 1;
};

volatile LONG g_stopRequested = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
    InterlockedExchange(&g_stopRequested, 1);
    WakeProcess();
    return TRUE;
}

}  // namespace

std::unique_ptr<Transport> MakeTransport() { return std::make_unique<WinTransport>(); }

void CatchStopRequests() {
    Port();  // made before a handler can need it
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StopRequested() { return InterlockedCompareExchange(&g_stopRequested, 0, 0) != 0; }

std::string CurrentSession() {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return "0";
    return std::to_string(session);
}

}  // namespace settings_service
