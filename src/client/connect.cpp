// Connecting to the service.
#include "client/settings_client.h"

namespace PevraNUV {

int SettingsClient::Connect(int, bool) { return 1; }

void SettingsClient::OpenPipes(bool, int& result) { result = 1; }


std::uint32_t SettingsClient::SyncThread(void*) { return 0; }

}  // namespace PevraNUV
