// The host registry: the callback tables the hosts registered, each with its
// context, and the one way the library calls a host.
#pragma once

#include <cstdint>
#include <map>

#include "PTabletSettingsAPI.h"

namespace PevraNUV {

class HostRegistry {
public:
    // Files the table (a table already filed keeps its place and takes the
    // new context) and calls its slots 17, 18 and 19 at once, on the calling
    // thread. A null table is ignored.
    void Register(const PevraNUV_Callbacks* callbacks, void* context);

    // Calls one slot of every registered table, in ascending address order;
    // a null slot is skipped. The table is read at the call, so a slot the
    // host changed takes effect at once.
    template <typename Slot, typename... Args>
    void NotifyHosts(Slot PevraNUV_Callbacks::*slot, Args... args) const {
        for (const auto& [table, context] : m_callbackTables) {
            if (auto callback = table->*slot) callback(context, args...);
        }
    }

private:
    struct ByAddress {
        bool operator()(const PevraNUV_Callbacks* a, const PevraNUV_Callbacks* b) const {
            return reinterpret_cast<std::uintptr_t>(a) < reinterpret_cast<std::uintptr_t>(b);
        }
    };
    std::map<const PevraNUV_Callbacks*, void*, ByAddress> m_callbackTables;
};

}  // namespace PevraNUV
