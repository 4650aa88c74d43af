// ptsa-cli: reads, watches and changes the pen-tablet settings through
// PTabletSettingsAPI, as any host of the library does: through its public
// header and its callbacks only.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "commands.h"
#include "console.h"
#include "text.h"

namespace ptsa_cli {
namespace {

const char* const kAbout =
    "ptsa-cli: reads, watches and changes the pen-tablet settings of this session through "
    "PTabletSettingsAPI.\n"
    "Every command connects to the settings service and waits for the values the library "
    "reports after connecting. A setting whose value is zero or empty is never reported "
    "by the library and shows as 0 or empty.";

const char* const kExitCodes = R"(
--json, --timeout-ms, --quiet-ms and --log-level (see ptsa-cli --help) may
also follow the command.

Exit codes:
  0    done
  1    an unexpected failure
  2    a bad argument: an unknown command or option, a wedge index outside
       0 to 9, a function code or value that is not a number, a text with a
       function code that takes none, or a text or number the library's
       rule refuses (a zero, a lone surrogate, {"GetVal":" or
       {"Connected":"?"}, over 511 UTF-16 units, a number above 2147483647)
  3    the settings service is not running in this session
  4    time-out: no values from the service within --timeout-ms; for set,
       no value came back; for capture, no keystrokes within --seconds
  5    set: the service reported another value than the one asked for
  130  interrupted (Ctrl-C) before the work was done
With --json, every result and every error is one JSON object on standard
output (watch: one object per line); notes for people go to standard error.)";

struct ButtonSetter {
    const char* command;
    const char* what;
    const char* setting;
    void (*set)(ptsa::Session&, const ptsa::ButtonFunction&);
};

const ButtonSetter kButtonSetters[] = {
    {"eraser-single", "the eraser end's single press", "eraserSingle",
     [](ptsa::Session& s, const ptsa::ButtonFunction& f) { s.setEraser(ptsa::EraserPress::Single, f); }},
    {"eraser-double", "the eraser end's double press", "eraserDouble",
     [](ptsa::Session& s, const ptsa::ButtonFunction& f) { s.setEraser(ptsa::EraserPress::Double, f); }},
    {"eraser-long", "the eraser end's long press", "eraserLong",
     [](ptsa::Session& s, const ptsa::ButtonFunction& f) { s.setEraser(ptsa::EraserPress::Long, f); }},
    {"top-switch", "the upper side switch's single press", "topSwitch",
     [](ptsa::Session& s, const ptsa::ButtonFunction& f) { s.setSwitchPress(ptsa::Switch::Top, f); }},
    {"bottom-switch", "the lower side switch's single press", "bottomSwitch",
     [](ptsa::Session& s, const ptsa::ButtonFunction& f) { s.setSwitchPress(ptsa::Switch::Bottom, f); }},
};

struct NumberSetter {
    const char* command;
    const char* what;
    const char* setting;  // null: the library reports it to nobody
    bool isSwitch;        // the number switches the setting's hover click
    void (*set)(ptsa::Session&, unsigned int);
};

const NumberSetter kNumberSetters[] = {
    {"top-hover-click", "the upper side switch's hover click (0 off, any other number on)", "topSwitch", true,
     [](ptsa::Session& s, unsigned v) { s.setHoverClick(ptsa::Switch::Top, v != 0); }},
    {"bottom-hover-click", "the lower side switch's hover click (0 off, any other number on)", "bottomSwitch", true,
     [](ptsa::Session& s, unsigned v) { s.setHoverClick(ptsa::Switch::Bottom, v != 0); }},
    {"centre-right-click",
     "the right click at the radial-menu centre (0 off, other on); the library does not report it back", nullptr,
     false, [](ptsa::Session& s, unsigned v) { s.setMenuCenterRightClick(v); }},
    {"tip", "the tip's pressure curve", "tip", false, [](ptsa::Session& s, unsigned v) { s.setTipSensitivity(v); }},
    {"tilt", "the tilt sensitivity", "tilt", false, [](ptsa::Session& s, unsigned v) { s.setTiltSensitivity(v); }},
};

// A whole number from low to high, with a message that says so.
CLI::Validator WholeNumber(long long low, long long high) {
    const std::string range = "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [low, high, range](std::string& text) -> std::string {
            long long number = 0;
            const char* end = text.data() + text.size();
            const auto [stop, error] = std::from_chars(text.data(), end, number);
            if (text.empty() || error != std::errc() || stop != end || number < low || number > high)
                return "must be " + range + ", not \"" + text + "\"";
            return {};
        },
        "", "");
}

CLI::Validator PositiveSeconds() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            char* end = nullptr;
            const double seconds = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(seconds > 0) || seconds > 1e9)
                return "must be a number of seconds above 0, not \"" + text + "\"";
            return {};
        },
        "", "");
}

constexpr long long kInt32Min = INT32_MIN, kInt32Max = INT32_MAX, kUint32Max = UINT32_MAX;

// What the command line gave; one command is parsed, so they share it.
struct Arguments {
    std::int32_t code = 0;
    std::string text;
    int index = 0;
    unsigned int number = 0;
    std::vector<std::int32_t> zoom;
    double watchSeconds = 0;  // 0: until Ctrl-C
    double captureSeconds = 10;
};

// A button function from the command line. The library sends a text only
// with keystrokes and applications, so a text with any other code is
// refused rather than dropped unseen; a text that the library's rule
// refuses throws ptsa::InputRejected.
ptsa::ButtonFunction ButtonFunction(std::int32_t code, const std::string& text, bool textGiven) {
    ptsa::ButtonFunction function = ptsa::ButtonFunction::Code(code);
    if (!textGiven) return function;
    if (code != std::int32_t(ptsa::Function::Keystrokes) && code != std::int32_t(ptsa::Function::RunApplication))
        throw CLI::ValidationError("TEXT", "a text goes only with function 8 (keystrokes) or 23 (application path)");
    const std::optional<std::u16string> units = ToUtf16(text);
    if (!units) throw CLI::ValidationError("TEXT", "is not valid UTF-8");
    ptsa::CheckText(code, *units);  // the library's rule: Run tells what it refuses
    function.text = *units;
    return function;
}

// A change of a button. The library reads back the application path it
// writes, but after keystrokes it reads the function's name, for which it
// has no handler: keystrokes never come back.
Change ButtonChange(const char* setting, int index, const ptsa::ButtonFunction& function, const std::string& text,
                    std::function<void(ptsa::Session&)> send) {
    Change change;
    change.setting = setting;
    change.index = index;
    change.requested = {{"function", function.code}};
    const bool keystrokes = function.code == std::int32_t(ptsa::Function::Keystrokes);
    if (keystrokes || function.code == std::int32_t(ptsa::Function::RunApplication)) change.requested["text"] = text;
    change.expected = change.requested;
    if (keystrokes) {
        change.expected.erase("text");
        change.unreported = "the keystrokes were sent, but the library reads back the function's name instead of "
                            "them, so they cannot be shown here (dump shows them)";
    }
    change.send = std::move(send);
    return change;
}

// A change whose reported value must equal what was asked for.
Change ValueChange(const char* setting, Json requested, std::function<void(ptsa::Session&)> send) {
    Change change;
    change.setting = setting;
    change.requested = std::move(requested);
    change.expected = change.requested;
    change.send = std::move(send);
    return change;
}

void AddButtonArguments(CLI::App& command, Arguments& arguments, CLI::Option*& text) {
    command.add_option("CODE", arguments.code, "function code (8 keystrokes, 23 run an application)")
        ->required()
        ->check(WholeNumber(kInt32Min, kInt32Max));
    text = command.add_option("TEXT", arguments.text,
                              "keystrokes (code 8) or application path (code 23), at most 511 UTF-16 units");
}

void AddSetCommands(CLI::App& set, Arguments& arguments, Change& change) {
    for (const ButtonSetter& setter : kButtonSetters) {
        CLI::App* command = set.add_subcommand(setter.command, std::string("assign a function to ") + setter.what);
        CLI::Option* text = nullptr;
        AddButtonArguments(*command, arguments, text);
        command->callback([&arguments, &change, setter, text] {
            const ptsa::ButtonFunction function = ButtonFunction(arguments.code, arguments.text, text->count() > 0);
            change = ButtonChange(setter.setting, -1, function, arguments.text,
                                  [function, setter](ptsa::Session& session) { setter.set(session, function); });
        });
    }

    CLI::App* wedge = set.add_subcommand("wedge", "assign a function to a radial-menu wedge");
    wedge->add_option("INDEX", arguments.index,
                      "0 East, 1 Southeast, 2 South, 3 Southwest, 4 West, 5 Northwest, 6 North, 7 Northeast, "
                      "8 Center, 9 Outside")
        ->required()
        ->check(WholeNumber(0, 9));
    CLI::Option* wedgeText = nullptr;
    AddButtonArguments(*wedge, arguments, wedgeText);
    wedge->callback([&arguments, &change, wedgeText] {
        const ptsa::ButtonFunction function = ButtonFunction(arguments.code, arguments.text, wedgeText->count() > 0);
        const int index = arguments.index;
        change = ButtonChange("wedges", index, function, arguments.text, [function, index](ptsa::Session& session) {
            session.setWedge(static_cast<ptsa::Wedge>(index), function);
        });
    });

    for (const NumberSetter& setter : kNumberSetters) {
        CLI::App* command = set.add_subcommand(setter.command, std::string("set ") + setter.what);
        command->add_option("VALUE", arguments.number, "an unsigned number")
            ->required()
            ->check(WholeNumber(0, kUint32Max));
        command->callback([&arguments, &change, setter] {
            const unsigned int value = arguments.number;
            if (!setter.isSwitch) ptsa::CheckNumber(value);
            Json requested = setter.isSwitch ? Json{{"hoverClick", value != 0 ? 1 : 0}} : Json(value);
            change = ValueChange(setter.setting ? setter.setting : "centreRightClick", std::move(requested),
                                 [setter, value](ptsa::Session& session) { setter.set(session, value); });
            change.reportedBack = setter.setting != nullptr;
        });
    }

    CLI::App* zoom = set.add_subcommand("zoom", "set the slaved display zoom map");
    zoom->add_option("A B C D", arguments.zoom, "the four numbers of the map, in this order")
        ->required()
        ->expected(4)
        ->check(WholeNumber(kInt32Min, kInt32Max));
    zoom->callback([&arguments, &change] {
        const ptsa::ZoomMap map{arguments.zoom[0], arguments.zoom[1], arguments.zoom[2], arguments.zoom[3]};
        change = ValueChange("zoom", Json::array({map.a, map.b, map.c, map.d}),
                             [map](ptsa::Session& session) { session.setZoom(map); });
    });
    set.add_subcommand("zoom-reset", "set all four numbers of the slaved display zoom map to zero")
        ->callback([&change] {
            change = ValueChange("zoom", Json::array({0, 0, 0, 0}), [](ptsa::Session& session) { session.resetZoom(); });
        });
    for (CLI::App* setting : set.get_subcommands({})) setting->group("Settings");
}

std::string Names(const CLI::App& parent) {
    std::string names;
    for (const CLI::App* command : parent.get_subcommands({})) names += (names.empty() ? "" : ", ") + command->get_name();
    return names;
}

int Run(const std::vector<std::string>& commandLine) {
    Options options;
    Arguments arguments;
    Change change;
    std::function<int()> command;

    CLI::App app(kAbout, "ptsa-cli");
    app.footer(kExitCodes);
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.group("Commands");  // the heading of the commands, which inherit it
    app.fallthrough();  // the options below may follow a command
    app.require_subcommand(0, 1);  // a missing command is told below
    app.add_flag("--json", options.json, "print results and errors as JSON");
    app.add_option("--timeout-ms", options.timeoutMs,
                   "wait this long for the service's values and for a set's answer (default 5000)")
        ->check(WholeNumber(1, 24 * 3600 * 1000));
    app.add_option("--quiet-ms", options.quietMs,
                   "a pause this long ends the wait for values (default 300)")
        ->check(WholeNumber(1, 600 * 1000));
    app.add_option("--log-level", options.logLevel,
                   "the library's diagnostic log level (default 3): 4 writes its failures to the debugger output "
                   "(standard error outside Windows), 5 also to PTabletSettingsAPI.log beside the library")
        ->check(WholeNumber(kInt32Min, kInt32Max));

    app.add_subcommand("dump", "print every setting the library reports after connecting")
        ->callback([&] { command = [&] { return Dump(options); }; });

    CLI::App* watch = app.add_subcommand("watch", "print every change as it arrives, with a time stamp, until Ctrl-C");
    watch->add_option("--seconds", arguments.watchSeconds, "stop by itself after this many seconds")
        ->check(PositiveSeconds());
    watch->callback([&] { command = [&] { return Watch(options, arguments.watchSeconds); }; });

    CLI::App* capture = app.add_subcommand(
        "capture", "record keystrokes through the service for --seconds (Ctrl-C finishes early), then print them");
    capture->add_option("--seconds", arguments.captureSeconds, "how long to record (default 10)")
        ->check(PositiveSeconds());
    capture->callback([&] { command = [&] { return Capture(options, arguments.captureSeconds); }; });

    CLI::App* set = app.add_subcommand(
        "set", "change one setting, then print the value the service reports back");
    AddSetCommands(*set, arguments, change);
    set->callback([&] {
        if (!change.send) throw CLI::ValidationError("set", "needs a setting: " + Names(*set));
        command = [&] { return Set(options, change); };
    });

    // --json is looked for before parsing, so that even a refused command
    // line is answered in JSON.
    options.json = std::find(commandLine.begin(), commandLine.end(), "--json") != commandLine.end();
    std::vector<const char*> argv;
    for (const std::string& argument : commandLine) argv.push_back(argument.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        return Fail(options, kBadArgument, std::string(error.what()) + " (see ptsa-cli --help)");
    } catch (const ptsa::InputRejected& refused) {
        return Fail(options, kBadArgument, refused.what());  // before anything is sent
    }
    if (!command) return Fail(options, kBadArgument, "a command is needed: " + Names(app) + " (see ptsa-cli --help)");
    CatchInterrupts();
    return command();
}

}  // namespace
}  // namespace ptsa_cli

int main(int argc, char** argv) {
    ptsa_cli::PrepareConsole();
    try {
        return ptsa_cli::Run(ptsa_cli::CommandLine(argc, argv));
    } catch (const std::exception& error) {
        std::cerr << "ptsa-cli: " << error.what() << std::endl;
    }
    return ptsa_cli::kFailed;
}
