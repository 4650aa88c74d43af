// A program started by a test: standard input on a pipe, standard output and
// standard error collected into files (a program that writes much never
// waits for the test to read), its end and exit code awaited.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace PevraNUV::test {

struct Outcome {
    bool ended = false;  // false: killed at the time limit
    int exitCode = -1;
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();  // ends the program if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;
    // Until a line of standard output equals text, or standard error holds
    // text; false when the program ends or the time is up first.
    bool WaitForLine(const std::string& text, int milliseconds);
    bool WaitForError(const std::string& text, int milliseconds);
    void WriteLine(const std::string& line);  // to standard input
    // Until the program ends; ends it after milliseconds.
    Outcome Finish(int milliseconds);

private:
    struct State;
    bool CollectUntil(const std::function<bool()>& done, int milliseconds);
    bool Reap(int milliseconds);  // whether it ended; keeps the exit code
    void Terminate(bool hard);

    std::unique_ptr<State> m_state;
    std::filesystem::path m_files[2];  // standard output, standard error
    Outcome m_outcome;
    std::size_t m_nextLine = 0;  // the first line of m_outcome.out not yet matched
};

Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments, int milliseconds);

}  // namespace PevraNUV::test
