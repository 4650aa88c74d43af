// The process and its POSIX session (the session names the pipes).
#include <unistd.h>

#include "platform/platform.h"

namespace PevraNUV::platform {

bool QuerySessionId(std::uint32_t& sessionId) {
    pid_t session = ::getsid(0);
    if (session < 0) return false;
    sessionId = static_cast<std::uint32_t>(session);
    return true;
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace PevraNUV::platform
