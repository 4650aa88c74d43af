// Text as it travels on the pipes: UTF-16 code units, little-endian on the
// wire, and the UTF-8 of the command line, the control channel and the
// values file.
#pragma once

#include <string>
#include <string_view>

namespace settings_service {

using Text = std::u16string;

// The bytes of one pipe message: two per code unit, low byte first.
std::string ToWire(const Text& text);

// The code units of one pipe message; an odd last byte is dropped.
Text FromWire(const std::string& bytes);

// Invalid UTF-8 becomes U+FFFD; nothing is refused.
Text FromUtf8(std::string_view utf8);

// Lone surrogates become U+FFFD.
std::string ToUtf8(const Text& text);

// The decimal integer at the start of a text, after white space and an
// optional sign, as a client reads numbers; 0 when there is none. Digits
// past nine are ignored.
long LeadingInteger(const Text& text);

}  // namespace settings_service
