// ptsa-cli against the reference service: both run as child processes in
// this test's session, over the real pipes. One table of command lines, run
// in order, each with its exit code and what it prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

using PevraNUV::test::ChildProcess;

struct CommandLine {
    std::vector<std::string> arguments;
    std::vector<std::string> control;  // lines for the service once ptsa-cli waits for the pen
    int exitCode;                      // 0 done, 2 bad argument, 3 no service, 4 time-out
    std::vector<std::string> shows;    // patterns found in its standard output, then error
};

const std::string kTilt = R"(ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity)";
const std::string kTime = R"(\d\d:\d\d:\d\d\.\d{3})";

// Before the service starts.
const CommandLine kAlone[] = {
    {{"dump"}, {}, 3, {"the settings service is not running"}},
    {{"set", "tilt", "7", "--json"}, {}, 3, {R"("kind": "no-service")"}},
    {{"set", "wedge", "10", "0"}, {}, 2, {R"(INDEX: must be a whole number from 0 to 9, not "10")"}},
    // The library's rule refuses before connecting: exit 2, not 3.
    {{"set", "eraser-single", "8", R"(a{"GetVal":"b)"}, {}, 2,
        {R"(ptsa-cli: the text holds \{"GetVal":", which the link would take for a read request\n)"}},
    {{"set", "tip", "2147483648", "--json"}, {}, 2,
        {R"("message": "2147483648 is above 2147483647, the largest value the library can report back")"}},
};

// Against one service, in this order: each change stays for the next lines.
const CommandLine kWithService[] = {
    {{"set", "tilt", "7"}, {}, 0, {"Tilt sensitivity: 7\n"}},
    {{"set", "tilt", "7", "--json"}, {}, 0, {R"("result": "held")", R"("reported": 7)"}},
    {{"set", "wedge", "9", "23", R"(C:\Apps\draw.exe)", "--json"}, {}, 0, {R"("result": "changed")"}},
    {{"dump"}, {}, 0,
        {R"(Versions +service 3\.1\.0, HID router 2\.4\.7\n)", R"(\nTilt sensitivity +7\n)",
         R"(\nWedge 9 \(Outside\) +23 "C:\\Apps\\draw\.exe"\n)"}},
    {{"dump", "--json"}, {}, 0, {R"("tilt": 7,)", R"("zoom": \[\s*0,\s*0,\s*100,\s*100\s*\])"}},
    {{"watch", "--seconds", "2"}, {"set " + kTilt + " 42"}, 0, {"^" + kTime + R"(  Tilt sensitivity +42\n(?!\d))"}},
    {{"watch", "--seconds", "2", "--json"}, {"set " + kTilt + " 43"}, 0,
        {R"(^\{"time":"\d{4}-\d\d-\d\dT)" + kTime + R"(Z","setting":"tilt","value":43\}\n(?!\{))"}},
    {{"capture", "--seconds", "3", "--json"}, {"sleep 300", "key Ctrl+", "key Alt+K"}, 0,
        {R"("keys": "Ctrl\+Alt\+K")"}},
    {{"capture", "--seconds", "0.5", "--json"}, {}, 4, {R"("keys": "")", R"("kind": "timeout")"}},
};

void RunLine(const CommandLine& line, ChildProcess* service) {
    std::string command;
    for (const std::string& word : line.arguments) command += word + " ";
    SCOPED_TRACE(command);
    ChildProcess cli(PTSA_CLI_PATH, line.arguments);
    if (!line.control.empty()) {
        // The note goes out as watching or capturing starts; the service's
        // "sleep" keeps the keys behind the capture's start message.
        ASSERT_TRUE(cli.WaitForError("; Ctrl-C", 20000));
        for (const std::string& control : line.control) service->WriteLine(control);
    }
    PevraNUV::test::Outcome outcome = cli.Finish(60000);
    std::string output = outcome.out + outcome.err;
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    EXPECT_EQ(outcome.exitCode, line.exitCode) << output;
    for (const std::string& pattern : line.shows)
        EXPECT_TRUE(std::regex_search(output, std::regex(pattern))) << pattern << "\n" << output;
}

TEST(Cli, CommandLinesAgainstTheReferenceService) {
    for (const CommandLine& line : kAlone) RunLine(line, nullptr);
    ChildProcess service(PTSA_SERVICE_PATH, {"--stdin-control"});
    ASSERT_TRUE(service.WaitForLine("ready", 20000));
    for (const CommandLine& line : kWithService) RunLine(line, &service);
}

}  // namespace
