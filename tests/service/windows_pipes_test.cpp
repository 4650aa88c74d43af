// Tests of the settings service's Windows pipes, with a raw client that
// reads as the library does: overlapped, in 1024-byte pieces, in message
// read mode. Each test starts the service (the program named by the first
// argument) with a session of its own.
#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring g_servicePath;

const std::wstring kVersionKey = L"ComponentsDriver\\\\ServiceVersion";
const std::wstring kTiltKey = L"ComponentsDriver\\\\PenHandler\\\\PenTransducer\\\\TiltSensitivity";
const std::wstring kAck = L"{\"Ack\":\"1\"}";
const std::wstring kHandshake = L"{\"Connected\":\"?\"}";

std::wstring ReadRequest(const std::wstring& key) { return L"{\"GetVal\":\"" + key + L"\"}"; }
std::wstring WriteRequest(const std::wstring& key, const std::wstring& value) {
    return L"{\"" + key + L"\":\"" + value + L"\"}";
}
std::wstring ReadReply(const std::wstring& value) { return L"{\"Val\":\"" + value + L"\"}"; }

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

struct Handle {
    explicit Handle(HANDLE value = INVALID_HANDLE_VALUE) : value(value) {}
    Handle(const Handle&) = delete;
    Handle(Handle&& other) noexcept : value(other.value) { other.value = INVALID_HANDLE_VALUE; }
    ~Handle() {
        if (value && value != INVALID_HANDLE_VALUE) CloseHandle(value);
    }
    HANDLE value;
};

// One message, read whole piece by piece, as the library reads it.
struct Message {
    enum class Status { Complete, Closed, TimedOut } status = Status::Complete;
    std::string bytes;
    int pieces = 0;
    std::wstring Text() const {
        std::wstring text;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
        }
        return text;
    }
};

Message ReadMessage(HANDLE pipe, DWORD timeoutMs = 5000) {
    Message message;
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    char piece[1024];
    for (;;) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.value;
        ResetEvent(event.value);
        // A read that fails at once signals nothing.
        if (!ReadFile(pipe, piece, sizeof piece, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING &&
            GetLastError() != ERROR_MORE_DATA) {
            message.status = Message::Status::Closed;
            return message;
        }
        DWORD bytes = 0;
        if (WaitForSingleObject(event.value, timeoutMs) != WAIT_OBJECT_0) {
            CancelIoEx(pipe, &overlapped);
            GetOverlappedResult(pipe, &overlapped, &bytes, TRUE);
            message.status = Message::Status::TimedOut;
            return message;
        }
        const DWORD error = GetOverlappedResult(pipe, &overlapped, &bytes, FALSE) ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) {
            message.status = Message::Status::Closed;
            return message;
        }
        message.bytes.append(piece, bytes);
        ++message.pieces;
        if (error == ERROR_SUCCESS) return message;
    }
}

bool WriteMessage(HANDLE pipe, const std::wstring& text) {
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.value;
    if (!WriteFile(pipe, text.data(), static_cast<DWORD>(text.size() * 2), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    DWORD bytes = 0;
    return WaitForSingleObject(event.value, 5000) == WAIT_OBJECT_0 &&
           GetOverlappedResult(pipe, &overlapped, &bytes, FALSE) && bytes == text.size() * 2;
}

std::wstring PipeName(bool sendOnly, const std::wstring& session) {
    return (sendOnly ? L"\\\\.\\pipe\\PevraSettingsSyncherSendOnly_" : L"\\\\.\\pipe\\PevraSettingsSyncher_") + session;
}

// Opens a pipe as the library does, in message read mode; when every
// instance is taken, waits for a free one as a patient client would.
HANDLE OpenPipe(bool sendOnly, const std::wstring& session, DWORD extraAccess = 0) {
    const DWORD access = (sendOnly ? GENERIC_READ | FILE_WRITE_ATTRIBUTES : GENERIC_READ | GENERIC_WRITE) | extraAccess;
    const std::wstring name = PipeName(sendOnly, session);
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 20 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = CreateFileW(name.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe == INVALID_HANDLE_VALUE && (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(name.c_str(), 1000))) break;
    }
    if (pipe == INVALID_HANDLE_VALUE) return pipe;
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
        CloseHandle(pipe);
        return INVALID_HANDLE_VALUE;
    }
    return pipe;
}

// Both pipes of one client.
struct Client {
    Handle pushes;
    Handle requests;
    Client(HANDLE pushes, HANDLE requests) : pushes(pushes), requests(requests) {}
    bool Open() const { return pushes.value != INVALID_HANDLE_VALUE && requests.value != INVALID_HANDLE_VALUE; }
    Message Exchange(const std::wstring& request) {
        if (!WriteMessage(requests.value, request)) return {Message::Status::Closed};
        return ReadMessage(requests.value);
    }
    std::wstring Reply(const std::wstring& request) { return Exchange(request).Text(); }
    Message Push(DWORD timeoutMs = 5000) { return ReadMessage(pushes.value, timeoutMs); }
};

// A child process with its standard input and output on pipes.
struct Child {
    PROCESS_INFORMATION process{};
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    bool started = false;

    explicit Child(std::wstring command) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE inputRead, outputWrite;
        CreatePipe(&inputRead, &input, &inherit, 0);
        CreatePipe(&output, &outputWrite, &inherit, 0);
        SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{sizeof startup};
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inputRead;
        startup.hStdOutput = outputWrite;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        CloseHandle(inputRead);
        CloseHandle(outputWrite);
    }
    Child(const Child&) = delete;
    ~Child() {
        CloseInput();
        if (started) {
            if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        CloseHandle(output);
    }
    std::string ReadLine() {
        std::string line;
        char c;
        DWORD read = 0;
        while (ReadFile(output, &c, 1, &read, nullptr) && read == 1 && c != '\n') {
            if (c != '\r') line += c;
        }
        return line;
    }
    void Write(const std::string& text) {
        DWORD written;
        WriteFile(input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    void CloseInput() {
        if (input) CloseHandle(input);
        input = nullptr;
    }
    // The exit code, or STILL_ACTIVE when it does not end in time.
    DWORD ExitCode(DWORD timeoutMs = 5000) {
        DWORD code = STILL_ACTIVE;
        WaitForSingleObject(process.hProcess, timeoutMs);
        GetExitCodeProcess(process.hProcess, &code);
        return code;
    }
};

std::wstring ThisProgram() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring NewSession() {
    static int started = 0;
    return std::to_wstring(700000000 + (GetCurrentProcessId() % 100000) * 100 + started++ % 100);
}

// The service of a fresh session, controlled through its standard input.
class Service {
public:
    explicit Service(const std::wstring& arguments = L"", const std::wstring& session = NewSession())
        : m_session(session),
          m_child(L"\"" + g_servicePath + L"\" --stdin-control --session " + session + L" " + arguments +
                  (_wgetenv(L"SETTINGS_SERVICE_TRACE") ? L" --trace" : L"")) {}

    bool Ready() { return m_child.started && m_child.ReadLine() == "ready"; }
    const std::wstring& Session() const { return m_session; }
    void Command(const std::string& line) { m_child.Write(line + "\n"); }
    void EndInput() { m_child.CloseInput(); }
    DWORD ExitCode(DWORD timeoutMs = 5000) { return m_child.ExitCode(timeoutMs); }

    Client Connect() const { return Client(OpenPipe(true, m_session), OpenPipe(false, m_session)); }

    // A client whose pipes another process opened, so the service sees
    // another process id: this program, run as a helper, opens them and
    // hands them over.
    Client ConnectFromOtherProcess() const {
        Child helper(L"\"" + ThisProgram() + L"\" --open-pipes " + m_session);
        unsigned long long values[2] = {0, 0};
        if (!helper.started || std::sscanf(helper.ReadLine().c_str(), "%llu %llu", &values[0], &values[1]) != 2) {
            return Client(INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE);
        }
        HANDLE taken[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
        for (int i = 0; i < 2; ++i) {
            DuplicateHandle(helper.process.hProcess, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(values[i])),
                            GetCurrentProcess(), &taken[i], 0, FALSE, DUPLICATE_SAME_ACCESS);
        }
        return Client(taken[0], taken[1]);
    }

private:
    std::wstring m_session;
    Child m_child;
};

// The helper's side: opens both pipes, prints their handle values and
// keeps them until its standard input ends.
int OpenPipesForParent(const std::wstring& session) {
    HANDLE pushes = OpenPipe(true, session);
    HANDLE requests = OpenPipe(false, session);
    std::printf("%llu %llu\n", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(pushes)),
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(requests)));
    std::fflush(stdout);
    char c;
    DWORD read;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &read, nullptr) && read == 1) {
    }
    return 0;
}

std::wstring Letters(std::size_t length) {
    std::wstring text;
    for (std::size_t i = 0; i < length; ++i) text += static_cast<wchar_t>(L'A' + i % 26);
    return text;
}

TEST(WindowsPipes, AnswersHandshakeReadsAndWrites) {
    Service service;
    ASSERT_TRUE(service.Ready());
    Client client = service.Connect();
    ASSERT_TRUE(client.Open());
    EXPECT_EQ(client.Reply(kHandshake), kAck);
    EXPECT_EQ(client.Reply(ReadRequest(kVersionKey)), ReadReply(L"3.1.0"));
    EXPECT_EQ(client.Reply(WriteRequest(kTiltKey, L"7")), kAck);
    EXPECT_EQ(client.Reply(ReadRequest(kTiltKey)), ReadReply(L"7"));
    EXPECT_EQ(client.Reply(ReadRequest(L"Unknown")), ReadReply(L""));
    EXPECT_EQ(client.Reply(L"nonsense"), L"{\"Ack\":\"0\"}");
}

TEST(WindowsPipes, PushesAWriteToOtherProcessesOnly) {
    Service service;
    ASSERT_TRUE(service.Ready());
    Client writer = service.Connect();
    Client other = service.ConnectFromOtherProcess();
    ASSERT_TRUE(writer.Open() && other.Open());
    ASSERT_EQ(other.Reply(kHandshake), kAck);
    ASSERT_EQ(writer.Reply(WriteRequest(kTiltKey, L"3")), kAck);
    EXPECT_EQ(other.Push().Text(), WriteRequest(kTiltKey, L"3"));
    EXPECT_EQ(writer.Push(300).status, Message::Status::TimedOut);
}

TEST(WindowsPipes, LongMessagesArriveWholeInPieces) {
    Service service;
    ASSERT_TRUE(service.Ready());
    Client writer = service.Connect();
    Client other = service.ConnectFromOtherProcess();
    ASSERT_TRUE(writer.Open() && other.Open());
    ASSERT_EQ(other.Reply(kHandshake), kAck);
    // Beyond one 1024-byte piece, and beyond the pipe's own buffer.
    for (std::size_t length : {600u, 70000u}) {
        const std::wstring value = Letters(length);
        ASSERT_EQ(writer.Reply(WriteRequest(L"RunAppOptionsList", value)), kAck);
        const Message push = other.Push();
        EXPECT_EQ(push.Text(), WriteRequest(L"RunAppOptionsList", value));
        EXPECT_EQ(push.pieces, static_cast<int>((push.bytes.size() + 1023) / 1024));
        EXPECT_EQ(writer.Reply(ReadRequest(L"RunAppOptionsList")), ReadReply(value));
    }
}

TEST(WindowsPipes, WaitsAndShortVisitsLeaveTheServiceServing) {
    Service service;
    ASSERT_TRUE(service.Ready());
    EXPECT_TRUE(WaitNamedPipeW(PipeName(true, service.Session()).c_str(), 1000));
    EXPECT_FALSE(WaitNamedPipeW(PipeName(true, NewSession()).c_str(), 1));
    for (int i = 0; i < 10; ++i) Handle visit(OpenPipe(true, service.Session()));
    Client client = service.Connect();
    ASSERT_TRUE(client.Open());
    EXPECT_EQ(client.Reply(kHandshake), kAck);
}

TEST(WindowsPipes, ServesManyClientsAtOnce) {
    Service service;
    ASSERT_TRUE(service.Ready());
    std::vector<Client> clients;
    for (int i = 0; i < 12; ++i) clients.push_back(service.Connect());
    for (Client& client : clients) {
        ASSERT_TRUE(client.Open());
        EXPECT_EQ(client.Reply(kHandshake), kAck);
    }
}

TEST(WindowsPipes, AdmitsOnlyTheCurrentUser) {
    Service service;
    ASSERT_TRUE(service.Ready());
    for (bool sendOnly : {true, false}) {
        Handle pipe(OpenPipe(sendOnly, service.Session(), READ_CONTROL));
        ASSERT_NE(pipe.value, INVALID_HANDLE_VALUE);
        PSID owner = nullptr;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(GetSecurityInfo(pipe.value, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &dacl, nullptr, &descriptor),
                  static_cast<DWORD>(ERROR_SUCCESS));
        Handle token;
        ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.value));
        std::vector<unsigned char> user(256);
        DWORD size = 0;
        ASSERT_TRUE(GetTokenInformation(token.value, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size));
        PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        EXPECT_TRUE(EqualSid(owner, sid));
        ASSERT_NE(dacl, nullptr);
        ASSERT_EQ(dacl->AceCount, 1);
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_TRUE(EqualSid(&ace->SidStart, sid));
        LocalFree(descriptor);
    }
}

TEST(WindowsPipes, SecondServiceOfASessionIsRefused) {
    Service first;
    ASSERT_TRUE(first.Ready());
    Service second(L"", first.Session());
    EXPECT_EQ(second.ExitCode(), 1u);
    Client client = first.Connect();
    ASSERT_TRUE(client.Open());
    EXPECT_EQ(client.Reply(kHandshake), kAck);
}

TEST(WindowsPipes, ControlChannelSetsAndEndOfInputQuits) {
    Service service;
    ASSERT_TRUE(service.Ready());
    Client client = service.Connect();
    ASSERT_EQ(client.Reply(kHandshake), kAck);
    service.Command("set " + std::string(kTiltKey.begin(), kTiltKey.end()) + " 12");
    EXPECT_EQ(client.Push().Text(), WriteRequest(kTiltKey, L"12"));
    service.EndInput();
    EXPECT_EQ(service.ExitCode(), 0u);
    EXPECT_EQ(client.Push().status, Message::Status::Closed);
}

TEST(WindowsPipes, RepliesWrittenBeforeAClosingArrive) {
    Service closing(L"--close-after 2");
    ASSERT_TRUE(closing.Ready());
    Client client = closing.Connect();
    EXPECT_EQ(client.Reply(kHandshake), kAck);
    EXPECT_EQ(client.Reply(ReadRequest(kVersionKey)), ReadReply(L"3.1.0"));
    EXPECT_EQ(ReadMessage(client.requests.value).status, Message::Status::Closed);

    Service dying(L"--die-in-handshake 1");
    ASSERT_TRUE(dying.Ready());
    Client early = dying.Connect();
    EXPECT_EQ(early.Reply(kHandshake), kAck);
    EXPECT_EQ(early.Reply(ReadRequest(kVersionKey)), ReadReply(L"3.1.0"));
    EXPECT_EQ(dying.ExitCode(), 0u);
    EXPECT_EQ(early.Push().status, Message::Status::Closed);
}

TEST(WindowsPipes, OddBytesAndLongReplies) {
    Service service(L"--odd-bytes --long-reply 700");
    ASSERT_TRUE(service.Ready());
    Client client = service.Connect();
    const Message reply = client.Exchange(ReadRequest(kVersionKey));
    EXPECT_EQ(reply.bytes.size(), 1401u);
    EXPECT_EQ(reply.Text(), std::wstring(700 - ReadReply(L"3.1.0").size(), L'x') + ReadReply(L"3.1.0"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--open-pipes") return OpenPipesForParent(Widen(argv[2]));
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SERVICE.exe [gtest flags]\n", argv[0]);
        return 2;
    }
    g_servicePath = Widen(argv[1]);
    return RUN_ALL_TESTS();
}
