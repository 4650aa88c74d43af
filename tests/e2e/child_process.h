// A program started by a test, with its standard input and output on pipes.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace PevraNUV::test {

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();  // terminates the program if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;
    // Reads standard output until a line equal to text arrives; false on
    // end of output or when milliseconds pass.
    bool WaitForLine(const std::string& text, int milliseconds);
    // Writes one line to the program's standard input.
    void WriteLine(const std::string& line);
    // Ends the program and waits for it; returns its exit code.
    int Stop();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace PevraNUV::test
