// A program started by a test: standard input on a pipe, standard output and
// standard error collected, its end and exit code awaited.
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
    ~ChildProcess();  // stops the program if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;
    // Until a line of standard output equals text; false when the program
    // ends or milliseconds pass first.
    bool WaitForLine(const std::string& text, int milliseconds);
    // Until standard error holds text.
    bool WaitForError(const std::string& text, int milliseconds);
    void WriteLine(const std::string& line);  // to standard input
    // Ctrl-C (SIGINT); false where a test cannot send one (Windows: the
    // program shares no console with the test).
    bool Interrupt();
    // Until the program ends; kills it after milliseconds.
    Outcome Finish(int milliseconds);
    // Ends the program (SIGTERM; Windows: terminates it); its exit code.
    int Stop();
    const Outcome& Output() const { return m_outcome; }  // what was collected so far

private:
    struct State;
    void Collect();  // what the program wrote since the last call
    bool CollectUntil(const std::function<bool()>& done, int milliseconds);
    // Whether the program ended within milliseconds; its exit code is kept.
    bool Reap(int milliseconds);
    void Terminate(bool hard);

    std::unique_ptr<State> m_state;
    // The outputs go to files, read as they grow: a program that writes
    // much never waits for the test to read.
    std::filesystem::path m_files[2];  // standard output, standard error
    Outcome m_outcome;
    std::size_t m_nextLine = 0;  // where the first line not yet matched starts in m_outcome.out
};

// Runs a program to its end.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments, int milliseconds);

}  // namespace PevraNUV::test
