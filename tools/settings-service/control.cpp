#include "control.h"

#include <chrono>
#include <iostream>
#include <thread>

namespace settings_service {

const char* const kControlHelp = R"(Control commands, one per line, from standard input (--stdin-control)
and/or a script (--script FILE). A VALUE is the rest of the line after one
space: it may hold spaces and may be empty. Keys may be written with one or
two backslashes between components; values are sent as written.
  set KEY VALUE     store VALUE and push it to every client
  push KEY VALUE    push {"KEY":"VALUE"} to every client without storing it
  key TEXT          while keystrokes are recorded, append TEXT to the
                    captured keystrokes and push them to every client
  raw TEXT          push TEXT as one whole message to every client, as
                    written (an empty TEXT pushes an empty message)
  close-pushes      close the send-only pipe of every client; the request
                    pipes stay open
  sleep MS          pause this command source for MS milliseconds
  wait-handshake [N]  pause this command source until N handshakes (default
                    1) have been answered since the service started
  quit              end the service
Blank lines and lines starting with # are skipped.
)";

namespace {

// The first word and the rest after one space.
std::pair<std::string, std::string> SplitWord(const std::string& text) {
    const std::size_t space = text.find(' ');
    if (space == std::string::npos) return {text, {}};
    return {text.substr(0, space), text.substr(space + 1)};
}

bool ParseCount(const std::string& text, std::uint64_t& count) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    count = std::stoull(text);
    return true;
}

}  // namespace

ControlLine ParseControlLine(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') return Nothing{};
    const auto [word, rest] = SplitWord(line);
    if (word == "set" || word == "push") {
        const auto [key, value] = SplitWord(rest);
        if (key.empty()) return LineError{word + " needs a KEY"};
        const Command::Kind kind = word == "set" ? Command::Kind::Set : Command::Kind::Push;
        return Command{kind, NormaliseKey(FromUtf8(key)), FromUtf8(value)};
    }
    if (word == "key") return Command{Command::Kind::Key, {}, FromUtf8(rest)};
    if (word == "raw") return Command{Command::Kind::Raw, {}, FromUtf8(rest)};
    if (word == "quit") return Command{Command::Kind::Quit};
    if (word == "close-pushes") return Command{Command::Kind::ClosePushes};
    std::uint64_t count = 0;
    if (word == "sleep") {
        if (!ParseCount(rest, count) || count > 0xFFFFFFFFu) return LineError{"sleep needs a number of milliseconds"};
        return Sleep{static_cast<std::uint32_t>(count)};
    }
    if (word == "wait-handshake") {
        if (rest.empty()) return WaitForHandshakes{1};
        if (!ParseCount(rest, count)) return LineError{"wait-handshake takes a count"};
        return WaitForHandshakes{count};
    }
    return LineError{"unknown command \"" + word + "\""};
}

void ControlChannel::Run(std::istream& lines, const std::string& source, bool quitAtEnd) {
    std::string line;
    for (std::uint64_t number = 1; std::getline(lines, line); ++number) {
        const ControlLine parsed = ParseControlLine(line);
        if (const auto* command = std::get_if<Command>(&parsed)) {
            Post(*command);
        } else if (const auto* sleep = std::get_if<Sleep>(&parsed)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(sleep->milliseconds));
        } else if (const auto* wait = std::get_if<WaitForHandshakes>(&parsed)) {
            if (!m_progress.WaitForHandshakes(wait->count)) return;
        } else if (const auto* error = std::get_if<LineError>(&parsed)) {
            std::cerr << "settings-service: " << source << ':' << number << ": " << error->message << '\n';
        }
    }
    if (quitAtEnd) Post(Command{Command::Kind::Quit});
}

void ControlChannel::SetWaker(Transport* transport) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waker = transport;
}

void ControlChannel::Post(Command command) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.push_back(std::move(command));
    if (m_waker) m_waker->Wake();
}

std::vector<Command> ControlChannel::Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Command> commands(std::make_move_iterator(m_commands.begin()), std::make_move_iterator(m_commands.end()));
    m_commands.clear();
    return commands;
}

}  // namespace settings_service
