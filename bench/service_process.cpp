// ServiceProcess with fork and exec.
#include "service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace PevraNUV::bench {

ServiceProcess::ServiceProcess(const std::string& program, const std::vector<std::string>& arguments) {
    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return;
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        return;
    }
    m_input = Fd(input[1]);
    m_output = Fd(output[0]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(input[0], 0);
        ::dup2(output[1], 1);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
}

ServiceProcess::~ServiceProcess() {
    if (m_pid <= 0) return;
    // The end of its input ends the service, which then removes its socket
    // files; one that does not end within a second is terminated.
    m_input = Fd();
    for (int waited = 0; waited < 100; ++waited) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) return;
        ::usleep(10000);
    }
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
}

bool ServiceProcess::WaitForLine(const std::string& line, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        for (std::size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
            const bool found = m_pending.compare(0, end, line) == 0 && end == line.size();
            m_pending.erase(0, end + 1);
            if (found) return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{m_output.get(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[256];
        const ssize_t got = ::read(m_output.get(), chunk, sizeof chunk);
        if (got <= 0) return false;
        m_pending.append(chunk, static_cast<std::size_t>(got));
    }
}

void ServiceProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    ssize_t ignored = ::write(m_input.get(), text.data(), text.size());
    (void)ignored;
}

}  // namespace PevraNUV::bench
