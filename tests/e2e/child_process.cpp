// ChildProcess on POSIX (fork and exec) and Windows (CreateProcessW).
#include "child_process.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace PevraNUV::test {

using Clock = std::chrono::steady_clock;

// A file of its own for each output of each program.
static std::filesystem::path OutputFile(unsigned long process, const char* stream) {
    static std::atomic<int> count{0};
    return std::filesystem::temp_directory_path() /
           ("ptsa-child-" + std::to_string(process) + "-" + std::to_string(++count) + "." + stream);
}

#ifdef _WIN32

// Quotes one argument so that CommandLineToArgvW gives it back unchanged:
// backslashes before a quote, or before the closing quote, are doubled.
static std::wstring Quoted(const std::string& argument) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, argument.data(), static_cast<int>(argument.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L' '), quoted = L"\"";
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, argument.data(), static_cast<int>(argument.size()), &wide[0], units);
    std::size_t backslashes = 0;
    for (wchar_t unit : wide) {
        if (unit == L'\\') { ++backslashes; continue; }
        quoted.append(unit == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += unit;
    }
    return quoted.append(backslashes * 2, L'\\') + L"\"";
}

struct ChildProcess::State {
    PROCESS_INFORMATION process{};
    HANDLE input = nullptr;
    bool reaped = false;
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : m_state(new State), m_files{OutputFile(GetCurrentProcessId(), "out"), OutputFile(GetCurrentProcessId(), "err")} {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childInput = nullptr, outputs[2];
    if (!CreatePipe(&childInput, &m_state->input, &inherit, 0)) return;
    SetHandleInformation(m_state->input, HANDLE_FLAG_INHERIT, 0);
    for (int stream = 0; stream < 2; ++stream)
        outputs[stream] = CreateFileW(m_files[stream].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::wstring line = Quoted(program);
    for (const auto& argument : arguments) line += L" " + Quoted(argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = outputs[0];
    startup.hStdError = outputs[1];
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &m_state->process))
        m_state->process = PROCESS_INFORMATION{};
    for (HANDLE handle : {childInput, outputs[0], outputs[1]}) CloseHandle(handle);
}

bool ChildProcess::Started() const { return m_state->process.hProcess != nullptr; }

void ChildProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(m_state->input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool ChildProcess::Reap(int milliseconds) {
    DWORD code = 0;
    if (!m_state->reaped && WaitForSingleObject(m_state->process.hProcess, static_cast<DWORD>(milliseconds)) == 0 &&
        GetExitCodeProcess(m_state->process.hProcess, &code))
        m_outcome.exitCode = static_cast<int>(code), m_state->reaped = true;
    return m_state->reaped;
}

void ChildProcess::Terminate(bool) { TerminateProcess(m_state->process.hProcess, 1); }

ChildProcess::~ChildProcess() {
    if (Started() && !Reap(0)) Terminate(true), Reap(60000);
    for (HANDLE handle : {m_state->process.hProcess, m_state->process.hThread, m_state->input})
        if (handle) CloseHandle(handle);
    for (const auto& file : m_files) std::filesystem::remove(file);
}

#else

struct ChildProcess::State {
    pid_t pid = -1;
    int input = -1;
    bool reaped = false;
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : m_state(new State), m_files{OutputFile(getpid(), "out"), OutputFile(getpid(), "err")} {
    int input[2];  // close-on-exec: no other child inherits this one's ends
    if (pipe2(input, O_CLOEXEC) != 0) return;
    int outputs[2];
    for (int stream = 0; stream < 2; ++stream)
        outputs[stream] = open(m_files[stream].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if ((m_state->pid = fork()) == 0) {
        dup2(input[0], 0), dup2(outputs[0], 1), dup2(outputs[1], 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    for (int fd : {input[0], outputs[0], outputs[1]}) close(fd);
    m_state->input = input[1];
}

bool ChildProcess::Started() const { return m_state->pid > 0; }

void ChildProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = write(m_state->input, text.data(), text.size());
}

bool ChildProcess::Reap(int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    int status = 0;
    while (!m_state->reaped && waitpid(m_state->pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) return false;
        usleep(5000);
    }
    if (!m_state->reaped) m_outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m_state->reaped = true;
}

void ChildProcess::Terminate(bool hard) { kill(m_state->pid, hard ? SIGKILL : SIGTERM); }

ChildProcess::~ChildProcess() {
    if (Started() && !Reap(0) && (Terminate(false), !Reap(10000))) Terminate(true), Reap(60000);
    if (m_state->input >= 0) close(m_state->input);
    for (const auto& file : m_files) std::filesystem::remove(file);
}

#endif

bool ChildProcess::CollectUntil(const std::function<bool()>& done, int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Started()) {
        const bool ended = Reap(0);  // first: all it wrote is in the files then
        for (std::string* text : {&m_outcome.out, &m_outcome.err}) {
            std::ifstream file(m_files[text == &m_outcome.err], std::ios::binary);
            file.seekg(static_cast<std::streamoff>(text->size()));
            text->append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
        if (done()) return true;
        if (ended || Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
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
    CollectUntil([] { return false; }, milliseconds);
    if (!(m_outcome.ended = Started() && Reap(0)) && Started() && (Terminate(false), !Reap(10000)))
        Terminate(true), Reap(60000);
    return m_outcome;
}

Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments, int milliseconds) {
    return ChildProcess(program, arguments).Finish(milliseconds);
}

}  // namespace PevraNUV::test
