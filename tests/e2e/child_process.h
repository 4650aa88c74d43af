// A program started by a test: standard input on a pipe, standard output
// (and, when asked, standard error) collected, its end and exit code awaited.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace PevraNUV::test {

struct Outcome {
    bool ended = false;  // false: killed at the time limit
    int exitCode = -1;
    std::string out;
    std::string err;  // empty unless collected
};

class ChildProcess {
public:
    // Standard error goes to the test's own unless collectErrors.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments, bool collectErrors = false);
    ~ChildProcess();  // stops the program if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;
    // Collects output until a line of standard output equals text; false
    // when the output ends or milliseconds pass first.
    bool WaitForLine(const std::string& text, int milliseconds);
    // Collects output until standard error holds text.
    bool WaitForError(const std::string& text, int milliseconds);
    void WriteLine(const std::string& line);  // to standard input
    // Ctrl-C (SIGINT); false where a test cannot send one (Windows: the
    // program shares no console with the test).
    bool Interrupt();
    // Collects output until the program ends; kills it after milliseconds.
    Outcome Finish(int milliseconds);
    // Ends the program (SIGTERM; Windows: terminates it); its exit code.
    int Stop();

private:
    struct State;
    // Reads what arrives within milliseconds; false once every output ended.
    bool Collect(int milliseconds);
    bool CollectUntil(const std::function<bool()>& done, int milliseconds);
    // Whether the program ended within milliseconds; its exit code is kept.
    bool Reap(int milliseconds);
    void Terminate(bool hard);

    std::unique_ptr<State> m_state;
    Outcome m_outcome;
    std::size_t m_nextLine = 0;  // where the first line not yet matched starts in m_outcome.out
};

// Runs a program to its end, with both outputs collected.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments, int milliseconds);

}  // namespace PevraNUV::test
