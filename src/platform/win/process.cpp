// The process and its Windows session (the session names the pipes).
#include "platform/win/internal.h"

namespace PevraNUV::platform {

bool QuerySessionId(std::uint32_t& sessionId) {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return false;
    sessionId = session;
    return true;
}

std::uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

}  // namespace PevraNUV::platform
