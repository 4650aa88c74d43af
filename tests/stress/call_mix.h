// Host threads that call every function of the library at once, each
// keeping the list of batches it queued, and the check that a list of sent
// messages is made of those batches: each one whole, each caller's in the
// order of its calls.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "PTabletSettingsAPI.h"
#include "settings/setters.h"

namespace PevraNUV::stress {

// What one caller queued. Every change carries a tag made of the caller's
// index and a sequence number, so that each of its batches holds a message
// no other batch holds. The fixed batches (zoom reset, key capture) are the
// same for every caller: only their number is known.
struct Caller {
    explicit Caller(int index);

    std::uint32_t NextTag() { return static_cast<std::uint32_t>(index + 1) * 1000000u + ++sequence; }
    // Calls the tip-sensitivity setter with a new tag and records its batch;
    // returns the tag.
    std::uint32_t SetTaggedTip();

    int index;
    std::uint32_t sequence = 0;
    std::vector<Batch> batches;
    std::map<Batch, int> fixed;
    // Registered with this caller as context: its OnRangeB calls a setter.
    PevraNUV_Callbacks table{};
};

// One round of calls on the calling thread: every setter (and SetMenuOp with
// an index out of range, which queues nothing), the zoom reset, both key
// capture functions, PevraNUV_RegisterCallbacks and PevraNUV_SetLogLevel.
// pace, when given, runs before each iteration.
void RunMix(Caller& caller, int iterations, const std::function<void()>& pace = {});

// The three fixed batches.
std::vector<Batch> FixedBatches();

// Empty when sent is exactly the callers' batches, each whole, each caller's
// in its call order, plus the fixed batches in the numbers recorded;
// otherwise what is wrong, first fault first.
std::string CheckInterleaving(const std::vector<std::u16string>& sent, const std::vector<const Caller*>& callers);

}  // namespace PevraNUV::stress
