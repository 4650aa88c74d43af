// pevra-settings-service: a stand-in for the pen-tablet driver's settings
// service, serving the two pipes of a session to any number of clients.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "control.h"
#include "service.h"
#include "transport.h"

namespace settings_service {
namespace {

constexpr int kExitCannotServe = 1;
constexpr int kExitUsage = 2;

const char* const kProtocolHelp = R"(
Pipes: \\.\pipe\PevraSettingsSyncher_<session> (requests and replies) and
\\.\pipe\PevraSettingsSyncherSendOnly_<session> (pushes). On POSIX they are
SOCK_SEQPACKET sockets /tmp/pevra-<uid>/<name>; the directory is made with
mode 0700, and one that is not a directory of this user without group or
other permission bits is refused. On Windows the pipes admit only this user
and no remote client. Messages are UTF-16LE, one message per record.
"ready" is printed on standard output once both pipes listen.

Requests and replies, one reply per request, in order:
  {"Connected":"?"}   -> {"Ack":"1"}
  {"GetVal":"KEY"}    -> {"Val":"VALUE"}; a key the service does not hold
                         answers {"Val":""}
  {"KEY":"VALUE"}     -> {"Ack":"1"}; the value is stored (also for a key
                         the service did not hold) and pushed as
                         {"KEY":"VALUE"} to every other client
  anything else       -> {"Ack":"0"}
Keys travel with two backslashes between components. Clients are told
apart by process id: every connection of one process is one client, and a
write is pushed to the send-only pipes of all other processes. The
application-path and keystrokes keys of a button both answer with the one
text its function code selects: the path for code 23, else the keystrokes.

Key capture: writing "1" to ComponentsDriver\\BTButtonHandler\\KeystrokeCapture
starts recording (and empties the captured keystrokes, pushed to every
client); any other value stops it. While recording, each "key TEXT" command
appends TEXT to ComponentsDriver\\BTButtonHandler\\CapturedKeystrokesEntities
and pushes the whole value to every client; a read returns it too.

Values: built in from default-values.json (all 82 settings and the key
capture switch); --values FILE applies a JSON object of key -> string value
on top. Keys may be written with one or two backslashes between components
(in JSON text "A\\B" or "A\\\\B"); values are served as they decode.

Misbehaviour (reply faults apply to every request they fit, or only to the
--only-request Nth request of each request connection):
  --delay-reply-ms MS   the reply leaves MS ms late; later requests of that
                        connection wait behind it
  --bad-reply KIND      see the kinds below
  --long-reply UNITS    pad replies to UNITS code units: "x" before a read
                        reply (ahead of its mark), after any other
  --odd-bytes           one byte ("x") more after the reply's code units
  --long-push UNITS     pad pushes to UNITS code units: "x" at the end of the
                        value, which the client then receives
  --close-after N       close a request pipe after replying to N requests
                        (0: at once); the service goes on
  --die-in-handshake N  exit (status 0) right after the reply to the Nth
                        read request that follows a handshake (0: right after
                        the handshake reply)
  --no-request-pipe     serve the send-only pipe alone: a client finds the
                        service but cannot open its request pipe
  --push-rate HZ        push the pen battery status HZ times a second to every
                        client, from the first handshake on; it runs down by
                        one a push and starts again at 100 after 0
  --push-count N        stop after N such pushes

Exit status: 0 at quit, SIGINT, SIGTERM, Ctrl-C, end of standard input with
--stdin-control, or --die-in-handshake; 1 when the pipes cannot be served;
2 for bad arguments, values or script.
)";

std::string BadReplyHelp() {
    std::ostringstream help;
    help << "\nBad reply kinds (--bad-reply):\n";
    for (const BadReply& reply : BadReplies()) help << "  " << reply.name << ": " << reply.help << '\n';
    return help.str();
}

std::string ReadFile(const std::string& path, bool& ok) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    ok = file.good() || file.eof();
    return contents.str();
}

struct Options {
    std::string session;
    std::string valuesFile;
    std::string scriptFile;
    bool stdinControl = false;
    bool trace = false;
    std::string badReply;
    Faults faults;
};

int Serve(const Options& options, Settings settings) {
    // The control threads may outlive the loop; what they touch lives on
    // with them.
    struct Control {
        Progress progress;
        ControlChannel channel{progress};
    };
    auto control = std::make_shared<Control>();
    std::shared_ptr<ControlChannel> channel(control, &control->channel);
    Progress* progress = &control->progress;

    std::unique_ptr<std::ifstream> script;
    if (!options.scriptFile.empty()) {
        script = std::make_unique<std::ifstream>(options.scriptFile);
        if (!*script) {
            std::cerr << "settings-service: cannot read the script " << options.scriptFile << '\n';
            return kExitUsage;
        }
    }

    std::unique_ptr<Transport> transport = MakeTransport();
    CatchStopRequests();
    const std::string session = options.session.empty() ? CurrentSession() : options.session;
    if (std::string error = transport->Listen(session, !options.faults.noRequestPipe, !options.faults.noSendOnlyPipe); !error.empty()) {
        std::cerr << "settings-service: " << error << '\n';
        return kExitCannotServe;
    }
    Service service(*transport, std::move(settings), options.faults, *progress, options.trace);
    channel->SetWaker(transport.get());
    std::cout << "ready" << std::endl;

    if (script) {
        std::thread([channel, script = std::shared_ptr<std::ifstream>(std::move(script)), name = options.scriptFile] {
            channel->Run(*script, name, false);
        }).detach();
    }
    if (options.stdinControl) {
        std::thread([channel] { channel->Run(std::cin, "stdin", true); }).detach();
    }

    int timeout = -1;
    while (!service.ExitCode() && !StopRequested()) {
        TransportEvent event = transport->Wait(timeout);
        switch (event.type) {
        case TransportEvent::Type::Accepted:
            service.OnAccepted(event.connection, event.pipe, event.peerProcess);
            break;
        case TransportEvent::Type::Received:
            service.OnReceived(event.connection, event.bytes);
            break;
        case TransportEvent::Type::Closed:
            service.OnClosed(event.connection);
            break;
        case TransportEvent::Type::Woken:
        case TransportEvent::Type::None:
            break;
        }
        for (const Command& command : channel->Take()) service.Execute(command);
        timeout = service.RunDue(Clock::now());
    }

    progress->Stop();
    channel->SetWaker(nullptr);
    transport->Flush(1000);
    transport.reset();
    return service.ExitCode().value_or(0);
}

}  // namespace
}  // namespace settings_service

int main(int argc, char** argv) {
    using namespace settings_service;
    Options options;
    Faults& faults = options.faults;

    CLI::App app("pevra-settings-service: serves the settings of a pen-tablet driver on the two pipes of a session.",
                 "pevra-settings-service");
    app.footer(std::string(kProtocolHelp) + BadReplyHelp() + "\n" + kControlHelp);
    app.get_formatter()->column_width(30);

    app.add_option("--session", options.session, "session id in the pipe names (default: this process's session)")
        ->check(CLI::Validator([](std::string& text) {
            return !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos
                       ? std::string()
                       : std::string("a decimal number is needed");
        }, "NUMBER"));
    app.add_option("--values", options.valuesFile, "JSON object of key -> string value applied over the defaults")
        ->check(CLI::ExistingFile);
    app.add_option("--script", options.scriptFile, "control commands to run, one per line")->check(CLI::ExistingFile);
    app.add_flag("--stdin-control", options.stdinControl, "read control commands from standard input; its end quits");
    app.add_flag("--trace", options.trace, "write every connection and message to standard error");

    std::vector<std::string> kinds;
    for (const BadReply& reply : BadReplies()) kinds.push_back(reply.name);
    app.add_option("--only-request", faults.onlyRequest, "reply faults apply only to the Nth request of a connection")
        ->check(CLI::PositiveNumber);
    app.add_option("--delay-reply-ms", faults.delayReplyMs, "delay replies by MS milliseconds");
    app.add_option("--bad-reply", options.badReply, "answer badly (kinds below)")->check(CLI::IsMember(kinds));
    app.add_option("--long-reply", faults.longReply, "pad replies to at least UNITS code units");
    app.add_flag("--odd-bytes", faults.oddBytes, "add one byte to replies");
    app.add_option("--long-push", faults.longPush, "pad pushes to at least UNITS code units");
    app.add_option("--close-after", faults.closeAfter, "close a request pipe after N replies")->check(CLI::NonNegativeNumber);
    app.add_option("--die-in-handshake", faults.dieInHandshake, "exit after the handshake and N read replies")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--no-request-pipe", faults.noRequestPipe, "serve the send-only pipe alone");
    app.add_flag("--no-send-only-pipe", faults.noSendOnlyPipe, "serve the request pipe alone")->excludes("--no-request-pipe");
    CLI::Option* rate = app.add_option("--push-rate", faults.pushRate, "push the battery status HZ times a second")
                            ->check(CLI::Range(0.001, 1e6));
    app.add_option("--push-count", faults.pushCount, "stop the pushes after N")->needs(rate);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsage;
    }
    faults.badReply = options.badReply.empty() ? nullptr : FindBadReply(options.badReply);

    Settings settings = Settings::Defaults();
    if (!options.valuesFile.empty()) {
        bool ok = false;
        const std::string json = ReadFile(options.valuesFile, ok);
        std::vector<std::string> newKeys;
        const std::string error = ok ? settings.Apply(json, &newKeys) : "cannot be read";
        if (!error.empty()) {
            std::cerr << "settings-service: " << options.valuesFile << ": " << error << '\n';
            return kExitUsage;
        }
        for (const std::string& key : newKeys) {
            std::cerr << "settings-service: " << options.valuesFile << ": \"" << key
                      << "\" is not one of the built-in settings; served as given\n";
        }
    }
    return Serve(options, std::move(settings));
}
