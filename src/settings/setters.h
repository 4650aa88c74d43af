// The setters' batches: each change travels as its write request followed
// by a read request of the same setting, so that the service's answer comes
// back through the value handlers. Composed on the caller's thread, without
// the client's lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "settings/setting_table.h"

namespace PevraNUV {

using Batch = std::vector<std::u16string>;

// A button's function, given the button's function code setting. The text
// travels only with the codes that carry one: the keystrokes, written to the
// keystroke definition and read back as the function name, and the
// application path, written and read back as itself.
Batch ComposeButtonFunction(const PevraNUV_ButtonFunction& record, SettingId function);
// A number, sent as its unsigned decimal text.
Batch ComposeScalar(std::uint32_t value, SettingId setting);
Batch ComposeZoomMap(const PevraNUV_ZoomMap& zoom);

}  // namespace PevraNUV
