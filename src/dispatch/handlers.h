// The value handlers: each turns a received value into the cache's form and,
// when the value changed, tells every registered host.
#pragma once

#include <string_view>

#include "dispatch/bindings.h"
#include "dispatch/host_registry.h"
#include "dispatch/value_cache.h"

namespace PevraNUV {

// Runs the handler of binding's family on one received value. The caller
// holds the client's lock (handlers run as tasks on the sync thread).
void HandleValue(const Binding& binding, ValueCache& cache, const HostRegistry& hosts, std::u16string_view value);

}  // namespace PevraNUV
