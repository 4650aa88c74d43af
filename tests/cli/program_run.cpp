// ProgramRun on POSIX (fork, exec, poll) and Windows (CreateProcessW,
// pipes looked at with PeekNamedPipe).
#include "program_run.h"

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

namespace ptsa_cli_test {

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

struct ProgramRun::State {
    PROCESS_INFORMATION process{};
    HANDLE output[2] = {nullptr, nullptr};  // standard output, standard error
    bool open[2] = {false, false};
};

ProgramRun::ProgramRun(const std::string& program, const std::vector<std::string>& arguments) : m_state(new State) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childEnds[2] = {nullptr, nullptr};
    for (int stream = 0; stream < 2; ++stream) {
        if (!CreatePipe(&m_state->output[stream], &childEnds[stream], &inherit, 0)) return;
        SetHandleInformation(m_state->output[stream], HANDLE_FLAG_INHERIT, 0);
        m_state->open[stream] = true;
    }
    std::wstring line = Quoted(program);
    for (const auto& argument : arguments) line += L" " + Quoted(argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = childEnds[0];
    startup.hStdError = childEnds[1];
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &m_state->process))
        m_state->process = PROCESS_INFORMATION{};
    CloseHandle(childEnds[0]);
    CloseHandle(childEnds[1]);
}

ProgramRun::~ProgramRun() {
    if (m_state->process.hProcess) {
        if (WaitForSingleObject(m_state->process.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(m_state->process.hProcess, 1);
        WaitForSingleObject(m_state->process.hProcess, INFINITE);
        CloseHandle(m_state->process.hProcess);
        CloseHandle(m_state->process.hThread);
    }
    for (HANDLE output : m_state->output)
        if (output) CloseHandle(output);
}

bool ProgramRun::Started() const { return m_state->process.hProcess != nullptr; }

bool ProgramRun::Interrupt() { return false; }

bool ProgramRun::Collect(int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::string* texts[2] = {&m_outcome.out, &m_outcome.err};
    for (;;) {
        bool got = false;
        for (int stream = 0; stream < 2; ++stream) {
            if (!m_state->open[stream]) continue;
            DWORD available = 0;
            if (!PeekNamedPipe(m_state->output[stream], nullptr, 0, nullptr, &available, nullptr)) {
                m_state->open[stream] = false;  // the program closed its end
                continue;
            }
            if (available == 0) continue;
            char chunk[4096];
            DWORD read = 0;
            if (!ReadFile(m_state->output[stream], chunk, sizeof chunk, &read, nullptr)) {
                m_state->open[stream] = false;
                continue;
            }
            texts[stream]->append(chunk, read);
            got = true;
        }
        if (!m_state->open[0] && !m_state->open[1]) return false;
        if (got || Clock::now() >= deadline) return true;
        Sleep(5);
    }
}

Outcome ProgramRun::Finish(int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    if (!Started()) return m_outcome;
    while (Collect(MillisecondsUntil(deadline)) && Clock::now() < deadline) {
    }
    if (WaitForSingleObject(m_state->process.hProcess, static_cast<DWORD>(MillisecondsUntil(deadline))) ==
        WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(m_state->process.hProcess, &code);
        m_outcome.ended = true;
        m_outcome.exitCode = static_cast<int>(code);
    }
    return m_outcome;
}

#else

struct ProgramRun::State {
    pid_t pid = -1;
    int output[2] = {-1, -1};  // standard output, standard error
    bool reaped = false;
};

ProgramRun::ProgramRun(const std::string& program, const std::vector<std::string>& arguments) : m_state(new State) {
    int out[2], err[2];
    if (pipe(out) != 0) return;
    if (pipe(err) != 0) {
        close(out[0]), close(out[1]);
        return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]), close(out[1]), close(err[0]), close(err[1]), close(nothing);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    m_state->pid = pid;
    m_state->output[0] = out[0];
    m_state->output[1] = err[0];
}

ProgramRun::~ProgramRun() {
    if (Started() && !m_state->reaped) {
        kill(m_state->pid, SIGKILL);
        waitpid(m_state->pid, nullptr, 0);
    }
    for (int output : m_state->output)
        if (output >= 0) close(output);
}

bool ProgramRun::Started() const { return m_state->pid > 0; }

bool ProgramRun::Interrupt() { return Started() && !m_state->reaped && kill(m_state->pid, SIGINT) == 0; }

bool ProgramRun::Collect(int milliseconds) {
    pollfd entries[2];
    std::string* texts[2] = {&m_outcome.out, &m_outcome.err};
    nfds_t count = 0;
    for (int stream = 0; stream < 2; ++stream)
        entries[stream] = pollfd{m_state->output[stream], POLLIN, 0};
    for (int stream = 0; stream < 2; ++stream) count += m_state->output[stream] >= 0;
    if (count == 0) return false;
    if (poll(entries, 2, milliseconds) <= 0) return true;
    for (int stream = 0; stream < 2; ++stream) {
        if (entries[stream].fd < 0 || entries[stream].revents == 0) continue;
        char chunk[4096];
        const ssize_t got = read(entries[stream].fd, chunk, sizeof chunk);
        if (got > 0) {
            texts[stream]->append(chunk, static_cast<std::size_t>(got));
        } else {
            close(m_state->output[stream]);
            m_state->output[stream] = -1;
        }
    }
    return m_state->output[0] >= 0 || m_state->output[1] >= 0;
}

Outcome ProgramRun::Finish(int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    if (!Started()) return m_outcome;
    while (Clock::now() < deadline && Collect(MillisecondsUntil(deadline))) {
    }
    // The outputs end when the program does; it is reaped here, or killed
    // at the time limit.
    int status = 0;
    while (waitpid(m_state->pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(m_state->pid, SIGKILL);
            waitpid(m_state->pid, &status, 0);
            m_state->reaped = true;
            return m_outcome;
        }
        usleep(5000);
    }
    m_state->reaped = true;
    m_outcome.ended = true;
    m_outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m_outcome;
}

#endif

bool ProgramRun::WaitForError(const std::string& text, int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (m_outcome.err.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || !Collect(MillisecondsUntil(deadline))) return false;
    }
    return true;
}

Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments, int milliseconds) {
    ProgramRun run(program, arguments);
    return run.Finish(milliseconds);
}

}  // namespace ptsa_cli_test
