#include "usage.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <vector>
#else
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#endif

#include <chrono>
#include <thread>

namespace PevraNUV::test {

#ifdef _WIN32

// The system's handle table (SystemExtendedHandleInformation) names the
// process of every handle. Wine keeps it exact, while its
// GetProcessHandleCount is a stub that says 0.
struct HandleEntry { void* object; ULONG_PTR processId, handle; ULONG access; USHORT trace, type; ULONG flags, spare; };

static long HandlesInSystemTable() {
    using Query = LONG(WINAPI*)(ULONG kind, void* buffer, ULONG size, ULONG* needed);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG kExtendedHandleInformation = 64;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<ULONG_PTR> table(1 << 14);  // a count, a reserved word, then the entries
    LONG status = kLengthMismatch;
    while (query && status == kLengthMismatch && table.size() < (1u << 26)) {
        table.resize(table.size() * 2);
        ULONG needed = 0;
        status = query(kExtendedHandleInformation, table.data(), static_cast<ULONG>(table.size() * sizeof table[0]),
                       &needed);
    }
    if (!query || status != 0) return -1;
    const auto* entries = reinterpret_cast<const HandleEntry*>(table.data() + 2);
    long count = 0;
    for (ULONG_PTR i = 0; i < table[0]; ++i) count += entries[i].processId == GetCurrentProcessId();
    return count;
}

Usage MeasureUsage() {
    Usage usage;
    usage.handles = HandlesInSystemTable();
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{sizeof entry};
    usage.threads = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        usage.threads += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    PROCESS_MEMORY_COUNTERS memory{sizeof memory};
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        usage.memoryKib = static_cast<long>(memory.PagefileUsage / 1024);  // Wine 8 leaves PrivateUsage unset
    return usage;
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

#else

static long Entries(const char* folder) {
    const std::filesystem::directory_iterator entries(folder);
    return static_cast<long>(std::distance(begin(entries), end(entries)));
}

Usage MeasureUsage() {
    Usage usage;
    usage.handles = Entries("/proc/self/fd") - 1;  // less the one that reads the folder
    usage.threads = Entries("/proc/self/task");
    long size = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> size >> resident;
    usage.memoryKib = resident * (sysconf(_SC_PAGESIZE) / 1024);
    return usage;
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

#endif

long ThreadsSettlingTo(long expected) {
    long threads = MeasureUsage().threads;
    for (int wait = 0; wait < 100 && threads != expected; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1)), threads = MeasureUsage().threads;
    return threads;
}

}  // namespace PevraNUV::test
