// The button-function, scalar and zoom-map setters.
#include "settings/setters.h"

#include "api/library.h"
#include "client/messages.h"
#include "settings/catalogue.h"

namespace PevraNUV {

namespace {

// The record's text up to its first zero unit, and never past its 512 units.
std::u16string TextOf(const PevraNUV_ButtonFunction& record) {
    constexpr std::size_t capacity = sizeof record.text / sizeof record.text[0];
    std::u16string text;
    for (std::size_t i = 0; i < capacity && record.text[i] != 0; ++i) text += static_cast<char16_t>(record.text[i]);
    return text;
}

void Queue(Batch batch) {
    SettingsClient& client = CurrentClient();
    client.RunSerialized([&] { client.EnqueueMessages(batch); });
}

}  // namespace

Batch ComposeButtonFunction(const PevraNUV_ButtonFunction& record, int baseId) {
    const std::u16string& key = KeyOf(baseId);
    Batch batch{wire::ComposeWriteRequest(key, wire::FormatSigned(record.function)), wire::ComposeReadRequest(key)};
    int textId = 0, readBackId = 0;
    if (record.function == kKeystrokesFunction) {
        textId = baseId + kKeystrokesOffset;
        readBackId = baseId + kFunctionNameOffset;
    } else if (record.function == kRunApplicationFunction) {
        textId = readBackId = baseId + kAppPathOffset;
    } else {
        return batch;
    }
    batch.push_back(wire::ComposeWriteRequest(KeyOf(textId), TextOf(record)));
    batch.push_back(wire::ComposeReadRequest(KeyOf(readBackId)));
    return batch;
}

Batch ComposeScalar(std::uint32_t value, int id) {
    const std::u16string& key = KeyOf(id);
    return {wire::ComposeWriteRequest(key, wire::FormatUnsigned(value)), wire::ComposeReadRequest(key)};
}

Batch ComposeZoomMap(const PevraNUV_ZoomMap& zoom) {
    const std::u16string& key = KeyOf(kZoomMapId);
    return {wire::ComposeZoomMapWrite(key, zoom.a, zoom.b, zoom.c, zoom.d), wire::ComposeReadRequest(key)};
}

void SetButtonFunction(const PevraNUV_ButtonFunction& record, int baseId) {
    Queue(ComposeButtonFunction(record, baseId));
}

void SetScalar(std::uint32_t value, int id) { Queue(ComposeScalar(value, id)); }

void SetZoomMap(const PevraNUV_ZoomMap& zoom) { Queue(ComposeZoomMap(zoom)); }

}  // namespace PevraNUV
