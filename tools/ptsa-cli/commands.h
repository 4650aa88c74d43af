// The commands of ptsa-cli, each a complete run of the library: register,
// connect, wait for the handshake's values, work, shut down.
#pragma once

#include <functional>
#include <string>

#include "reports.h"

namespace ptsa_cli {

// Exit codes; the help text lists them.
enum ExitCode : int {
    kOk = 0,
    kFailed = 1,
    kBadArgument = 2,
    kNoService = 3,
    kTimedOut = 4,
    kOtherValue = 5,
    kInterrupted = 130,
};

struct Options {
    bool json = false;
    int timeoutMs = 5000;  // for the handshake's values and for a set's answer
    int quietMs = 300;     // a pause that ends the handshake or lets a message leave
    int logLevel = 3;      // the library's diagnostic log level
};

// One setter call and what the service should report back.
struct Change {
    std::string setting;  // a key of the settings view
    int index = -1;       // the wedge, for "wedges"
    Json requested;       // what the command line asked for
    Json expected;        // a value, or an object with the fields the reported value must hold
    std::function<void(ptsa::Session&)> send;
    bool reportedBack = true;  // false: the library reports the setting to nobody
    std::string unreported;    // what is sent but never read back, if anything
};

int Dump(const Options& options);
int Watch(const Options& options, double seconds);
int Set(const Options& options, const Change& change);
int Capture(const Options& options, double seconds);

// Reports a failure in the form the options ask for and returns its code.
int Fail(const Options& options, ExitCode code, const std::string& message, Json result = Json::object());

}  // namespace ptsa_cli
