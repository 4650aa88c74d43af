// The host callback registry.
#pragma once

#include "PTabletSettingsAPI.h"

namespace PevraNUV {

class SettingsClient;

// The registration task: files the table (a table already filed keeps its
// place and takes the new context) and calls its slots 17, 18 and 19. A null
// table is ignored.
void RegisterHost(SettingsClient& client, const PevraNUV_Callbacks* callbacks, void* context);

}  // namespace PevraNUV
