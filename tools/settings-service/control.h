// The control channel: command lines from standard input or a script,
// read on threads of their own and handed to the service's loop.
#pragma once

#include <cstdint>
#include <deque>
#include <istream>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "service.h"

namespace settings_service {

// Steps that the reading thread performs itself rather than the service.
struct Sleep {
    std::uint32_t milliseconds;
};
struct WaitForHandshakes {
    std::uint64_t count;
};
struct Nothing {};
struct LineError {
    std::string message;
};

using ControlLine = std::variant<Nothing, Command, Sleep, WaitForHandshakes, LineError>;

ControlLine ParseControlLine(std::string line);

// The help text of the commands.
extern const char* const kControlHelp;

class ControlChannel {
public:
    explicit ControlChannel(Progress& progress) : m_progress(progress) {}

    // The transport whose wait a new command ends; null before it is
    // destroyed, as the reading threads may outlive it.
    void SetWaker(Transport* transport);

    // Reads commands until the stream ends; then posts quit if asked to.
    void Run(std::istream& lines, const std::string& source, bool quitAtEnd);

    std::vector<Command> Take();

private:
    void Post(Command command);

    Progress& m_progress;
    Transport* m_waker = nullptr;
    std::mutex m_mutex;
    std::deque<Command> m_commands;
};

}  // namespace settings_service
