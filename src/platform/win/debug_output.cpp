// Debugger output.
#include "platform/win/internal.h"

namespace PevraNUV::platform {

void WriteDebugOutput(const wchar_t* text) { ::OutputDebugStringW(text); }

}  // namespace PevraNUV::platform
