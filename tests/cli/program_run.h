// A program run by a test to its end, with its standard output and
// standard error collected apart and its exit code.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ptsa_cli_test {

struct Outcome {
    bool ended = false;  // false: killed at the time limit
    int exitCode = -1;
    std::string out;
    std::string err;
};

class ProgramRun {
public:
    ProgramRun(const std::string& program, const std::vector<std::string>& arguments);
    ~ProgramRun();  // kills the program if it still runs
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool Started() const;
    // Collects output until standard error holds text; false when the
    // program's output ends first or milliseconds pass.
    bool WaitForError(const std::string& text, int milliseconds);
    // Sends Ctrl-C (SIGINT); false where a test cannot (Windows: the
    // program shares no console with the test).
    bool Interrupt();
    // Collects output until the program ends; kills it after milliseconds.
    Outcome Finish(int milliseconds);

private:
    struct State;
    // Reads what is there, waiting up to milliseconds for something;
    // false when both outputs have ended.
    bool Collect(int milliseconds);
    std::unique_ptr<State> m_state;
    Outcome m_outcome;
};

// Runs a program to its end.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments, int milliseconds);

}  // namespace ptsa_cli_test
