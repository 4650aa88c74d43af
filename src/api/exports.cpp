// The nineteen exported functions: thin entries that hand over to the
// client, the setters and key capture. No exception crosses this boundary.
#include "PTabletSettingsAPI.h"

#include <memory>

#include "api/library.h"
#include "client/key_capture.h"
#include "log/log.h"
#include "settings/setters.h"

using namespace PevraNUV;

namespace {

// Runs one export's body; whatever it throws stays inside the library.
template <typename Body>
void Contained(Body body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

// Queues a setter's batch whole on the current client.
void Queue(const Batch& batch) {
    SettingsClient& client = CurrentClient();
    client.RunSerialized([&] { client.EnqueueMessages(batch); });
}

}  // namespace

extern "C" {

int PevraNUV_Connect(int timeout) {
    int result = 1;
    Contained([&] { result = CurrentClient().Connect(timeout, false); });
    return result;
}

void PevraNUV_Shutdown(void) {
    Contained([] {
        auto fresh = std::make_unique<SettingsClient>();
        SettingsClient* old = g_client.load();
        // Stop the old link before the fresh client is published: a callback
        // still running on the old sync thread then reaches the old client,
        // which goes, and never leaves a registration in the fresh one. When
        // this returns the old sync thread has ended.
        old->StopSyncThread();
        g_client.store(fresh.release());
        ApplyLogLevel(kDefaultLogLevel);
        delete old;
    });
}

void PevraNUV_SetLogLevel(int level) {
    Contained([&] { ApplyLogLevel(level); });
}

void PevraNUV_RegisterCallbacks(const PevraNUV_Callbacks* callbacks, void* context) {
    Contained([&] {
        SettingsClient& client = CurrentClient();
        client.RunSerialized([&] { client.Hosts().Register(callbacks, context); });
    });
}

#define PEVRANUV_BUTTON_SETTER(name, function) \
    void name(const PevraNUV_ButtonFunction* record) { \
        Contained([&] { Queue(ComposeButtonFunction(*record, SettingId::function)); }); \
    }
PEVRANUV_BUTTON_SETTER(PevraNUV_SetEraserSinglePress, EraserSingleFunction)
PEVRANUV_BUTTON_SETTER(PevraNUV_SetEraserDoublePress, EraserDoubleFunction)
PEVRANUV_BUTTON_SETTER(PevraNUV_SetEraserLongPress, EraserLongFunction)
PEVRANUV_BUTTON_SETTER(PevraNUV_SetTopSinglePress, TopSwitchFunction)
PEVRANUV_BUTTON_SETTER(PevraNUV_SetBottomSinglePress, BottomSwitchFunction)
#undef PEVRANUV_BUTTON_SETTER

void PevraNUV_SetMenuOp(int index, const PevraNUV_ButtonFunction* record) {
    if (index < 0 || index >= kWedgeCount) return;
    Contained([&] { Queue(ComposeButtonFunction(*record, WedgeFunction(index))); });
}

#define PEVRANUV_SCALAR_SETTER(name, setting) \
    void name(unsigned int value) { \
        Contained([&] { Queue(ComposeScalar(value, SettingId::setting)); }); \
    }
PEVRANUV_SCALAR_SETTER(PevraNUV_SetTopHoverClick, TopHoverClick)
PEVRANUV_SCALAR_SETTER(PevraNUV_SetBottomHoverClick, BottomHoverClick)
PEVRANUV_SCALAR_SETTER(PevraNUV_SetMenuCenterRightClick, MenuCenterRightClick)
PEVRANUV_SCALAR_SETTER(PevraNUV_SetTiltSensitivity, TiltSensitivity)
PEVRANUV_SCALAR_SETTER(PevraNUV_SetTipSensitivity, TipSensitivity)
#undef PEVRANUV_SCALAR_SETTER

void PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap zoom) {
    Contained([&] { Queue(ComposeZoomMap(zoom)); });
}

void PevraNUV_ResetSlavedDisplayZoom(void) {
    Contained([] { Queue(ComposeZoomMap(PevraNUV_ZoomMap{0, 0, 0, 0})); });
}

void PevraNUV_StartKeyCapture(void) {
    Contained([] { StartKeyCapture(CurrentClient()); });
}

void PevraNUV_FinishKeyCapture(PevraNUV_Char* buffer, size_t bufferBytes) {
    Contained([&] { FinishKeyCapture(CurrentClient(), buffer, bufferBytes); });
}

}  // extern "C"
