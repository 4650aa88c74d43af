// What the pages receive: every value the library reports, as one event
// of the stream each (a kind and a JSON object), published to the hub.
#pragma once

#include <PTabletSettings.hpp>

#include "hub.h"

namespace ptsa_panel {

// Handlers that publish each value they receive. They run on the panel's
// own thread (the session's queue), never on the library's.
ptsa::Handlers Handlers(Hub& hub);

void PublishRegistration(Hub& hub, const ptsa::Registration& registration);
// Also says so on the standard error.
void PublishConnection(Hub& hub, bool available);
// recording: the capture started; else it finished with keys.
void PublishCapture(Hub& hub, bool recording, const ptsa::Text& keys);

}  // namespace ptsa_panel
