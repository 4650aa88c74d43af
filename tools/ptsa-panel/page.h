// The page, with its style and script, built into the program from page/
// (see embed.cmake): nothing to deploy, nothing fetched from elsewhere.
#pragma once

namespace ptsa_panel {

extern const char* const kPage;

}  // namespace ptsa_panel
