// Proves that the emulated Windows-on-ARM64 platform runs what the library
// relies on: threads, C++ exceptions unwinding through std::function on
// several threads, and message-mode named pipes read in overlapped 1024-byte
// pieces. Prints one line per check; the exit code is the number of failures.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void Check(const char* what, bool ok, const std::string& detail = {}) {
    std::printf("%s %s%s%s\n", ok ? "ok    " : "FAILED", what, detail.empty() ? "" : ": ", detail.c_str());
    (ok ? passed : failed)++;
}

void CheckThread() {
    DWORD workerId = 0;
    std::thread worker([&] { workerId = GetCurrentThreadId(); });
    worker.join();
    Check("std::thread runs on its own Win32 thread", workerId != 0 && workerId != GetCurrentThreadId());
}

// Tasks that throw, run the way a worker runs queued work: each one inside
// its own try block, on four threads at once.
void CheckExceptionsInTasks() {
    struct TaskError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    const std::vector<std::function<void()>> tasks = {
        [] { throw TaskError("task error"); },
        [] { throw std::out_of_range("out of range"); },
        [] { std::vector<int>().at(1); },
        [] { throw 42; },
        [] {},
    };
    constexpr int kThreads = 4;
    constexpr int kRounds = 50;
    std::atomic<int> caught{0};
    std::atomic<int> completed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                for (const auto& task : tasks) {
                    try {
                        task();
                        ++completed;
                    } catch (const std::exception&) {
                        ++caught;
                    } catch (int) {
                        ++caught;
                    }
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const int expectedCaught = kThreads * kRounds * 4;
    Check("exceptions thrown in std::function tasks are caught on 4 threads",
          caught == expectedCaught && completed == kThreads * kRounds,
          std::to_string(caught.load()) + " of " + std::to_string(expectedCaught) + " caught");
}

struct Handle {
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// Reads one overlapped piece; returns the last error (0 on success) and the
// byte count in `got`.
DWORD ReadPiece(HANDLE pipe, HANDLE event, char* buffer, DWORD size, DWORD& got) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    got = 0;
    if (ReadFile(pipe, buffer, size, nullptr, &overlapped)) {
        GetOverlappedResult(pipe, &overlapped, &got, FALSE);
        return 0;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING || error == ERROR_MORE_DATA) {
        if (GetOverlappedResult(pipe, &overlapped, &got, TRUE)) return 0;
        error = GetLastError();
    }
    return error;
}

void CheckMessagePipe() {
    const std::wstring name = L"\\\\.\\pipe\\ptsa-arm64-probe-" + std::to_wstring(GetCurrentProcessId());
    Handle server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 8192, 8192, 0,
                                   nullptr));
    Check("message-mode pipe server created", server.h != INVALID_HANDLE_VALUE);
    if (server.h == INVALID_HANDLE_VALUE) return;
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));

    OVERLAPPED connect{};
    connect.hEvent = event.h;
    bool connected = ConnectNamedPipe(server.h, &connect) != FALSE;
    const DWORD connectError = connected ? 0 : GetLastError();

    constexpr DWORD kMessage = 6000;
    std::string message(kMessage, '\0');
    for (DWORD i = 0; i < kMessage; ++i) message[i] = static_cast<char>('a' + i % 26);
    std::string reply;
    bool clientOk = false;
    std::thread client([&] {
        Handle pipe(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe.h == INVALID_HANDLE_VALUE) return;
        DWORD mode = PIPE_READMODE_MESSAGE;
        DWORD written = 0;
        if (!SetNamedPipeHandleState(pipe.h, &mode, nullptr, nullptr) ||
            !WriteFile(pipe.h, message.data(), kMessage, &written, nullptr) || written != kMessage)
            return;
        char buffer[256];
        DWORD got = 0;
        if (ReadFile(pipe.h, buffer, sizeof buffer, &got, nullptr)) {
            reply.assign(buffer, got);
            clientOk = true;
        }
    });

    if (!connected && connectError == ERROR_IO_PENDING) {
        DWORD ignored = 0;
        connected = GetOverlappedResult(server.h, &connect, &ignored, TRUE) != FALSE;
    } else if (!connected) {
        connected = connectError == ERROR_PIPE_CONNECTED;
    }
    Check("overlapped ConnectNamedPipe completes", connected, "error " + std::to_string(connectError));

    // One 6000-byte message in 1024-byte pieces: ERROR_MORE_DATA (234) five
    // times, then the last 880 bytes with success.
    std::string received;
    std::vector<DWORD> errors;
    char piece[1024];
    for (int i = 0; connected && i < 10; ++i) {
        DWORD got = 0;
        const DWORD error = ReadPiece(server.h, event.h, piece, sizeof piece, got);
        received.append(piece, got);
        errors.push_back(error);
        if (error != ERROR_MORE_DATA) break;
    }
    const std::vector<DWORD> expectedErrors = {234, 234, 234, 234, 234, 0};
    std::string seen;
    for (DWORD e : errors) seen += std::to_string(e) + " ";
    Check("1024-byte overlapped reads give ERROR_MORE_DATA 5 times, then success", errors == expectedErrors, seen);
    Check("the pieces put together are the message", received == message,
          std::to_string(received.size()) + " bytes");

    DWORD written = 0;
    OVERLAPPED write{};
    write.hEvent = event.h;
    const char answer[] = "done";
    BOOL wrote = WriteFile(server.h, answer, sizeof answer - 1, nullptr, &write);
    if (!wrote && GetLastError() == ERROR_IO_PENDING) wrote = TRUE;
    wrote = wrote && GetOverlappedResult(server.h, &write, &written, TRUE);
    client.join();
    Check("the client reads the server's reply", wrote && clientOk && reply == answer, reply);
}

// A pending read cancelled from another thread ends with ERROR_OPERATION_ABORTED.
void CheckCancelledRead() {
    const std::wstring name = L"\\\\.\\pipe\\ptsa-arm64-cancel-" + std::to_wstring(GetCurrentProcessId());
    Handle server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0,
                                   nullptr));
    Handle client(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    char buffer[64];
    OVERLAPPED read{};
    read.hEvent = event.h;
    const bool pending = !ReadFile(server.h, buffer, sizeof buffer, nullptr, &read) &&
                         GetLastError() == ERROR_IO_PENDING;
    std::thread canceller([&] { CancelIoEx(server.h, &read); });
    canceller.join();
    DWORD got = 0;
    const bool done = GetOverlappedResult(server.h, &read, &got, TRUE) != FALSE;
    const DWORD error = done ? 0 : GetLastError();
    Check("a cancelled pending read ends with ERROR_OPERATION_ABORTED (995)",
          pending && error == ERROR_OPERATION_ABORTED, std::to_string(error));
}

}  // namespace

int main() {
    CheckThread();
    CheckExceptionsInTasks();
    CheckMessagePipe();
    CheckCancelledRead();
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed;
}
