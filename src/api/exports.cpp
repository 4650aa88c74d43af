// The nineteen exported functions: thin entries that hand over to the
// client, the setters and key capture. No exception crosses this boundary.
#include "PTabletSettingsAPI.h"

#include "api/library.h"
#include "dispatch/registry.h"
#include "log/log.h"
#include "settings/catalogue.h"
#include "settings/key_capture.h"
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

}  // namespace

extern "C" {

int PevraNUV_Connect(int timeout) {
    int result = 1;
    Contained([&] { result = CurrentClient().Connect(timeout, false); });
    return result;
}

void PevraNUV_Shutdown(void) {
    Contained([] {
        SettingsClient* old = g_client.load();
        SettingsClient* fresh = SettingsClient::Create();
        // Stop the old link before the fresh client is published: a callback
        // still running on the old sync thread then reaches the old client,
        // which goes, and never leaves a registration in the fresh one.
        old->StopSyncThread();
        g_client.store(fresh);
        ApplyLogLevel(kDefaultLogLevel);
        SettingsClient::Destroy(old);
    });
}

void PevraNUV_SetLogLevel(int level) {
    Contained([&] {
        SettingsClient& client = CurrentClient();
        client.RunSerialized([&] {
            client.m_logLevel = level;
            ApplyLogLevel(level);
        });
    });
}

void PevraNUV_RegisterCallbacks(const PevraNUV_Callbacks* callbacks, void* context) {
    Contained([&] {
        SettingsClient& client = CurrentClient();
        client.RunSerialized([&] { RegisterHost(client, callbacks, context); });
    });
}

#define PEVRANUV_BUTTON_SETTER(name, baseId) \
    void name(const PevraNUV_ButtonFunction* record) { \
        Contained([&] { SetButtonFunction(*record, baseId); }); \
    }
PEVRANUV_BUTTON_SETTER(PevraNUV_SetEraserSinglePress, kEraserSingleId)
PEVRANUV_BUTTON_SETTER(PevraNUV_SetEraserDoublePress, kEraserDoubleId)
PEVRANUV_BUTTON_SETTER(PevraNUV_SetEraserLongPress, kEraserLongId)
PEVRANUV_BUTTON_SETTER(PevraNUV_SetTopSinglePress, kTopSwitchId)
PEVRANUV_BUTTON_SETTER(PevraNUV_SetBottomSinglePress, kBottomSwitchId)
#undef PEVRANUV_BUTTON_SETTER

void PevraNUV_SetMenuOp(int index, const PevraNUV_ButtonFunction* record) {
    if (index < 0 || index >= kWedgeCount) return;
    Contained([&] { SetButtonFunction(*record, WedgeBaseId(index)); });
}

#define PEVRANUV_SCALAR_SETTER(name, id) \
    void name(unsigned int value) { \
        Contained([&] { SetScalar(value, id); }); \
    }
PEVRANUV_SCALAR_SETTER(PevraNUV_SetTopHoverClick, kTopHoverClickId)
PEVRANUV_SCALAR_SETTER(PevraNUV_SetBottomHoverClick, kBottomHoverClickId)
PEVRANUV_SCALAR_SETTER(PevraNUV_SetMenuCenterRightClick, kMenuCenterRightClickId)
PEVRANUV_SCALAR_SETTER(PevraNUV_SetTiltSensitivity, kTiltSensitivityId)
PEVRANUV_SCALAR_SETTER(PevraNUV_SetTipSensitivity, kTipSensitivityId)
#undef PEVRANUV_SCALAR_SETTER

void PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap zoom) {
    Contained([&] { SetZoomMap(zoom); });
}

void PevraNUV_ResetSlavedDisplayZoom(void) {
    Contained([] { SetZoomMap(PevraNUV_ZoomMap{0, 0, 0, 0}); });
}

void PevraNUV_StartKeyCapture(void) {
    Contained([] { StartKeyCapture(CurrentClient()); });
}

void PevraNUV_FinishKeyCapture(PevraNUV_Char* buffer, size_t bufferBytes) {
    Contained([&] { FinishKeyCapture(CurrentClient(), buffer, bufferBytes); });
}

}  // extern "C"
