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
#include "program_run.h"

using Json = nlohmann::json;
using PevraNUV::test::ChildProcess;
using ptsa_cli_test::Outcome;
using ptsa_cli_test::ProgramRun;

namespace {

// The exit codes ptsa-cli documents.
constexpr int kOk = 0;
constexpr int kBadArgument = 2;
constexpr int kNoService = 3;
constexpr int kTimedOut = 4;

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
    try {
        return json.at(Json::json_pointer(pointer));
    } catch (const Json::exception&) {
        return nullptr;
    }
}

// The value holds the part: the same value, or for an object the same
// fields.
bool Holds(const Json& value, const Json& part) {
    if (!part.is_object()) return value == part;
    for (const auto& [field, wanted] : part.items())
        if (!value.is_object() || !value.contains(field) || value.at(field) != wanted) return false;
    return true;
}

std::string Describe(const Outcome& outcome) {
    return "exit " + std::to_string(outcome.exitCode) + (outcome.ended ? "" : " (killed)") + "\nstdout:\n" +
           outcome.out + "stderr:\n" + outcome.err;
}

class Cli : public ::testing::Test {
protected:
    // Starts the reference service of this session.
    void StartService(const std::vector<std::string>& arguments = {}) {
        m_service = std::make_unique<ChildProcess>(PTSA_SERVICE_PATH, arguments);
        ASSERT_TRUE(m_service->Started());
        ASSERT_TRUE(m_service->WaitForLine("ready", 10000)) << "the service did not report ready";
    }

    static Outcome Run(const std::vector<std::string>& arguments) {
        return ptsa_cli_test::RunProgram(PTSA_CLI_PATH, arguments, kRunLimitMs);
    }

    // Runs ptsa-cli with --json, expects the exit code and one JSON object.
    static Json RunJson(std::vector<std::string> arguments, int exitCode = kOk) {
        arguments.push_back("--json");
        const Outcome outcome = Run(arguments);
        EXPECT_TRUE(outcome.ended);
        EXPECT_EQ(outcome.exitCode, exitCode) << Describe(outcome);
        return Parse(outcome.out);
    }

    // The people's form: the label before the gap, the value after it.
    static std::multimap<std::string, std::string> LabelledLines(const std::string& text) {
        std::multimap<std::string, std::string> values;
        for (const std::string& line : Lines(text)) {
            const std::size_t gap = line.find("  ");
            if (gap == std::string::npos) continue;
            values.emplace(line.substr(0, gap), line.substr(line.find_first_not_of(' ', gap)));
        }
        return values;
    }

    std::unique_ptr<ChildProcess> m_service;
};

TEST_F(Cli, DumpShowsEveryReportedSettingToPeople) {
    StartService();
    const Outcome outcome = Run({"dump"});
    ASSERT_EQ(outcome.exitCode, kOk) << Describe(outcome);
    const auto values = LabelledLines(outcome.out);
    const std::pair<const char*, const char*> expected[] = {
        {"Versions", "service 3.1.0, HID router 2.4.7"},
        {"Pen", "QRE-0012345, pen id PEN-7F3A21, BT id BT-00A1B2C3, battery 85"},
        {"Eraser single press", "8 \"Ctrl+Z\""},
        {"Eraser double press", R"(23 "C:\Windows\System32\notepad.exe")"},
        {"Eraser long press", "0"},
        {"Upper side switch", "2, hover click on"},
        {"Lower side switch", "3, hover click off"},
        {"Wedge 0 (East)", "8 \"Ctrl+C\""},
        {"Wedge 4 (West)", R"(23 "C:\Windows\System32\calc.exe")"},
        {"Wedge 7 (Northeast)", "4"},
        {"Wedge 9 (Outside)", "0"},
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
        {"/pens/0", {{"serialNumber", "QRE-0012345"}, {"penId", "PEN-7F3A21"}, {"btId", "BT-00A1B2C3"}, {"batteryStatus", 85}}},
        {"/eraserSingle", {{"function", 8}, {"text", "Ctrl+Z"}}},
        {"/eraserDouble", {{"function", 23}, {"text", R"(C:\Windows\System32\notepad.exe)"}}},
        {"/topSwitch", {{"function", 2}, {"text", ""}, {"hoverClick", 1}}},
        {"/bottomSwitch/hoverClick", 0},
        {"/wedges/1", {{"function", 8}, {"text", "Ctrl+V"}}},
        {"/wedges/4", {{"function", 23}, {"text", R"(C:\Windows\System32\calc.exe)"}}},
        {"/wedges/8/function", 0},
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
    EXPECT_EQ(dump["pens"].size(), 1u);
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

// Each change comes back through the callbacks, and a later run finds the
// service holding it.
TEST_F(Cli, SetPrintsTheValueTheServiceReportsBack) {
    const std::string longKeys(511, 'k');
    const std::string unicodePath = "C:\\Programme\\\xD0\x9F\xD0\xB8\xD1\x88\xD0\xB8 \xF0\x9F\x96\x8A.exe";
    const std::string quotedPath = R"(C:\Program Files\Pevra "Sketch"\sketch.exe)";
    struct Case {
        std::vector<std::string> arguments;
        Json reported;        // what the set's reported value holds
        const char* pointer;  // where the dump shows the setting
        Json held;            // and what it shows there
    } const cases[] = {
        {{"tilt", "7"}, 7, "/tilt", 7},
        {{"tip", "0"}, 0, "/tip", 0},
        {{"wedge", "9", "23", quotedPath}, {{"function", 23}, {"text", quotedPath}}, "/wedges/9",
         {{"function", 23}, {"text", quotedPath}}},
        // The service keeps the wedge's keystrokes, and answers them for
        // its texts: only the code is new.
        {{"wedge", "0", "2"}, {{"function", 2}}, "/wedges/0/function", 2},
        {{"eraser-single", "23", unicodePath}, {{"function", 23}, {"text", unicodePath}}, "/eraserSingle",
         {{"function", 23}, {"text", unicodePath}}},
        {{"eraser-double", "0"}, {{"function", 0}, {"text", ""}}, "/eraserDouble", {{"function", 0}, {"text", ""}}},
        // Keystrokes are not read back; the next connection reads them.
        {{"eraser-long", "8", longKeys}, {{"function", 8}}, "/eraserLong", {{"function", 8}, {"text", longKeys}}},
        {{"top-switch", "23", R"(C:\Tools\pick.exe)"}, {{"function", 23}, {"text", R"(C:\Tools\pick.exe)"}, {"hoverClick", 1}},
         "/topSwitch", {{"function", 23}, {"text", R"(C:\Tools\pick.exe)"}, {"hoverClick", 1}}},
        {{"bottom-switch", "-1"}, {{"function", -1}}, "/bottomSwitch/function", -1},
        {{"top-hover-click", "0"}, {{"hoverClick", 0}}, "/topSwitch/hoverClick", 0},
        {{"bottom-hover-click", "5"}, {{"hoverClick", 1}}, "/bottomSwitch/hoverClick", 1},
        {{"zoom", "1", "-2", "300", "0"}, {1, -2, 300, 0}, "/zoom", {1, -2, 300, 0}},
        {{"zoom", "-2147483648", "2147483647", "0", "7"}, {-2147483648LL, 2147483647, 0, 7}, "/zoom",
         {-2147483648LL, 2147483647, 0, 7}},
        {{"zoom-reset"}, {0, 0, 0, 0}, "/zoom", {0, 0, 0, 0}},
    };
    StartService();
    for (const Case& change : cases) {
        std::vector<std::string> arguments{"set"};
        arguments.insert(arguments.end(), change.arguments.begin(), change.arguments.end());
        SCOPED_TRACE(change.arguments.front() + " " + (change.arguments.size() > 1 ? change.arguments[1] : ""));
        const Json result = RunJson(arguments);
        EXPECT_EQ(result["result"], "changed") << result.dump();
        EXPECT_TRUE(Holds(result["reported"], change.reported)) << result.dump();
        EXPECT_EQ(At(RunJson({"dump"}), change.pointer), change.held);
    }
}

TEST_F(Cli, KeystrokesAreSentAndSaidNotToComeBack) {
    StartService();
    // The eraser's single press is a keystroke function already: the code
    // does not change, and nothing is reported back.
    const Json result = RunJson({"set", "eraser-single", "8", "Ctrl+Alt+Z"});
    EXPECT_EQ(result["result"], "held") << result.dump();
    EXPECT_NE(result["note"].get<std::string>().find("keystrokes were sent"), std::string::npos) << result.dump();
    EXPECT_EQ(At(RunJson({"dump"}), "/eraserSingle"), Json({{"function", 8}, {"text", "Ctrl+Alt+Z"}}));
}

TEST_F(Cli, SetTellsPeopleTheReportedValue) {
    StartService();
    const Outcome tilt = Run({"set", "tilt", "7"});
    EXPECT_EQ(tilt.exitCode, kOk) << Describe(tilt);
    EXPECT_EQ(Lines(tilt.out), std::vector<std::string>{"Tilt sensitivity: 7"});

    const Outcome wedge = Run({"set", "wedge", "9", "23", R"(C:\Apps\draw.exe)"});
    EXPECT_EQ(wedge.exitCode, kOk) << Describe(wedge);
    EXPECT_EQ(Lines(wedge.out), std::vector<std::string>{R"(Wedge 9 (Outside): 23 "C:\Apps\draw.exe")"});
}

TEST_F(Cli, SetOfAValueHeldAlreadyIsSaidSo) {
    StartService();
    const Json tilt = RunJson({"set", "tilt", "5"});
    EXPECT_EQ(tilt["result"], "held");
    EXPECT_EQ(tilt["reported"], 5);
    const Json hover = RunJson({"set", "top-hover-click", "9"});
    EXPECT_EQ(hover["result"], "held") << "any number but 0 switches hover click on, as it already is";
}

TEST_F(Cli, TheCentreRightClickIsSentButNotReportedBack) {
    StartService();
    const Json result = RunJson({"set", "centre-right-click", "0"});
    EXPECT_EQ(result["result"], "sent");
    EXPECT_TRUE(result["reported"].is_null());
}

TEST_F(Cli, SetWithoutAnAnswerTimesOut) {
    // The reply to the set's write (the first request after the 68 of the
    // handshake) comes too late for the library, which ends its link.
    StartService({"--only-request", "69", "--delay-reply-ms", "3000"});
    const Json result = RunJson({"set", "tilt", "7", "--timeout-ms", "2000"}, kTimedOut);
    EXPECT_EQ(result["error"]["kind"], "timeout");
    EXPECT_TRUE(result["reported"].is_null());
}

TEST_F(Cli, AServiceThatDoesNotAnswerIsATimeOut) {
    StartService({"--delay-reply-ms", "3000"});
    const Outcome outcome = Run({"dump", "--timeout-ms", "1500", "--log-level", "4"});
    EXPECT_EQ(outcome.exitCode, kTimedOut) << Describe(outcome);
    EXPECT_TRUE(outcome.out.empty());
    EXPECT_NE(outcome.err.find("did not send its values within 1500 ms"), std::string::npos) << outcome.err;
#ifndef _WIN32  // on Windows the library writes them to the debugger output
    EXPECT_NE(outcome.err.find("Ack read failed."), std::string::npos) << "the library's own diagnostics:\n"
                                                                        << outcome.err;
#endif
}

// Refused before any connection: no service runs, and the code is still
// the bad-argument one.
TEST_F(Cli, BadArgumentsAreRefusedWithAMessage) {
    struct Case {
        std::vector<std::string> arguments;
        const char* message;
    } const cases[] = {
        {{"set", "wedge", "10", "0"}, "INDEX: must be a whole number from 0 to 9, not \"10\""},
        {{"set", "wedge", "-1", "0"}, "INDEX: must be a whole number from 0 to 9"},
        {{"set", "wedge", "1", "abc"}, "CODE: must be a whole number"},
        {{"set", "eraser-single", "12abc"}, "CODE: must be a whole number"},
        {{"set", "eraser-single", "8", std::string(512, 'x')}, "TEXT: has 512 UTF-16 units; a button holds at most 511"},
#ifndef _WIN32  // a Windows command line is UTF-16: it cannot carry these bytes
        {{"set", "top-switch", "23", "\xC3\x28"}, "TEXT: is not valid UTF-8"},
#endif
        {{"set", "eraser-long", "0", "Ctrl+Z"}, "TEXT: a text goes only with function 8"},
        {{"set", "tilt", "-1"}, "VALUE: must be a whole number from 0 to 4294967295"},
        {{"set", "tip", "4294967296"}, "VALUE: must be a whole number from 0 to 4294967295"},
        {{"set", "zoom", "1", "2", "3"}, "A B C D"},
        {{"set", "zoom", "1", "2", "3", "2147483648"}, "A B C D: must be a whole number"},
        {{"set"}, "set: needs a setting: eraser-single"},
        {{"set", "volume", "3"}, "volume"},
        {{"frobnicate"}, "frobnicate"},
        {{}, "a command is needed: dump, watch, capture, set"},
        {{"watch", "--seconds", "0"}, "--seconds: must be a number of seconds above 0"},
        {{"dump", "--timeout-ms", "soon"}, "--timeout-ms: must be a whole number"},
    };
    for (const Case& bad : cases) {
        const Outcome outcome = Run(bad.arguments);
        EXPECT_EQ(outcome.exitCode, kBadArgument) << Describe(outcome);
        EXPECT_TRUE(outcome.out.empty()) << Describe(outcome);
        EXPECT_NE(outcome.err.find(bad.message), std::string::npos) << Describe(outcome);

        const Json json = RunJson(bad.arguments, kBadArgument);
        EXPECT_EQ(json["error"]["kind"], "bad-argument") << json.dump();
        EXPECT_EQ(json["error"]["exitCode"], kBadArgument);
    }
}

TEST_F(Cli, EveryCommandSaysSoWhenNoServiceRuns) {
    const std::vector<std::string> commands[] = {
        {"dump"}, {"watch", "--seconds", "5"}, {"set", "tilt", "7"}, {"set", "zoom-reset"}, {"capture", "--seconds", "5"}};
    for (const auto& command : commands) {
        const Outcome outcome = Run(command);
        EXPECT_EQ(outcome.exitCode, kNoService) << Describe(outcome);
        EXPECT_NE(outcome.err.find("the settings service is not running"), std::string::npos) << Describe(outcome);
        EXPECT_EQ(RunJson(command, kNoService)["error"]["kind"], "no-service");
    }
}

TEST_F(Cli, CaptureReturnsTheKeystrokesTheServiceRecorded) {
    StartService({"--stdin-control"});
    ProgramRun capture(PTSA_CLI_PATH, {"capture", "--seconds", "3", "--json"});
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

TEST_F(Cli, CaptureWithoutKeystrokesTimesOut) {
    StartService();
    const Json result = RunJson({"capture", "--seconds", "0.5"}, kTimedOut);
    EXPECT_EQ(result["keys"], "");
    EXPECT_EQ(result["error"]["kind"], "timeout");
}

TEST_F(Cli, WatchPrintsEachChangeWithItsTime) {
    StartService({"--stdin-control"});
    ProgramRun watch(PTSA_CLI_PATH, {"watch", "--seconds", "2", "--json"});
    ASSERT_TRUE(watch.WaitForError("watching for changes", 20000));
    m_service->WriteLine("set " + kTiltKey + " 42");
    m_service->WriteLine("set " + kNorthWedgeKey + " 8");
    const Outcome outcome = watch.Finish(kRunLimitMs);
    ASSERT_EQ(outcome.exitCode, kOk) << Describe(outcome);

    // The handshake's values are not changes: these two lines are all.
    const std::vector<std::string> lines = Lines(outcome.out);
    ASSERT_EQ(lines.size(), 2u) << outcome.out;
    const Json tilt = Parse(lines[0]);
    const Json wedge = Parse(lines[1]);
    EXPECT_EQ(tilt["setting"], "tilt");
    EXPECT_EQ(tilt["value"], 42);
    EXPECT_EQ(wedge["setting"], "wedges");
    EXPECT_EQ(wedge["index"], 6);
    EXPECT_EQ(wedge["value"], Json({{"function", 8}, {"text", ""}}));
    const std::regex isoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    EXPECT_TRUE(std::regex_match(tilt["time"].get<std::string>(), isoTime)) << tilt.dump();
    EXPECT_LE(tilt["time"].get<std::string>(), wedge["time"].get<std::string>());
}

TEST_F(Cli, WatchTellsPeopleEachChange) {
    StartService({"--stdin-control"});
    ProgramRun watch(PTSA_CLI_PATH, {"watch", "--seconds", "2"});
    ASSERT_TRUE(watch.WaitForError("watching for changes", 20000));
    m_service->WriteLine("set " + kTiltKey + " 42");
    const Outcome outcome = watch.Finish(kRunLimitMs);
    ASSERT_EQ(outcome.exitCode, kOk) << Describe(outcome);
    const std::vector<std::string> lines = Lines(outcome.out);
    ASSERT_EQ(lines.size(), 1u) << outcome.out;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d\d:\d\d:\d\d\.\d{3}  Tilt sensitivity +42)"))) << lines[0];
}

TEST_F(Cli, WatchEndsCleanlyAtCtrlC) {
    StartService();
    ProgramRun watch(PTSA_CLI_PATH, {"watch"});
    ASSERT_TRUE(watch.WaitForError("watching for changes; Ctrl-C stops", 20000));
    if (!watch.Interrupt()) GTEST_SKIP() << "no Ctrl-C for a child process here";
    const Outcome outcome = watch.Finish(kRunLimitMs);
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.exitCode, kOk) << Describe(outcome);
    EXPECT_TRUE(outcome.out.empty()) << outcome.out;
}

TEST_F(Cli, EveryCommandHasHelpThatListsTheExitCodes) {
    const std::vector<std::string> commands[] = {
        {}, {"dump"}, {"watch"}, {"capture"}, {"set"}, {"set", "wedge"}, {"set", "zoom"}, {"set", "tilt"}};
    for (std::vector<std::string> command : commands) {
        const std::string usage = "Usage: ptsa-cli" + [&] {
            std::string words;
            for (const std::string& word : command) words += " " + word;
            return words;
        }();
        command.push_back("--help");
        const Outcome outcome = Run(command);
        EXPECT_EQ(outcome.exitCode, kOk) << Describe(outcome);
        EXPECT_NE(outcome.out.find(usage), std::string::npos) << Describe(outcome);
        for (const char* code : {"\n  2    a bad argument", "\n  3    the settings service is not running",
                                 "\n  4    time-out"})
            EXPECT_NE(outcome.out.find(code), std::string::npos) << code << "\n" << outcome.out;
    }
}

}  // namespace
