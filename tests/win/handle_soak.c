/*
 * Handle soak: a host that connects to the reference service, waits for the
 * handshake's last value, and shuts the library down, cycle after cycle.
 * After a warm-up cycle (whatever the first cycle opens once is reported
 * apart) the process's handle count must come back to exactly the same
 * number, and its thread count to the same number once the last sync
 * thread has exited. Private bytes, the working set and the time per cycle
 * are printed.
 *
 * Usage: ptsa_handle_soak SERVICE.exe [CYCLES]   (CYCLES 1000 by default)
 * Exits 0 only when every cycle connected and every check passed.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <psapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tlhelp32.h>
#include <wchar.h>

#include "PTabletSettingsAPI.h"
#include "check.h"


/* ---- What the process holds ------------------------------------------ */

struct Usage {
    long handles;               /* from the system's handle table; else GetProcessHandleCount */
    DWORD processHandleCount;   /* GetProcessHandleCount (Wine 8 always says 0) */
    int threads;
    SIZE_T privateBytes;        /* the commit charge (PagefileUsage) */
    SIZE_T workingSet;
};

/* The system's handle table (SystemExtendedHandleInformation) lists every
 * handle with the id of the process that holds it. Wine keeps it exact;
 * its GetProcessHandleCount is a stub. -1 when the table cannot be read. */
typedef LONG(WINAPI* QuerySystemInformation)(ULONG kind, PVOID buffer, ULONG size, PULONG needed);

struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    struct HandleEntry entries[1];
};

static long HandlesInSystemTable(void) {
    const ULONG kExtendedHandleInformation = 64;
    const LONG kLengthMismatch = (LONG)0xC0000004;
    QuerySystemInformation query =
        (QuerySystemInformation)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    ULONG size = 1 << 16, needed = 0;
    struct HandleTable* table = NULL;
    LONG status = kLengthMismatch;
    long count = -1;
    if (!query) return -1;
    while (status == kLengthMismatch && size <= (1u << 28)) {
        if (table) HeapFree(GetProcessHeap(), 0, table);
        table = (struct HandleTable*)HeapAlloc(GetProcessHeap(), 0, size);
        if (!table) return -1;
        status = query(kExtendedHandleInformation, table, size, &needed);
        size *= 2;
    }
    if (status == 0) {
        count = 0;
        for (ULONG_PTR i = 0; i < table->count; ++i)
            if (table->entries[i].processId == GetCurrentProcessId()) ++count;
    }
    HeapFree(GetProcessHeap(), 0, table);
    return count;
}

static int ThreadCount(void) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

static struct Usage Measure(void) {
    struct Usage usage = {0, 0, 0, 0, 0};
    PROCESS_MEMORY_COUNTERS memory;
    GetProcessHandleCount(GetCurrentProcess(), &usage.processHandleCount);
    usage.handles = HandlesInSystemTable();
    if (usage.handles < 0) usage.handles = (long)usage.processHandleCount;
    usage.threads = ThreadCount();
    /* PagefileUsage is the commit charge, the private bytes (Wine 8 leaves
     * PrivateUsage unset). From kernel32, so that no psapi is linked. */
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
        usage.privateBytes = memory.PagefileUsage;
        usage.workingSet = memory.WorkingSetSize;
    }
    return usage;
}

static void PrintUsage(const char* when, struct Usage usage) {
    printf("     %-20s handles %4ld (GetProcessHandleCount %lu)  threads %3d  private %8.1f KiB  working set %8.1f KiB\n",
           when, usage.handles, (unsigned long)usage.processHandleCount, usage.threads, usage.privateBytes / 1024.0,
           usage.workingSet / 1024.0);
}

/* The sync thread of a shut-down client has signalled its end but may
 * still be exiting: give the count a moment to settle. */
static struct Usage MeasureSettled(int expectedThreads) {
    struct Usage usage = Measure();
    for (int i = 0; i < 200 && usage.threads != expectedThreads; ++i) {
        Sleep(5);
        usage = Measure();
    }
    return usage;
}

/* ---- The service ----------------------------------------------------- */

struct Service {
    PROCESS_INFORMATION process;
    HANDLE input;
    HANDLE output;
};

/* Starts the service with its standard input and output on pipes; the end
 * of its input quits it. Returns 0 unless it printed "ready". */
static int LaunchService(struct Service* service, const wchar_t* path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    STARTUPINFOW startup;
    HANDLE inputRead, outputWrite;
    wchar_t command[MAX_PATH + 64];
    char line[64];
    DWORD length = 0, got = 0;
    char c;

    ZeroMemory(service, sizeof *service);
    if (!CreatePipe(&inputRead, &service->input, &inherit, 0)) return 0;
    if (!CreatePipe(&service->output, &outputWrite, &inherit, 0)) return 0;
    SetHandleInformation(service->input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(service->output, HANDLE_FLAG_INHERIT, 0);
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    swprintf(command, sizeof command / sizeof command[0], L"\"%ls\" --stdin-control", path);
    BOOL started = CreateProcessW(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &service->process);
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    if (!started) return 0;

    while (length < sizeof line - 1 && ReadFile(service->output, &c, 1, &got, NULL) && got == 1 && c != '\n')
        if (c != '\r') line[length++] = c;
    line[length] = '\0';
    return strcmp(line, "ready") == 0;
}

static void EndService(struct Service* service) {
    CloseHandle(service->input);
    if (service->process.hProcess) {
        if (WaitForSingleObject(service->process.hProcess, 5000) != WAIT_OBJECT_0)
            TerminateProcess(service->process.hProcess, 99);
        CloseHandle(service->process.hProcess);
        CloseHandle(service->process.hThread);
    }
    CloseHandle(service->output);
}

/* ---- One cycle ------------------------------------------------------- */

/* The slaved display zoom map is the last value the handshake asks for. */
static HANDLE g_handshakeDone;
static void OnSlavedDisplayZoom(void* context, PevraNUV_ZoomMap zoom) {
    (void)context;
    (void)zoom;
    SetEvent(g_handshakeDone);
}

static PevraNUV_Callbacks g_table;
static long g_connectRetries;

/* Registers, connects, waits for the handshake's end, shuts down. Returns
 * 0 unless the whole handshake arrived. */
static int Cycle(void) {
    int connected = 1;
    ResetEvent(g_handshakeDone);
    PevraNUV_RegisterCallbacks(&g_table, NULL);
    /* A wait of 1 ms for a free instance of the pipe: the service may still
     * be putting up a fresh one for the previous cycle's client. */
    for (int attempt = 0; attempt < 5000 && (connected = PevraNUV_Connect(0)) != 0; ++attempt) {
        ++g_connectRetries;
        Sleep(1);
    }
    int done = connected == 0 && WaitForSingleObject(g_handshakeDone, 10000) == WAIT_OBJECT_0;
    PevraNUV_Shutdown();
    return done;
}

int main(int argc, char** argv) {
    struct Service service;
    wchar_t servicePath[MAX_PATH];
    const long cycles = argc > 2 ? atol(argv[2]) : 1000;
    if (argc < 2 || cycles < 1 || !MultiByteToWideChar(CP_ACP, 0, argv[1], -1, servicePath, MAX_PATH)) {
        fprintf(stderr, "usage: %s SERVICE.exe [CYCLES]\n", argv[0]);
        return 2;
    }
    setvbuf(stdout, NULL, _IONBF, 0);
    g_table.OnSlavedDisplayZoom = OnSlavedDisplayZoom;
    g_handshakeDone = CreateEventW(NULL, TRUE, FALSE, NULL);

    if (!LaunchService(&service, servicePath)) {
        Check(0, "the service %s started", argv[1]);
        EndService(&service);
        return 1;
    }

    struct Usage start = Measure();
    PrintUsage("before the warm-up:", start);
    Check(Cycle(), "the warm-up cycle connected and received the handshake");
    struct Usage warm = MeasureSettled(start.threads);
    PrintUsage("after the warm-up:", warm);
    printf("     the warm-up cycle kept %ld handle(s) and %d thread(s) for good\n", warm.handles - start.handles,
           warm.threads - start.threads);

    LARGE_INTEGER frequency, begin, end;
    long completed = 0;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    for (long i = 0; i < cycles; ++i) completed += Cycle();
    QueryPerformanceCounter(&end);
    const double seconds = (double)(end.QuadPart - begin.QuadPart) / (double)frequency.QuadPart;

    struct Usage after = MeasureSettled(warm.threads);
    PrintUsage("after the cycles:", after);
    printf("     %ld cycles in %.2f s: %.2f ms a cycle; %ld connect retries\n", cycles, seconds,
           1000.0 * seconds / (double)cycles, g_connectRetries);
    printf("     private bytes %+.1f KiB in all, %+.1f bytes a cycle\n",
           ((double)after.privateBytes - (double)warm.privateBytes) / 1024.0,
           ((double)after.privateBytes - (double)warm.privateBytes) / (double)cycles);

    Check(completed == cycles, "%ld of %ld cycles connected and received the whole handshake", completed, cycles);
    Check(after.handles == warm.handles && after.processHandleCount == warm.processHandleCount,
          "the handle count is the same after the cycles (%ld, was %ld)", after.handles, warm.handles);
    Check(after.threads == warm.threads, "the thread count is the same after the cycles (%d, was %d)",
          after.threads, warm.threads);

    EndService(&service);
    CloseHandle(g_handshakeDone);
    return g_failures == 0 ? 0 : 1;
}
