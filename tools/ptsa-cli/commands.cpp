#include "commands.h"

#include <cstdio>
#include <ctime>
#include <iostream>
#include <sstream>
#include <vector>

#include "console.h"
#include "text.h"
#include "view.h"

namespace ptsa_cli {
namespace {

using std::chrono::milliseconds;

// The library for one command, through its C++ face: a session whose
// handlers run on this thread as Receive drains the queue, and turn every
// value into a report.
class Host {
public:
    // availability hears the service go away (false) and come back (true).
    explicit Host(const Options& options, std::function<void(bool)> availability = {})
        : m_options(options), m_session(Handling(std::move(availability)), m_queue) {
        m_session.setLogLevel(options.logLevel);
        m_arrived = RegistrationReports(m_session.registration());
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Connects and waits for the handshake's values: the zoom map is the
    // last value asked for, but it is reported only when it is not all
    // zero; the radial wedge options before it are always reported, so a
    // quiet pause after them ends the wait too.
    ExitCode Start() {
        if (m_session.connect() != ptsa::Connection::Connected) return kNoService;
        const Clock::time_point deadline = Clock::now() + milliseconds(m_options.timeoutMs);
        bool listsDone = false;
        Clock::time_point last = Clock::now();
        for (;;) {
            const Clock::time_point until = listsDone ? std::min(deadline, last + Quiet()) : deadline;
            const std::vector<Report> reports = Receive(until);
            if (Interrupted()) return kInterrupted;
            for (const Report& report : reports) {
                if (report.setting == "zoom") return kOk;
                listsDone = listsDone || report.setting == "wedgeOptions";
            }
            if (!reports.empty()) {
                last = Clock::now();
            } else if (Clock::now() >= until) {
                return listsDone ? kOk : kTimedOut;
            }
        }
    }

    // The reports that arrive before the deadline (all that are waiting,
    // at least one unless the deadline passes or Ctrl-C is pressed), after
    // they have reached the session's snapshot, which the view reads.
    std::vector<Report> Receive(Clock::time_point deadline) { return Receive(deadline, Interrupted()); }

    // Gives messages that report nothing back the quiet pause to leave: the
    // session's end stops the link without sending what is queued.
    void Settle() {
        static const std::atomic<bool> never{false};
        const Clock::time_point until = Clock::now() + Quiet();
        while (Clock::now() < until) Receive(until, never);
    }

    Json View() const { return SettingsJson(m_session.snapshot(), m_session.registration()); }
    ptsa::Session& Session() { return m_session; }
    milliseconds Quiet() const { return milliseconds(m_options.quietMs); }

private:
    ptsa::Handlers Handling(std::function<void(bool)> availability) {
        ptsa::Handlers handlers = ReportingHandlers([this](Report report) { m_arrived.push_back(std::move(report)); });
        handlers.availability = std::move(availability);
        return handlers;
    }
    std::vector<Report> Receive(Clock::time_point deadline, const std::atomic<bool>& stop) {
        // The stop flag is set by a signal handler, which cannot wake the
        // queue: look at it a few times a second.
        while (m_arrived.empty() && !stop && Clock::now() < deadline)
            m_queue.waitFor(std::min<Clock::duration>(deadline - Clock::now(), milliseconds(50)));
        std::vector<Report> reports;
        reports.swap(m_arrived);
        return reports;
    }

    Options m_options;
    ptsa::Queue m_queue;
    std::vector<Report> m_arrived;  // filled by the handlers, on this thread
    ptsa::Session m_session;  // last: it ends first, while what its handlers use is still there
};

std::string StartFailure(ExitCode code, const Options& options) {
    switch (code) {
    case kNoService: return "the settings service is not running in this session (its pipes are not there)";
    case kTimedOut:
        return "the settings service did not send its values within " + std::to_string(options.timeoutMs) + " ms";
    case kInterrupted: return "interrupted";
    default: return "failed";
    }
}

const char* ErrorKind(ExitCode code) {
    switch (code) {
    case kBadArgument: return "bad-argument";
    case kNoService: return "no-service";
    case kTimedOut: return "timeout";
    case kOtherValue: return "other-value";
    case kInterrupted: return "interrupted";
    default: return "failed";
    }
}

std::string SecondsText(double seconds) {
    std::ostringstream text;
    text << seconds << " s";
    return text.str();
}

// A time of day to the millisecond: local for people, UTC in ISO 8601 for
// scripts.
std::string TimeText(std::chrono::system_clock::time_point time, bool forScripts) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    const long long millis =
        std::chrono::duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000;
    const std::tm* parts = forScripts ? std::gmtime(&seconds) : std::localtime(&seconds);
    char text[40] = "";
    if (parts) std::strftime(text, sizeof text, forScripts ? "%Y-%m-%dT%H:%M:%S" : "%H:%M:%S", parts);
    char full[48];
    std::snprintf(full, sizeof full, "%s.%03lld%s", text, millis, forScripts ? "Z" : "");
    return full;
}

void PrintJson(const Json& json) { std::cout << json.dump(2) << std::endl; }

void Note(const std::string& text) { std::cerr << "ptsa-cli: " << text << std::endl; }

// The setting's value in the view, one wedge for "wedges".
Json Current(const Host& host, const Change& change) {
    const Json view = host.View();
    const Json& value = view.at(change.setting);
    return change.index >= 0 ? value.at(static_cast<std::size_t>(change.index)) : value;
}

// The value holds what was asked for: the same value, or, for an object,
// the same fields (a switch's function, not its hover click).
bool Holds(const Json& value, const Json& expected) {
    if (!expected.is_object()) return value == expected;
    for (const auto& [field, wanted] : expected.items())
        if (!value.contains(field) || value.at(field) != wanted) return false;
    return true;
}

bool Concerns(const Report& report, const Change& change) {
    return report.setting == change.setting && (change.index < 0 || report.index == change.index);
}

// Waits for the reports of the changed setting until they hold what was
// asked for; true when any came. The answer may take two reports (a
// function code, then its text); once one came, or when no change is to
// come, a quiet pause ends the wait.
bool AwaitAnswer(Host& host, const Change& change, bool alreadyHeld, milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    bool reported = false;
    Clock::time_point last = Clock::now();
    for (;;) {
        const bool settling = reported || alreadyHeld;
        const Clock::time_point until = settling ? std::min(deadline, last + host.Quiet()) : deadline;
        const std::vector<Report> reports = host.Receive(until);
        if (Interrupted()) return reported;
        for (const Report& report : reports) {
            if (!Concerns(report, change)) continue;
            reported = true;
            last = Clock::now();
        }
        if (reported && Holds(Current(host, change), change.expected)) return true;
        if (reports.empty() && Clock::now() >= until) return reported;
    }
}

}  // namespace

int Fail(const Options& options, ExitCode code, const std::string& message, Json result) {
    if (options.json) {
        result["error"] = {{"kind", ErrorKind(code)}, {"message", message}, {"exitCode", static_cast<int>(code)}};
        PrintJson(result);
    } else {
        Note(message);
    }
    return code;
}

int Dump(const Options& options) {
    Host host(options);
    if (const ExitCode code = host.Start(); code != kOk) return Fail(options, code, StartFailure(code, options));
    if (options.json) {
        PrintJson(host.View());
    } else {
        std::cout << DescribeAll(host.View()) << std::flush;
    }
    return kOk;
}

int Watch(const Options& options, double seconds) {
    // The session tells when the service goes away and when it is back;
    // the library reconnects by itself.
    Host host(options, [](bool available) {
        Note(available ? "the settings service is back" : "the settings service is not available; waiting for it");
    });
    if (const ExitCode code = host.Start(); code != kOk) return Fail(options, code, StartFailure(code, options));
    const bool forEver = seconds <= 0;
    const Clock::time_point deadline =
        forEver ? Clock::time_point::max()
                : Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    Note(forEver ? "watching for changes; Ctrl-C stops"
                 : "watching for changes for " + SecondsText(seconds) + "; Ctrl-C stops");
    while (!Interrupted() && Clock::now() < deadline) {
        for (const Report& report : host.Receive(deadline)) {
            if (options.json) {
                Json line{{"time", TimeText(report.time, true)}};
                line.update(ReportJson(report));
                std::cout << line.dump() << std::endl;
            } else {
                std::cout << TimeText(report.time, false) << "  " << DescribeReport(report) << std::flush;
            }
        }
    }
    return kOk;
}

int Set(const Options& options, const Change& change) {
    Host host(options);
    if (const ExitCode code = host.Start(); code != kOk) return Fail(options, code, StartFailure(code, options));

    Json result{{"setting", change.setting}};
    if (change.index >= 0) result["index"] = change.index;
    result["requested"] = change.requested;

    if (!change.reportedBack) {
        change.send(host.Session());
        host.Settle();
        result["reported"] = nullptr;
        result["result"] = "sent";
        if (options.json) PrintJson(result);
        Note("sent; the library does not report this setting back, so the service's value cannot be shown");
        return kOk;
    }

    const std::string label = Label(change.setting, change.index);
    const bool alreadyHeld = Holds(Current(host, change), change.expected);
    change.send(host.Session());
    const bool reported = AwaitAnswer(host, change, alreadyHeld, milliseconds(options.timeoutMs));
    if (Interrupted()) return Fail(options, kInterrupted, "interrupted", result);
    // What the batch sends after its last read-back must leave too.
    if (!change.unreported.empty()) host.Settle();

    const Json current = Current(host, change);
    result["reported"] = reported || alreadyHeld ? current : Json(nullptr);
    if (!change.unreported.empty()) result["note"] = change.unreported;
    const std::string shown = Describe(change.setting, current);
    if (Holds(current, change.expected)) {
        result["result"] = reported ? "changed" : "held";
        if (options.json) {
            PrintJson(result);
            return kOk;
        }
        std::cout << label << ": " << shown << std::endl;
        if (!reported) Note("the library already held this value, so the service reported nothing back");
        if (!change.unreported.empty()) Note(change.unreported);
        return kOk;
    }
    if (!reported) {
        return Fail(options, kTimedOut,
                    "no value for " + label + " came back from the service within " +
                        std::to_string(options.timeoutMs) + " ms",
                    result);
    }
    result["result"] = "other-value";
    if (!options.json) std::cout << label << ": " << shown << std::endl;
    return Fail(options, kOtherValue, "the service reported another value for " + label + " than the one asked for",
                result);
}

int Capture(const Options& options, double seconds) {
    Host host(options);
    if (const ExitCode code = host.Start(); code != kOk) return Fail(options, code, StartFailure(code, options));
    Note("capturing keystrokes for " + SecondsText(seconds) + "; Ctrl-C finishes early");
    const ptsa::Text captured = host.Session().captureKeystrokes(std::chrono::duration<double>(seconds), &Interrupted());
    host.Settle();  // the stop message reports nothing back

    const std::string keys = ToUtf8(captured);
    Json result{{"keys", keys}};
    if (keys.empty() && !Interrupted()) {
        return Fail(options, kTimedOut, "no keystrokes were captured within " + SecondsText(seconds),
                    result);
    }
    if (options.json) {
        PrintJson(result);
    } else {
        std::cout << keys << std::endl;
    }
    return kOk;
}

}  // namespace ptsa_cli
