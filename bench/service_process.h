// The bench service as a child process: commands go to its standard input,
// its standard output is read line by line. Stopped when the owner goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "raw_link.h"

namespace PevraNUV::bench {

class ServiceProcess {
public:
    ServiceProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ServiceProcess();  // ends its input and waits for it (SIGTERM after a second)
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    // Until the service prints exactly this line; false at its end or after
    // milliseconds.
    bool WaitForLine(const std::string& line, int milliseconds);
    void WriteLine(const std::string& line);

private:
    pid_t m_pid = -1;
    Fd m_input, m_output;
    std::string m_pending;  // output read past the last line matched
};

}  // namespace PevraNUV::bench
