// The process-wide client, built at load. The table of settings is a
// compile-time constant and the log's state is built in log/log.cpp; the
// client's constructor uses neither.
#include "api/library.h"

namespace PevraNUV {

std::atomic<SettingsClient*> g_client{new SettingsClient()};

}  // namespace PevraNUV
