// The process-wide client.
#pragma once

#include <atomic>

#include "client/settings_client.h"

namespace PevraNUV {

// The current client; never null while the library is loaded. Every export
// reads it once at entry. PevraNUV_Shutdown replaces it. A client is never
// freed at unload: a host that unloads without PevraNUV_Shutdown may leave
// its sync thread running (the Windows DLL pins itself for that reason).
extern std::atomic<SettingsClient*> g_client;

inline SettingsClient& CurrentClient() { return *g_client.load(); }

}  // namespace PevraNUV
