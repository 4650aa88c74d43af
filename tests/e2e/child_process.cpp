// ChildProcess on POSIX (fork, exec, poll) and Windows (CreateProcessW,
// pipes looked at with PeekNamedPipe).
#include "child_process.h"

#include <chrono>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace PevraNUV::test {

using Clock = std::chrono::steady_clock;

namespace {

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

#ifdef _WIN32

namespace {

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring Quoted(const std::string& argument) {
    std::wstring wide;
    const int units = MultiByteToWideChar(CP_UTF8, 0, argument.data(), static_cast<int>(argument.size()), nullptr, 0);
    wide.resize(static_cast<std::size_t>(units));
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, argument.data(), static_cast<int>(argument.size()), &wide[0], units);
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t unit : wide) {
        if (unit == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(unit == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += unit;
    }
    quoted.append(backslashes * 2, L'\\');  // they stand before the closing quote
    return quoted + L"\"";
}

}  // namespace

struct ChildProcess::State {
    PROCESS_INFORMATION process{};
    HANDLE input = nullptr;
    HANDLE output[2] = {nullptr, nullptr};  // standard output, standard error
    bool reaped = false;
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments, bool collectErrors)
    : m_state(new State) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childInput = nullptr, childOutput[2] = {nullptr, GetStdHandle(STD_ERROR_HANDLE)};
    if (!CreatePipe(&childInput, &m_state->input, &inherit, 0)) return;
    SetHandleInformation(m_state->input, HANDLE_FLAG_INHERIT, 0);
    for (int stream = 0; stream < (collectErrors ? 2 : 1); ++stream) {
        if (!CreatePipe(&m_state->output[stream], &childOutput[stream], &inherit, 0)) return;
        SetHandleInformation(m_state->output[stream], HANDLE_FLAG_INHERIT, 0);
    }
    std::wstring line = Quoted(program);
    for (const auto& argument : arguments) line += L" " + Quoted(argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput[0];
    startup.hStdError = childOutput[1];
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &m_state->process))
        m_state->process = PROCESS_INFORMATION{};
    CloseHandle(childInput);
    CloseHandle(childOutput[0]);
    if (collectErrors) CloseHandle(childOutput[1]);
}

ChildProcess::~ChildProcess() {
    Stop();
    if (m_state->process.hProcess) {
        CloseHandle(m_state->process.hProcess);
        CloseHandle(m_state->process.hThread);
    }
    for (HANDLE handle : {m_state->input, m_state->output[0], m_state->output[1]})
        if (handle) CloseHandle(handle);
}

bool ChildProcess::Started() const { return m_state->process.hProcess != nullptr; }

void ChildProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(m_state->input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool ChildProcess::Interrupt() { return false; }

bool ChildProcess::Collect(int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::string* texts[2] = {&m_outcome.out, &m_outcome.err};
    for (;;) {
        bool got = false;
        for (int stream = 0; stream < 2; ++stream) {
            HANDLE& output = m_state->output[stream];
            if (!output) continue;
            DWORD available = 0, read = 0;
            char chunk[4096];
            if (!PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr) ||
                (available > 0 && !ReadFile(output, chunk, sizeof chunk, &read, nullptr))) {
                CloseHandle(output);  // the program closed its end
                output = nullptr;
                continue;
            }
            texts[stream]->append(chunk, read);
            got = got || read > 0;
        }
        if (!m_state->output[0] && !m_state->output[1]) return false;
        if (got || Clock::now() >= deadline) return true;
        Sleep(5);
    }
}

bool ChildProcess::Reap(int milliseconds) {
    if (!m_state->reaped && WaitForSingleObject(m_state->process.hProcess, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(m_state->process.hProcess, &code);
        m_outcome.exitCode = static_cast<int>(code);
        m_state->reaped = true;
    }
    return m_state->reaped;
}

void ChildProcess::Terminate(bool) { TerminateProcess(m_state->process.hProcess, 1); }

#else

struct ChildProcess::State {
    pid_t pid = -1;
    int input = -1;
    int output[2] = {-1, -1};  // standard output, standard error
    bool reaped = false;
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments, bool collectErrors)
    : m_state(new State) {
    // Close-on-exec: no other child inherits this one's ends.
    int in[2], out[2], err[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || (collectErrors && pipe2(err, O_CLOEXEC) != 0))
        return;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        if (collectErrors) dup2(err[1], 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    for (int end : {in[0], out[1], err[1]})
        if (end >= 0) close(end);
    m_state->pid = pid;
    m_state->input = in[1];
    m_state->output[0] = out[0];
    m_state->output[1] = err[0];
}

ChildProcess::~ChildProcess() {
    Stop();
    for (int fd : {m_state->input, m_state->output[0], m_state->output[1]})
        if (fd >= 0) close(fd);
}

bool ChildProcess::Started() const { return m_state->pid > 0; }

void ChildProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    const ssize_t ignored = write(m_state->input, text.data(), text.size());
    (void)ignored;
}

bool ChildProcess::Interrupt() { return Started() && !m_state->reaped && kill(m_state->pid, SIGINT) == 0; }

bool ChildProcess::Collect(int milliseconds) {
    int* outputs = m_state->output;
    if (outputs[0] < 0 && outputs[1] < 0) return false;
    pollfd entries[2] = {{outputs[0], POLLIN, 0}, {outputs[1], POLLIN, 0}};  // poll passes over a closed one (-1)
    if (poll(entries, 2, milliseconds) <= 0) return true;
    std::string* texts[2] = {&m_outcome.out, &m_outcome.err};
    for (int stream = 0; stream < 2; ++stream) {
        if (outputs[stream] < 0 || entries[stream].revents == 0) continue;
        char chunk[4096];
        const ssize_t got = read(outputs[stream], chunk, sizeof chunk);
        if (got > 0) {
            texts[stream]->append(chunk, static_cast<std::size_t>(got));
        } else {
            close(outputs[stream]);
            outputs[stream] = -1;
        }
    }
    return outputs[0] >= 0 || outputs[1] >= 0;
}

bool ChildProcess::Reap(int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    int status = 0;
    while (!m_state->reaped && waitpid(m_state->pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) return false;
        usleep(5000);
    }
    if (!m_state->reaped) m_outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_state->reaped = true;
    return true;
}

void ChildProcess::Terminate(bool hard) { kill(m_state->pid, hard ? SIGKILL : SIGTERM); }

#endif

bool ChildProcess::CollectUntil(const std::function<bool()>& done, int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (bool open = true;; open = Collect(MillisecondsUntil(deadline))) {
        if (done()) return true;
        if (!open || Clock::now() >= deadline) return false;
    }
}

bool ChildProcess::WaitForLine(const std::string& text, int milliseconds) {
    return CollectUntil(
        [&] {
            for (std::size_t end; (end = m_outcome.out.find('\n', m_nextLine)) != std::string::npos;) {
                std::string line = m_outcome.out.substr(m_nextLine, end - m_nextLine);
                m_nextLine = end + 1;
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line == text) return true;
            }
            return false;
        },
        milliseconds);
}

bool ChildProcess::WaitForError(const std::string& text, int milliseconds) {
    return CollectUntil([&] { return m_outcome.err.find(text) != std::string::npos; }, milliseconds);
}

Outcome ChildProcess::Finish(int milliseconds) {
    if (!Started()) return m_outcome;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    CollectUntil([] { return false; }, milliseconds);
    m_outcome.ended = Reap(MillisecondsUntil(deadline));
    if (!m_outcome.ended) {
        Terminate(true);
        Reap(60000);
    }
    return m_outcome;
}

int ChildProcess::Stop() {
    if (!Started()) return -1;
    if (!Reap(0)) {
        Terminate(false);
        if (!Reap(10000)) Terminate(true), Reap(60000);
    }
    return m_outcome.exitCode;
}

Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments, int milliseconds) {
    return ChildProcess(program, arguments, true).Finish(milliseconds);
}

}  // namespace PevraNUV::test
