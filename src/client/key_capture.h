// Key capture: the service records keystrokes between a start and a finish.
#pragma once

#include <cstddef>
#include <string>

#include "PTabletSettingsAPI.h"

namespace PevraNUV {

class SettingsClient;

inline const std::u16string kStartKeyCaptureMessage = uR"({"ComponentsDriver\\BTButtonHandler\\KeystrokeCapture":"1"})";
inline const std::u16string kFinishKeyCaptureMessage = uR"({"ComponentsDriver\\BTButtonHandler\\KeystrokeCapture":"0"})";

void StartKeyCapture(SettingsClient& client);
// Zeroes the buffer, queues the stop message, and hands over the captured
// keystrokes when they fit with their terminating zero. Returns false when
// they did not fit (the buffer stays zero; the keystrokes are gone).
bool FinishKeyCapture(SettingsClient& client, PevraNUV_Char* buffer, std::size_t bufferBytes);

}  // namespace PevraNUV
