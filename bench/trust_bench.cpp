// Measures what the check of the pipes' server costs a connect, against the
// reference service: CONNECTS calls of PevraNUV_Connect (each followed by a
// Shutdown, outside the timing), each paired with one check alone
// (platform::PipeServersTrusted on two pipes this program holds open).
// Prints the medians and the median ratio; asserts nothing. On Linux the
// check is empty (the POSIX transport checks its peers as it opens).
//
//   ptsa_trust_bench [CONNECTS]   (100)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "child_process.h"
#include "platform/platform.h"
#include "posix_session.h"

using Clock = std::chrono::steady_clock;

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Work>
double Microseconds(Work work) {
    const Clock::time_point start = Clock::now();
    work();
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

std::u16string PipeName(const char16_t* pipe) {
    std::uint32_t session = 0;
    PevraNUV::platform::QuerySessionId(session);
    std::u16string name = u"\\\\.\\pipe\\";
    name += pipe;
    for (char digit : std::to_string(session)) name += static_cast<char16_t>(digit);
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    namespace platform = PevraNUV::platform;
    const int connects = argc > 1 ? std::atoi(argv[1]) : 100;
    if (!PevraNUV::test::EnterOwnPosixSession()) return 1;
    PevraNUV_Shutdown();  // a client of this session: the one made at load predates it
    PevraNUV::test::ChildProcess service(PTSA_SERVICE_PATH, {});
    if (!service.WaitForLine("ready", 30000)) return std::puts("the service did not start"), 1;

    const platform::UniqueHandle sendOnly(
        platform::OpenPipe(PipeName(u"PevraSettingsSyncherSendOnly_"), platform::PipeAccess::ReadOnly));
    const platform::UniqueHandle request(platform::OpenPipe(PipeName(u"PevraSettingsSyncher_"), platform::PipeAccess::ReadWrite));
    // Paired, round by round, so that both see the same moment of the machine.
    std::vector<double> connect, check, ratio;
    bool trusted = true;
    for (int round = 0; round < connects; ++round) {
        int result = 1;
        connect.push_back(Microseconds([&] { result = PevraNUV_Connect(-1); }));
        PevraNUV_Shutdown();
        if (result != 0) return std::printf("connect %d failed\n", round), 1;
        check.push_back(Microseconds([&] { trusted = platform::PipeServersTrusted(sendOnly.get(), request.get()) && trusted; }));
        ratio.push_back(check.back() / connect.back());
    }
    std::printf("PevraNUV_Connect: median %.1f us (%d connects)\n", Median(connect), connects);
    std::printf("the check alone: median %.1f us, %s; paired, %.2f of a connect (median)\n", Median(check),
                trusted ? "trusted" : "NOT trusted", Median(ratio));
    return 0;
}
