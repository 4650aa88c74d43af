// ptsa-cli against the reference service: both run as child processes in
// this test's session, over the real pipes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

using Json = nlohmann::json;
using PevraNUV::test::ChildProcess;
using PevraNUV::test::Outcome;

namespace {

// The exit codes ptsa-cli documents.
constexpr int kOk = 0, kBadArgument = 2, kNoService = 3, kTimedOut = 4;
constexpr int kRunLimitMs = 60000;

const std::string kTiltKey = R"(ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity)";
const std::string kNorthWedgeKey =
    R"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialNorth\\ButtonSingle\\ButtonFunction)";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

Json Parse(const std::string& text) {
    Json json = Json::parse(text, nullptr, false);
    EXPECT_FALSE(json.is_discarded()) << "not JSON: " << text;
    return json;
}

// The value at a JSON pointer, or null when there is none.
Json At(const Json& json, const std::string& pointer) {
    const Json::json_pointer at(pointer);
    return json.contains(at) ? json.at(at) : Json();
}

std::string Describe(const Outcome& outcome) {
    return "exit " + std::to_string(outcome.exitCode) + (outcome.ended ? "" : " (killed)") + "\nstdout:\n" +
           outcome.out + "stderr:\n" + outcome.err;
}

class Cli : public ::testing::Test {
protected:
    // Starts the reference service of this session.
    void StartService(const std::vector<std::string>& arguments = {}) {
        m_service.reset();  // one service a session
        m_service = std::make_unique<ChildProcess>(PTSA_SERVICE_PATH, arguments);
        ASSERT_TRUE(m_service->WaitForLine("ready", 10000)) << "the service did not report ready";
    }

    // Runs ptsa-cli to its end; its outputs with Windows line ends as "\n".
    static Outcome Run(const std::vector<std::string>& arguments) {
        Outcome outcome = PevraNUV::test::RunProgram(PTSA_CLI_PATH, arguments, kRunLimitMs);
        for (std::string* text : {&outcome.out, &outcome.err})
            for (std::size_t cr; (cr = text->find("\r\n")) != std::string::npos;) text->erase(cr, 1);
        return outcome;
    }

    // Runs ptsa-cli with --json, expects exit 0 and one JSON object.
    static Json RunJson(std::vector<std::string> arguments) {
        arguments.push_back("--json");
        const Outcome outcome = Run(arguments);
        EXPECT_EQ(outcome.exitCode, kOk) << Describe(outcome);
        return Parse(outcome.out);
    }

    std::unique_ptr<ChildProcess> m_service;
};

// ---- One command line each: its exit code and what it prints -------------

struct CommandCase {
    const char* service;  // nullptr: no service runs; else its arguments, split at spaces
    std::vector<std::string> command;
    int exitCode;
    std::vector<std::string> out;  // fragments standard output holds
    std::vector<std::string> err;  // fragments standard error holds
};

void PrintTo(const CommandCase& c, std::ostream* out) {
    for (const std::string& word : c.command) *out << word.substr(0, 20) << ' ';
}

class CommandLine : public Cli, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandLine, ExitsWithItsCodeAndSaysWhy) {
    const CommandCase& c = GetParam();
    if (c.service) {
        std::vector<std::string> arguments;
        std::istringstream words(c.service);
        for (std::string word; words >> word;) arguments.push_back(word);
        StartService(arguments);
    }
    const Outcome outcome = Run(c.command);
    EXPECT_EQ(outcome.exitCode, c.exitCode) << Describe(outcome);
    for (const std::string& fragment : c.out) EXPECT_NE(outcome.out.find(fragment), std::string::npos) << fragment;
    for (const std::string& fragment : c.err) EXPECT_NE(outcome.err.find(fragment), std::string::npos) << fragment;
    const bool json = !c.command.empty() && c.command.back() == "--json";
    if (c.exitCode != kOk && !json) EXPECT_EQ(outcome.out, "") << "a failure is told on standard error";
}

const std::string kMust = "must be a whole number";
const std::string kBadJson = "\"kind\": \"bad-argument\"";
const std::string kNotRunning = "the settings service is not running";

const std::vector<CommandCase> kCommandLines = {
    // Refused before any connection: no service runs.
    {nullptr, {"set", "wedge", "10", "0"}, kBadArgument, {}, {"INDEX: " + kMust + " from 0 to 9, not \"10\""}},
    {nullptr, {"set", "wedge", "-1", "0"}, kBadArgument, {}, {"INDEX: " + kMust + " from 0 to 9"}},
    {nullptr, {"set", "wedge", "1", "abc"}, kBadArgument, {}, {"CODE: " + kMust}},
    {nullptr, {"set", "eraser-single", "12abc"}, kBadArgument, {}, {"CODE: " + kMust}},
    {nullptr, {"set", "eraser-single", "8", std::string(512, 'x')}, kBadArgument, {},
        {"TEXT: has 512 UTF-16 units; a button holds at most 511"}},
#ifndef _WIN32  // a Windows command line is UTF-16: it cannot carry these bytes
    {nullptr, {"set", "top-switch", "23", "\xC3\x28"}, kBadArgument, {}, {"TEXT: is not valid UTF-8"}},
#endif
    {nullptr, {"set", "eraser-long", "0", "Ctrl+Z"}, kBadArgument, {}, {"TEXT: a text goes only with function 8"}},
    {nullptr, {"set", "tilt", "-1"}, kBadArgument, {}, {"VALUE: " + kMust + " from 0 to 4294967295"}},
    {nullptr, {"set", "tip", "4294967296"}, kBadArgument, {}, {"VALUE: " + kMust + " from 0 to 4294967295"}},
    {nullptr, {"set", "zoom", "1", "2", "3"}, kBadArgument, {}, {"A B C D"}},
    {nullptr, {"set", "zoom", "1", "2", "3", "2147483648"}, kBadArgument, {}, {"A B C D: " + kMust}},
    {nullptr, {"set"}, kBadArgument, {}, {"set: needs a setting: eraser-single"}},
    {nullptr, {"set", "volume", "3"}, kBadArgument, {}, {"volume"}},
    {nullptr, {"frobnicate"}, kBadArgument, {}, {"frobnicate"}},
    {nullptr, {}, kBadArgument, {}, {"a command is needed: dump, watch, capture, set"}},
    {nullptr, {"watch", "--seconds", "0"}, kBadArgument, {}, {"--seconds: must be a number of seconds above 0"}},
    {nullptr, {"dump", "--timeout-ms", "soon"}, kBadArgument, {}, {"--timeout-ms: " + kMust}},
    {nullptr, {"set", "wedge", "10", "0", "--json"}, kBadArgument, {kBadJson, "\"exitCode\": 2"}, {}},
    {nullptr, {"frobnicate", "--json"}, kBadArgument, {kBadJson}, {}},
    // No service in this session.
    {nullptr, {"dump"}, kNoService, {}, {kNotRunning}},
    {nullptr, {"watch", "--seconds", "5"}, kNoService, {}, {kNotRunning}},
    {nullptr, {"set", "tilt", "7"}, kNoService, {}, {kNotRunning}},
    {nullptr, {"set", "zoom-reset"}, kNoService, {}, {kNotRunning}},
    {nullptr, {"capture", "--seconds", "5"}, kNoService, {}, {kNotRunning}},
    {nullptr, {"set", "tilt", "7", "--json"}, kNoService, {"\"kind\": \"no-service\""}, {}},
    // Help, with the exit codes, for every command.
    {nullptr, {"--help"}, kOk,
        {"Usage: ptsa-cli", "\n  2    a bad argument", "\n  3    " + kNotRunning, "\n  4    time-out"}, {}},
    {nullptr, {"dump", "--help"}, kOk, {"Usage: ptsa-cli dump", "\n  4    time-out"}, {}},
    {nullptr, {"watch", "--help"}, kOk, {"Usage: ptsa-cli watch", "\n  4    time-out"}, {}},
    {nullptr, {"capture", "--help"}, kOk, {"Usage: ptsa-cli capture", "\n  4    time-out"}, {}},
    {nullptr, {"set", "--help"}, kOk, {"Usage: ptsa-cli set", "\n  4    time-out"}, {}},
    {nullptr, {"set", "wedge", "--help"}, kOk, {"Usage: ptsa-cli set wedge", "\n  2    a bad argument"}, {}},
    {nullptr, {"set", "zoom", "--help"}, kOk, {"Usage: ptsa-cli set zoom", "\n  3    " + kNotRunning}, {}},
    {nullptr, {"set", "tilt", "--help"}, kOk, {"Usage: ptsa-cli set tilt", "\n  4    time-out"}, {}},
    // Changes: what the service reports back, told to people or in JSON.
    {"", {"set", "tilt", "7"}, kOk, {"Tilt sensitivity: 7\n"}, {}},
    {"", {"set", "wedge", "9", "23", R"(C:\Apps\draw.exe)"}, kOk, {R"(Wedge 9 (Outside): 23 "C:\Apps\draw.exe")"}, {}},
    {"", {"set", "tilt", "5", "--json"}, kOk, {"\"result\": \"held\"", "\"reported\": 5"}, {}},
    // Any number but 0 switches hover click on, as it already is.
    {"", {"set", "top-hover-click", "9", "--json"}, kOk, {"\"result\": \"held\""}, {}},
    {"", {"set", "centre-right-click", "0", "--json"}, kOk, {"\"result\": \"sent\"", "\"reported\": null"}, {}},
    // A keystroke function already: the code does not change, and the
    // keystrokes are not read back.
    {"", {"set", "eraser-single", "8", "Ctrl+Alt+Z", "--json"}, kOk,
        {"\"result\": \"held\"", "keystrokes were sent"}, {}},
    // Time-outs: the reply to the set's write (the first request after
    // the 68 of the handshake) comes too late for the library, which
    // ends its link; or no reply comes in time at all.
    {"--only-request 69 --delay-reply-ms 3000", {"set", "tilt", "7", "--timeout-ms", "2000", "--json"},
        kTimedOut, {"\"kind\": \"timeout\"", "\"reported\": null"}, {}},
    {"--delay-reply-ms 3000", {"dump", "--timeout-ms", "1500", "--log-level", "4"}, kTimedOut, {},
        {"did not send its values within 1500 ms",
#ifndef _WIN32  // on Windows the library writes its diagnostics to the debugger output
         "Ack read failed."
#endif
        }},
    {"", {"capture", "--seconds", "0.5", "--json"}, kTimedOut, {"\"keys\": \"\"", "\"kind\": \"timeout\""}, {}},
};

INSTANTIATE_TEST_SUITE_P(Cli, CommandLine, ::testing::ValuesIn(kCommandLines));

// ---- Dump ------------------------------------------------------------------

TEST_F(Cli, DumpShowsEveryReportedSettingToPeople) {
    StartService();
    const Outcome outcome = Run({"dump"});
    ASSERT_EQ(outcome.exitCode, kOk) << Describe(outcome);
    std::multimap<std::string, std::string> values;  // the label before the gap, the value after it
    for (const std::string& line : Lines(outcome.out)) {
        const std::size_t gap = line.find("  ");
        if (gap != std::string::npos) values.emplace(line.substr(0, gap), line.substr(line.find_first_not_of(' ', gap)));
    }
    const std::pair<const char*, const char*> expected[] = {
        {"Versions", "service 3.1.0, HID router 2.4.7"},
        {"Pen", "QRE-0012345, pen id PEN-7F3A21, BT id BT-00A1B2C3, battery 85"},
        {"Eraser single press", "8 \"Ctrl+Z\""},
        {"Eraser double press", R"(23 "C:\Windows\System32\notepad.exe")"},
        {"Eraser long press", "0"},
        {"Upper side switch", "2, hover click on"},
        {"Lower side switch", "3, hover click off"},
        {"Wedge 0 (East)", "8 \"Ctrl+C\""},
        {"Wedge 7 (Northeast)", "4"},
        {"Tip pressure curve", "3"},
        {"Tilt sensitivity", "5"},
        {"Slaved display zoom map", "0 0 100 100"},
        {"Run-application options", "\"Calculator\", \"Notepad\", \"Paint\""},
        {"Side switch options", "0 1 2 3 4 8 9 23"},
        {"Radial wedges", "10"},
        {"Range A", "0 to 6"},
        {"Range B", "-90 to 90"},
    };
    for (const auto& [label, value] : expected) {
        ASSERT_EQ(values.count(label), 1u) << label << "\n" << outcome.out;
        EXPECT_EQ(values.find(label)->second, value) << label;
    }
}

TEST_F(Cli, DumpJsonHoldsEveryReportedSetting) {
    StartService();
    const Json dump = RunJson({"dump"});
    const std::pair<const char*, Json> expected[] = {
        {"/versions", {{"service", "3.1.0"}, {"hidRouter", "2.4.7"}}},
        {"/pens",
         {{{"serialNumber", "QRE-0012345"}, {"penId", "PEN-7F3A21"}, {"btId", "BT-00A1B2C3"}, {"batteryStatus", 85}}}},
        {"/eraserDouble", {{"function", 23}, {"text", R"(C:\Windows\System32\notepad.exe)"}}},
        {"/topSwitch", {{"function", 2}, {"text", ""}, {"hoverClick", 1}}},
        {"/bottomSwitch/hoverClick", 0},
        {"/wedges/1", {{"function", 8}, {"text", "Ctrl+V"}}},
        {"/wedges/9/function", 0},
        {"/tip", 3},
        {"/tilt", 5},
        {"/zoom", {0, 0, 100, 100}},
        {"/runAppOptions", {"Calculator", "Notepad", "Paint"}},
        {"/topSingleOptions", {0, 1, 2, 3, 4, 5, 8, 23}},
        {"/topLongOptions", {0, 8, 23}},
        {"/wedgeOptions", {0, 1, 2, 3, 4, 8, 23}},
        {"/wedgeCount", 10},
        {"/rangeA", {0, 6}},
        {"/rangeB", {-90, 90}},
    };
    for (const auto& [pointer, value] : expected) EXPECT_EQ(At(dump, pointer), value) << pointer;
    EXPECT_EQ(dump["wedges"].size(), 10u);
}

TEST_F(Cli, DumpEndsOnAQuietPauseWhenTheZoomMapIsZeroAndSoNeverReported) {
    const std::string values = ::testing::TempDir() + "ptsa_cli_zero_zoom.json";
    std::ofstream(values) << R"({"ComponentsDriver\\SlavedDisplayZoomMap": "{0,0,0,0}",
                                 "ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity": "6"})";
    StartService({"--values", values});
    const Json dump = RunJson({"dump"});
    std::remove(values.c_str());
    EXPECT_EQ(dump["zoom"], Json({0, 0, 0, 0}));
    EXPECT_EQ(dump["tilt"], 6);
    EXPECT_EQ(dump["wedgeOptions"].size(), 7u) << "the values before the zoom map all arrived";
}

// ---- Set: each change comes back through the callbacks, and a later run
// finds the service holding it.

TEST_F(Cli, SetReportsTheValueTheServiceHoldsFromThenOn) {
    const std::string longKeys(511, 'k');
    const std::string unicodePath = "C:\\Programme\\\xD0\x9F\xD0\xB8\xD1\x88\xD0\xB8 \xF0\x9F\x96\x8A.exe";
    const std::string quotedPath = R"(C:\Program Files\Pevra "Sketch"\sketch.exe)";
    const Json pick = {{"function", 23}, {"text", R"(C:\Tools\pick.exe)"}, {"hoverClick", 1}};
    struct Case {
        std::vector<std::string> arguments;
        Json reported;        // fields the set's reported value holds
        const char* pointer;  // where the dump shows the setting
        Json held;            // and what it shows there
    } const cases[] = {
        {{"tilt", "7"}, 7, "/tilt", 7},
        {{"tip", "0"}, 0, "/tip", 0},
        {{"wedge", "9", "23", quotedPath}, {{"function", 23}, {"text", quotedPath}}, "/wedges/9/text", quotedPath},
        // The service keeps the wedge's keystrokes, and answers them for its
        // texts: only the code is new.
        {{"wedge", "0", "2"}, {{"function", 2}}, "/wedges/0/function", 2},
        {{"eraser-single", "23", unicodePath}, {{"function", 23}, {"text", unicodePath}}, "/eraserSingle/text", unicodePath},
        {{"eraser-double", "0"}, {{"function", 0}, {"text", ""}}, "/eraserDouble", {{"function", 0}, {"text", ""}}},
        // Keystrokes are not read back; the next connection reads them.
        {{"eraser-long", "8", longKeys}, {{"function", 8}}, "/eraserLong", {{"function", 8}, {"text", longKeys}}},
        {{"top-switch", "23", R"(C:\Tools\pick.exe)"}, pick, "/topSwitch", pick},
        {{"bottom-switch", "-1"}, {{"function", -1}}, "/bottomSwitch/function", -1},
        {{"top-hover-click", "0"}, {{"hoverClick", 0}}, "/topSwitch/hoverClick", 0},
        {{"bottom-hover-click", "5"}, {{"hoverClick", 1}}, "/bottomSwitch/hoverClick", 1},
        {{"zoom", "-2147483648", "2147483647", "0", "7"}, {-2147483648LL, 2147483647, 0, 7}, "/zoom",
         {-2147483648LL, 2147483647, 0, 7}},
        {{"zoom-reset"}, {0, 0, 0, 0}, "/zoom", {0, 0, 0, 0}},
    };
    StartService();
    for (const Case& change : cases) {
        std::vector<std::string> arguments{"set"};
        arguments.insert(arguments.end(), change.arguments.begin(), change.arguments.end());
        SCOPED_TRACE(change.pointer);
        const Json result = RunJson(arguments);
        EXPECT_EQ(result["result"], "changed") << result.dump();
        const Json& reported = result["reported"];
        if (change.reported.is_object()) {
            for (const auto& [field, wanted] : change.reported.items())
                EXPECT_EQ(At(reported, "/" + field), wanted) << field;
        } else {
            EXPECT_EQ(reported, change.reported);
        }
        EXPECT_EQ(At(RunJson({"dump"}), change.pointer), change.held);
    }
}

// ---- Capture and watch: the service's control channel plays the pen ------

TEST_F(Cli, CaptureReturnsTheKeystrokesTheServiceRecorded) {
    StartService({"--stdin-control"});
    ChildProcess capture(PTSA_CLI_PATH, {"capture", "--seconds", "3", "--json"});
    ASSERT_TRUE(capture.WaitForError("capturing keystrokes", 20000));
    // The start message leaves as the note is printed; the pause keeps the
    // keys behind it at the service.
    m_service->WriteLine("sleep 300");
    m_service->WriteLine("key Ctrl+");
    m_service->WriteLine("key Alt+K");
    const Outcome outcome = capture.Finish(kRunLimitMs);
    ASSERT_EQ(outcome.exitCode, kOk) << Describe(outcome);
    EXPECT_EQ(Parse(outcome.out)["keys"], "Ctrl+Alt+K");
}

TEST_F(Cli, WatchPrintsEachChangeWithItsTime) {
    for (const bool json : {true, false}) {
        SCOPED_TRACE(json ? "json" : "people");
        StartService({"--stdin-control"});
        std::vector<std::string> arguments{"watch", "--seconds", "2"};
        if (json) arguments.push_back("--json");
        ChildProcess watch(PTSA_CLI_PATH, arguments);
        ASSERT_TRUE(watch.WaitForError("watching for changes", 20000));
        m_service->WriteLine("set " + kTiltKey + " 42");
        m_service->WriteLine("set " + kNorthWedgeKey + " 8");
        const Outcome outcome = watch.Finish(kRunLimitMs);
        ASSERT_EQ(outcome.exitCode, kOk) << Describe(outcome);
        // The handshake's values are not changes: these two lines are all.
        const std::vector<std::string> lines = Lines(outcome.out);
        ASSERT_EQ(lines.size(), 2u) << outcome.out;
        if (!json) {
            const std::regex tilt(R"(\d\d:\d\d:\d\d\.\d{3}  Tilt sensitivity +42)");
            EXPECT_TRUE(std::regex_match(lines[0], tilt)) << lines[0];
            continue;
        }
        const Json tilt = Parse(lines[0]), wedge = Parse(lines[1]);
        EXPECT_EQ(tilt["setting"], "tilt");
        EXPECT_EQ(tilt["value"], 42);
        EXPECT_EQ(wedge["setting"], "wedges");
        EXPECT_EQ(wedge["index"], 6);
        EXPECT_EQ(wedge["value"], Json({{"function", 8}, {"text", ""}}));
        const std::regex isoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
        EXPECT_TRUE(std::regex_match(tilt["time"].get<std::string>(), isoTime)) << tilt.dump();
        EXPECT_LE(tilt["time"].get<std::string>(), wedge["time"].get<std::string>());
    }
}

TEST_F(Cli, WatchEndsCleanlyAtCtrlC) {
    StartService();
    ChildProcess watch(PTSA_CLI_PATH, {"watch"});
    ASSERT_TRUE(watch.WaitForError("watching for changes; Ctrl-C stops", 20000));
    if (!watch.Interrupt()) GTEST_SKIP() << "no Ctrl-C for a child process here";
    const Outcome outcome = watch.Finish(kRunLimitMs);
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.exitCode, kOk) << Describe(outcome);
    EXPECT_EQ(outcome.out, "");
}

}  // namespace
