// The setters' batches.
#include "settings/setters.h"

#include "settings/requests.h"

namespace PevraNUV {

namespace {

// The record's text up to its first zero unit, and never past its 512 units.
std::u16string TextOf(const PevraNUV_ButtonFunction& record) {
    std::u16string text;
    for (PevraNUV_Char unit : record.text) {
        if (unit == 0) break;
        text += static_cast<char16_t>(unit);
    }
    return text;
}

Batch WriteAndReadBack(std::u16string_view key, std::u16string_view value) {
    return {wire::ComposeWriteRequest(key, value), wire::ComposeReadRequest(key)};
}

}  // namespace

Batch ComposeButtonFunction(const PevraNUV_ButtonFunction& record, SettingId function) {
    const ButtonSettings button = ButtonGroup(function);
    Batch batch = WriteAndReadBack(KeyById(function), wire::FormatSigned(record.function));
    if (record.function == PevraNUV_FunctionKeystrokes) {
        batch.push_back(wire::ComposeWriteRequest(KeyById(button.keystrokes), TextOf(record)));
        batch.push_back(wire::ComposeReadRequest(KeyById(button.name)));
    } else if (record.function == PevraNUV_FunctionRunApplication) {
        const std::u16string_view path = KeyById(button.appPath);
        batch.push_back(wire::ComposeWriteRequest(path, TextOf(record)));
        batch.push_back(wire::ComposeReadRequest(path));
    }
    return batch;
}

Batch ComposeScalar(std::uint32_t value, SettingId setting) {
    return WriteAndReadBack(KeyById(setting), wire::FormatUnsigned(value));
}

Batch ComposeZoomMap(const PevraNUV_ZoomMap& zoom) {
    const std::u16string_view key = KeyById(SettingId::SlavedDisplayZoomMap);
    return {wire::ComposeZoomMapWrite(key, zoom.a, zoom.b, zoom.c, zoom.d), wire::ComposeReadRequest(key)};
}

}  // namespace PevraNUV
