#include "call_mix.h"

#include <algorithm>
#include <sstream>

#include "settings/catalogue.h"
#include "settings/key_capture.h"

namespace PevraNUV::stress {

namespace {

struct ButtonSetter {
    void (*set)(const PevraNUV_ButtonFunction*);
    int baseId;
};
const ButtonSetter kButtonSetters[] = {
    {PevraNUV_SetEraserSinglePress, kEraserSingleId}, {PevraNUV_SetEraserDoublePress, kEraserDoubleId},
    {PevraNUV_SetEraserLongPress, kEraserLongId},     {PevraNUV_SetTopSinglePress, kTopSwitchId},
    {PevraNUV_SetBottomSinglePress, kBottomSwitchId},
};

struct ScalarSetter {
    void (*set)(unsigned int);
    int id;
};
const ScalarSetter kScalarSetters[] = {
    {PevraNUV_SetTopHoverClick, kTopHoverClickId},
    {PevraNUV_SetBottomHoverClick, kBottomHoverClickId},
    {PevraNUV_SetMenuCenterRightClick, kMenuCenterRightClickId},
    {PevraNUV_SetTiltSensitivity, kTiltSensitivityId},
    {PevraNUV_SetTipSensitivity, kTipSensitivityId},
};

const PevraNUV_ZoomMap kZeroZoom{0, 0, 0, 0};

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// A record tagged three ways in turn: a function code that is the tag (a
// batch of two), keystrokes naming the tag, an application path naming it
// (batches of four).
PevraNUV_ButtonFunction TaggedRecord(Caller& caller) {
    const std::uint32_t tag = caller.NextTag();
    PevraNUV_ButtonFunction record{};
    std::u16string text;
    switch (tag % 3) {
    case 0:
        record.function = static_cast<std::int32_t>(tag);
        break;
    case 1:
        record.function = kKeystrokesFunction;
        text = Widen("Ctrl+" + std::to_string(tag));
        break;
    default:
        record.function = kRunApplicationFunction;
        text = Widen("C:\\tools\\" + std::to_string(tag) + ".exe");
        break;
    }
    std::copy(text.begin(), text.end(), record.text);
    return record;
}

std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (char16_t unit : text) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    return narrow;
}

}  // namespace

Caller::Caller(int index) : index(index) {
    table.OnRangeB = [](void* context, std::int32_t, std::int32_t) { static_cast<Caller*>(context)->SetTaggedTip(); };
}

std::uint32_t Caller::SetTaggedTip() {
    const std::uint32_t tag = NextTag();
    PevraNUV_SetTipSensitivity(tag);
    batches.push_back(ComposeScalar(tag, kTipSensitivityId));
    return tag;
}

std::vector<Batch> FixedBatches() {
    return {ComposeZoomMap(kZeroZoom), {kStartKeyCaptureMessage}, {kFinishKeyCaptureMessage}};
}

void RunMix(Caller& caller, int iterations, const std::function<void()>& pace) {
    const std::vector<Batch> fixed = FixedBatches();
    for (int i = 0; i < iterations; ++i) {
        if (pace) pace();
        for (const ButtonSetter& setter : kButtonSetters) {
            const PevraNUV_ButtonFunction record = TaggedRecord(caller);
            setter.set(&record);
            caller.batches.push_back(ComposeButtonFunction(record, setter.baseId));
        }
        const int wedge = i % kWedgeCount;
        const PevraNUV_ButtonFunction record = TaggedRecord(caller);
        PevraNUV_SetMenuOp(wedge, &record);
        caller.batches.push_back(ComposeButtonFunction(record, WedgeBaseId(wedge)));
        PevraNUV_SetMenuOp(i % 2 ? -1 : kWedgeCount, &record);

        for (const ScalarSetter& setter : kScalarSetters) {
            const std::uint32_t tag = caller.NextTag();
            setter.set(tag);
            caller.batches.push_back(ComposeScalar(tag, setter.id));
        }
        const std::uint32_t tag = caller.NextTag();
        const PevraNUV_ZoomMap zoom{caller.index + 1, static_cast<std::int32_t>(tag), -1, 7};
        PevraNUV_SetSlavedDisplayZoom(zoom);
        caller.batches.push_back(ComposeZoomMap(zoom));

        PevraNUV_ResetSlavedDisplayZoom();
        ++caller.fixed[fixed[0]];
        PevraNUV_StartKeyCapture();
        ++caller.fixed[fixed[1]];
        PevraNUV_Char keys[16];
        PevraNUV_FinishKeyCapture(keys, sizeof keys);
        ++caller.fixed[fixed[2]];

        PevraNUV_RegisterCallbacks(&caller.table, &caller);  // its OnRangeB queues a batch
        PevraNUV_SetLogLevel(3 + i % 3);
    }
}

std::string CheckInterleaving(const std::vector<std::u16string>& sent, const std::vector<const Caller*>& callers) {
    std::vector<std::size_t> next(callers.size(), 0);
    std::map<Batch, int> fixedSeen;
    const std::vector<Batch> fixed = FixedBatches();
    std::size_t at = 0;
    const auto startsHere = [&](const Batch& batch) {
        return at + batch.size() <= sent.size() && std::equal(batch.begin(), batch.end(), sent.begin() + at);
    };
    while (at < sent.size()) {
        // A tagged batch holds a message no other batch holds, so at most
        // one caller's next batch can start here.
        bool matched = false;
        for (std::size_t c = 0; c < callers.size() && !matched; ++c) {
            const auto& batches = callers[c]->batches;
            if (next[c] < batches.size() && startsHere(batches[next[c]])) {
                at += batches[next[c]++].size();
                matched = true;
            }
        }
        for (std::size_t f = 0; f < fixed.size() && !matched; ++f) {
            if (startsHere(fixed[f])) {
                ++fixedSeen[fixed[f]];
                at += fixed[f].size();
                matched = true;
            }
        }
        if (!matched) {
            std::ostringstream fault;
            fault << "message " << at << " of " << sent.size() << " starts no caller's next batch: "
                  << Narrow(sent[at]);
            if (at > 0) fault << " (after " << Narrow(sent[at - 1]) << ")";
            return fault.str();
        }
    }
    std::ostringstream fault;
    std::map<Batch, int> fixedExpected;
    for (std::size_t c = 0; c < callers.size(); ++c) {
        if (next[c] != callers[c]->batches.size())
            fault << "caller " << callers[c]->index << ": " << next[c] << " of " << callers[c]->batches.size()
                  << " batches sent; ";
        for (const auto& [batch, count] : callers[c]->fixed) fixedExpected[batch] += count;
    }
    for (const Batch& batch : fixed) {
        if (fixedSeen[batch] != fixedExpected[batch])
            fault << "fixed batch " << Narrow(batch.front()) << ": " << fixedSeen[batch] << " sent, "
                  << fixedExpected[batch] << " queued; ";
    }
    return fault.str();
}

}  // namespace PevraNUV::stress
