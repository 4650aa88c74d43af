// The host callback registry.
#include "dispatch/registry.h"

#include "client/settings_client.h"
#include "settings/catalogue.h"

namespace PevraNUV {

void RegisterHost(SettingsClient& client, const PevraNUV_Callbacks* callbacks, void* context) {
    if (!callbacks) return;
    client.m_callbackTables[callbacks] = context;
    if (callbacks->OnWedgeCount) callbacks->OnWedgeCount(context, kWedgeCount);
    if (callbacks->OnRangeA) callbacks->OnRangeA(context, client.m_ranges[0], client.m_ranges[1]);
    if (callbacks->OnRangeB) callbacks->OnRangeB(context, client.m_ranges[2], client.m_ranges[3]);
}

}  // namespace PevraNUV
