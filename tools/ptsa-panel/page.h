// The page, with its style and script, and the shared worker's script,
// built into the program from page/ (see embed.cmake): nothing to deploy,
// nothing fetched from elsewhere.
#pragma once

namespace ptsa_panel {

// Holds the marker @nonce@ where the answer's nonce goes.
extern const char* const kPage;
extern const char* const kWorker;

}  // namespace ptsa_panel
