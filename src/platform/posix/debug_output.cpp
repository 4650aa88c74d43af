// Debugger output: standard error, as UTF-8.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace PevraNUV::platform {

void WriteDebugOutput(const wchar_t* text) {
    // Standard error takes the text as UTF-8, one write per message.
    std::string bytes;
    for (const wchar_t* unit = text; *unit; ++unit) {
        auto code = static_cast<std::uint32_t>(*unit);
        if (code < 0x80) {
            bytes += static_cast<char>(code);
        } else if (code < 0x800) {
            bytes += static_cast<char>(0xC0 | (code >> 6));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes += static_cast<char>(0xE0 | (code >> 12));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (code >> 18));
            bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    ssize_t ignored = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    (void)ignored;
}

}  // namespace PevraNUV::platform
