// What this process holds, for the leak checks: open handles (descriptors),
// threads and memory.
#pragma once

namespace PevraNUV::test {

struct Usage {
    long handles = -1;
    long threads = -1;
    long memoryKib = -1;  // resident (Linux) or private (Windows)
};

Usage MeasureUsage();
// The thread count once it is `expected`, or after 100 ms: a thread that has
// been joined may still be listed for a moment while the kernel ends it.
long ThreadsSettlingTo(long expected);
unsigned long ProcessId();

}  // namespace PevraNUV::test
