// The host registry.
#include "dispatch/host_registry.h"

#include "dispatch/value_cache.h"

namespace PevraNUV {

namespace {

// What every registration reports: two ranges of values. Nothing says which
// setting each bounds; the hosts receive them as they are.
constexpr std::int32_t kRangeA[2] = {0, 6};
constexpr std::int32_t kRangeB[2] = {-90, 90};

}  // namespace

void HostRegistry::Register(const PevraNUV_Callbacks* callbacks, void* context) {
    if (!callbacks) return;
    m_callbackTables[callbacks] = context;
    if (callbacks->OnWedgeCount) callbacks->OnWedgeCount(context, kWedgeCount);
    if (callbacks->OnRangeA) callbacks->OnRangeA(context, kRangeA[0], kRangeA[1]);
    if (callbacks->OnRangeB) callbacks->OnRangeB(context, kRangeB[0], kRangeB[1]);
}

}  // namespace PevraNUV
