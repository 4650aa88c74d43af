// ChildProcess on POSIX (fork and exec) and Windows (CreateProcessW).
#include "child_process.h"

#include <chrono>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace PevraNUV::test {

#ifdef _WIN32

struct ChildProcess::State {
    PROCESS_INFORMATION process{};
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    std::string pending;
    bool stopped = false;
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : m_state(new State) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childInput = nullptr, childOutput = nullptr;
    if (!CreatePipe(&childInput, &m_state->input, &inherit, 0)) return;
    if (!CreatePipe(&m_state->output, &childOutput, &inherit, 0)) return;
    SetHandleInformation(m_state->input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(m_state->output, HANDLE_FLAG_INHERIT, 0);
    std::string line = "\"" + program + "\"";
    for (const auto& argument : arguments) line += " \"" + argument + "\"";
    std::wstring wide(line.begin(), line.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (!CreateProcessW(nullptr, &wide[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &m_state->process))
        m_state->process = PROCESS_INFORMATION{};
    CloseHandle(childInput);
    CloseHandle(childOutput);
}

ChildProcess::~ChildProcess() {
    Stop();
    if (m_state->input) CloseHandle(m_state->input);
    if (m_state->output) CloseHandle(m_state->output);
}

bool ChildProcess::Started() const { return m_state->process.hProcess != nullptr; }

bool ChildProcess::WaitForLine(const std::string& text, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        std::size_t end;
        while ((end = m_state->pending.find('\n')) != std::string::npos) {
            std::string line = m_state->pending.substr(0, end);
            m_state->pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line == text) return true;
        }
        DWORD available = 0;
        if (!PeekNamedPipe(m_state->output, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available) {
            char chunk[512];
            DWORD got = 0;
            if (!ReadFile(m_state->output, chunk, sizeof chunk, &got, nullptr)) return false;
            m_state->pending.append(chunk, got);
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(10);
    }
}

void ChildProcess::WriteLine(const std::string& line) {
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(m_state->input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

int ChildProcess::Stop() {
    if (!Started() || m_state->stopped) return -1;
    m_state->stopped = true;
    DWORD code = 0;
    if (WaitForSingleObject(m_state->process.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(m_state->process.hProcess, 0);
    WaitForSingleObject(m_state->process.hProcess, INFINITE);
    GetExitCodeProcess(m_state->process.hProcess, &code);
    CloseHandle(m_state->process.hProcess);
    CloseHandle(m_state->process.hThread);
    return static_cast<int>(code);
}

#else

struct ChildProcess::State {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    std::string pending;
    bool stopped = false;
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : m_state(new State) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0) return;
    if (pipe(fromChild) != 0) return;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        close(toChild[0]), close(toChild[1]), close(fromChild[0]), close(fromChild[1]);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    m_state->pid = pid;
    m_state->input = toChild[1];
    m_state->output = fromChild[0];
}

ChildProcess::~ChildProcess() {
    Stop();
    if (m_state->input >= 0) close(m_state->input);
    if (m_state->output >= 0) close(m_state->output);
}

bool ChildProcess::Started() const { return m_state->pid > 0; }

bool ChildProcess::WaitForLine(const std::string& text, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        std::size_t end;
        while ((end = m_state->pending.find('\n')) != std::string::npos) {
            std::string line = m_state->pending.substr(0, end);
            m_state->pending.erase(0, end + 1);
            if (line == text) return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd entry{m_state->output, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[512];
        ssize_t got = read(m_state->output, chunk, sizeof chunk);
        if (got <= 0) return false;
        m_state->pending.append(chunk, static_cast<std::size_t>(got));
    }
}

void ChildProcess::WriteLine(const std::string& line) {
    std::string text = line + "\n";
    ssize_t ignored = write(m_state->input, text.data(), text.size());
    (void)ignored;
}

int ChildProcess::Stop() {
    if (!Started() || m_state->stopped) return -1;
    m_state->stopped = true;
    kill(m_state->pid, SIGTERM);
    int status = 0;
    waitpid(m_state->pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#endif

}  // namespace PevraNUV::test
