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
unsigned long ProcessId();

}  // namespace PevraNUV::test
