// What differs between the platforms for a console program: the command
// line as UTF-8, UTF-8 output, and Ctrl-C.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace ptsa_cli {

// The arguments in UTF-8, the program's name first.
std::vector<std::string> CommandLine(int argc, char** argv);

// Makes a console show UTF-8 output.
void PrepareConsole();

// From now on Ctrl-C (and a request to terminate) sets the flag that
// Interrupted returns instead of ending the program.
void CatchInterrupts();
const std::atomic<bool>& Interrupted();

}  // namespace ptsa_cli
