// The setters: each composes its batch on the caller's thread, without the
// lock, and queues it whole on the current client.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PTabletSettingsAPI.h"

namespace PevraNUV {

using Batch = std::vector<std::u16string>;

// Function codes that carry a text.
constexpr std::int32_t kKeystrokesFunction = 8;
constexpr std::int32_t kRunApplicationFunction = 23;

Batch ComposeButtonFunction(const PevraNUV_ButtonFunction& record, int baseId);
Batch ComposeScalar(std::uint32_t value, int id);
Batch ComposeZoomMap(const PevraNUV_ZoomMap& zoom);

void SetButtonFunction(const PevraNUV_ButtonFunction& record, int baseId);
void SetScalar(std::uint32_t value, int id);
void SetZoomMap(const PevraNUV_ZoomMap& zoom);

}  // namespace PevraNUV
