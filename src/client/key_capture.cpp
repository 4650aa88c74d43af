// Key capture.
#include "client/key_capture.h"

#include <cstring>

#include "client/settings_client.h"
#include "log/log.h"

namespace PevraNUV {

void StartKeyCapture(SettingsClient& client) {
    client.RunSerialized([&] { client.EnqueueMessage(kStartKeyCaptureMessage); });
}

bool FinishKeyCapture(SettingsClient& client, PevraNUV_Char* buffer, std::size_t bufferBytes) {
    if (buffer && bufferBytes) std::memset(buffer, 0, bufferBytes);
    const std::size_t capacity = bufferBytes / 2;
    bool tooSmall = false;
    client.RunSerialized([&] {
        // The stop message is queued and the keystrokes taken in one hold of
        // the lock, so a value the sync thread dispatches lands before both
        // (and is handed over) or after both (and waits for the next
        // capture). The queueing nests as a task of its own, as every
        // queueing does; the lock is recursive.
        client.RunSerialized([&] { client.EnqueueMessage(kFinishKeyCaptureMessage); });
        const std::u16string& keys = client.Cache().m_capturedKeys;
        if (capacity >= keys.size() + 1) {
            for (std::size_t i = 0; i < keys.size(); ++i) buffer[i] = static_cast<PevraNUV_Char>(keys[i]);
        } else {
            tooSmall = true;
            Log(kLogKeyCaptureBufferTooSmall);
        }
        client.Cache().m_capturedKeys.clear();
    });
    return !tooSmall;
}

}  // namespace PevraNUV
