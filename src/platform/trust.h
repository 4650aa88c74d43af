// Whom the library lets hold the user's settings on Windows, as a rule of
// four facts: the user and the session of a pipe's server process, and
// those of the caller. A named pipe's name belongs to whoever creates it
// first, so the rule is checked on every pipe before a byte is written
// (a server can impersonate its client only after reading from it).
//
// Accepted: a process of the caller's own user in the caller's own session,
// or LocalSystem in any session (a settings service may run as a Windows
// service in session 0 and serve the pipes of every session). Users are
// security identifiers in their string form ("S-1-5-21-..."); an empty one
// (a query that failed) is never accepted.
#pragma once

#include <cstdint>
#include <string_view>

namespace PevraNUV::platform {

inline constexpr std::u16string_view kLocalSystemUser = u"S-1-5-18";

constexpr bool MayServeSettings(std::u16string_view serverUser, std::uint32_t serverSession,
                                std::u16string_view callerUser, std::uint32_t callerSession) {
    if (serverUser.empty()) return false;
    if (serverUser == kLocalSystemUser) return true;
    return serverUser == callerUser && serverSession == callerSession;
}

}  // namespace PevraNUV::platform
