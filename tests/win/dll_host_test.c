/*
 * A host as a Windows application writes one: it loads PTabletSettingsAPI.dll
 * by name at run time, resolves the exports by name and by ordinal, registers
 * a callback table, connects with no service running, reads the log record
 * the library wrote beside itself, shuts the library down and unloads it.
 * Prints one line per check and exits 0 only when every check passed.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "PTabletSettingsAPI.h"
#include "check.h"

/* The export table as hosts rely on it: ordinals follow the names'
 * alphabetical order. */
static const char* const kExports[] = {
    "PevraNUV_Connect",
    "PevraNUV_FinishKeyCapture",
    "PevraNUV_RegisterCallbacks",
    "PevraNUV_ResetSlavedDisplayZoom",
    "PevraNUV_SetBottomHoverClick",
    "PevraNUV_SetBottomSinglePress",
    "PevraNUV_SetEraserDoublePress",
    "PevraNUV_SetEraserLongPress",
    "PevraNUV_SetEraserSinglePress",
    "PevraNUV_SetLogLevel",
    "PevraNUV_SetMenuCenterRightClick",
    "PevraNUV_SetMenuOp",
    "PevraNUV_SetSlavedDisplayZoom",
    "PevraNUV_SetTiltSensitivity",
    "PevraNUV_SetTipSensitivity",
    "PevraNUV_SetTopHoverClick",
    "PevraNUV_SetTopSinglePress",
    "PevraNUV_Shutdown",
    "PevraNUV_StartKeyCapture",
};
#define EXPORT_COUNT (sizeof kExports / sizeof kExports[0])

typedef int (*ConnectFn)(int timeout);
typedef void (*ShutdownFn)(void);
typedef void (*SetLogLevelFn)(int level);
typedef void (*RegisterCallbacksFn)(const PevraNUV_Callbacks* callbacks, void* context);


/* ---- The registration reports --------------------------------------- */

struct Report {
    int slot;     /* 17, 18 or 19 */
    DWORD thread; /* the thread it arrived on */
    void* context;
    long first, second;
};

static struct Report g_reports[8];
static int g_reportCount;

static void Record(int slot, void* context, long first, long second) {
    if (g_reportCount < (int)(sizeof g_reports / sizeof g_reports[0])) {
        struct Report* report = &g_reports[g_reportCount];
        report->slot = slot;
        report->thread = GetCurrentThreadId();
        report->context = context;
        report->first = first;
        report->second = second;
    }
    ++g_reportCount;
}

static void OnWedgeCount(void* context, size_t count) { Record(17, context, (long)count, 0); }
static void OnRangeA(void* context, int32_t low, int32_t high) { Record(18, context, low, high); }
static void OnRangeB(void* context, int32_t low, int32_t high) { Record(19, context, low, high); }

/* ---- The log file ---------------------------------------------------- */

static int IsDigits(const char* text, int count) {
    for (int i = 0; i < count; ++i)
        if (text[i] < '0' || text[i] > '9') return 0;
    return 1;
}

static int Number(const char* text, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

/* Checks that the file holds exactly one record of message, written by this
 * process and thread at about the present local time. */
static void CheckLogRecord(const wchar_t* path, const char* message) {
    char content[512];
    size_t length = 0;
    FILE* file = _wfopen(path, L"rb");
    Check(file != NULL, "the log file exists beside the DLL");
    if (!file) return;
    length = fread(content, 1, sizeof content - 1, file);
    fclose(file);
    content[length] = '\0';
    printf("     log file: %s", content);

    /* "HH:MM:SS.mmm -- PPPPP/TTTTT -- " then the message, then CR LF. */
    char expectedIds[64];
    snprintf(expectedIds, sizeof expectedIds, " -- %05lu/%05lu -- ", (unsigned long)GetCurrentProcessId(),
             (unsigned long)GetCurrentThreadId());
    const size_t idsLength = strlen(expectedIds);
    const size_t messageLength = strlen(message);
    const int timeShaped = length >= 12 && IsDigits(content, 2) && content[2] == ':' && IsDigits(content + 3, 2) &&
                           content[5] == ':' && IsDigits(content + 6, 2) && content[8] == '.' &&
                           IsDigits(content + 9, 3);
    Check(timeShaped, "the record starts with the time as HH:MM:SS.mmm");
    Check(length == 12 + idsLength + messageLength + 2, "the file holds exactly one record (%u bytes)",
          (unsigned)length);
    if (!timeShaped || length != 12 + idsLength + messageLength + 2) return;
    Check(memcmp(content + 12, expectedIds, idsLength) == 0, "the record names this process and thread as%s",
          expectedIds);
    Check(memcmp(content + 12 + idsLength, message, messageLength) == 0, "the record carries \"%s\"", message);
    Check(memcmp(content + length - 2, "\r\n", 2) == 0, "the record ends with CR LF");

    SYSTEMTIME now;
    GetLocalTime(&now);
    int written = Number(content, 2) * 3600 + Number(content + 3, 2) * 60 + Number(content + 6, 2);
    int present = now.wHour * 3600 + now.wMinute * 60 + now.wSecond;
    int apart = (present - written + 86400) % 86400;
    Check(Number(content, 2) < 24 && Number(content + 3, 2) < 60 && Number(content + 6, 2) < 60 && apart <= 60,
          "the record's time is the local time (%d s ago)", apart);
}

/* ---- The host --------------------------------------------------------- */

int main(void) {
    const wchar_t* const dllName = L"PTabletSettingsAPI.dll";

    /* A log of an earlier run must not count: remove it before the library
     * can open it. It lies beside the DLL, which lies beside this program. */
    wchar_t logPath[MAX_PATH];
    DWORD folderLength = GetModuleFileNameW(NULL, logPath, MAX_PATH);
    while (folderLength > 0 && logPath[folderLength - 1] != L'\\' && logPath[folderLength - 1] != L'/')
        --folderLength;
    logPath[folderLength] = L'\0';
    wcsncat(logPath, L"PTabletSettingsAPI.log", MAX_PATH - wcslen(logPath) - 1);
    DeleteFileW(logPath);

    HMODULE library = LoadLibraryW(dllName);
    Check(library != NULL, "LoadLibraryW(\"PTabletSettingsAPI.dll\") (error %lu)",
          library ? 0ul : (unsigned long)GetLastError());
    if (!library) return 1;

    wchar_t dllPath[MAX_PATH];
    GetModuleFileNameW(library, dllPath, MAX_PATH);
    printf("     loaded %ls\n", dllPath);

    FARPROC byOrdinal[EXPORT_COUNT + 1] = {0};
    for (size_t i = 0; i < EXPORT_COUNT; ++i) {
        const WORD ordinal = (WORD)(i + 1);
        FARPROC byName = GetProcAddress(library, kExports[i]);
        byOrdinal[ordinal] = GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
        Check(byName != NULL && byName == byOrdinal[ordinal], "%-34s by name and by ordinal %2u: same address",
              kExports[i], ordinal);
    }
    Check(GetProcAddress(library, MAKEINTRESOURCEA(EXPORT_COUNT + 1)) == NULL, "no export at ordinal %u",
          (unsigned)(EXPORT_COUNT + 1));

    /* Calls go through the ordinals, as an application linked against the
     * import library by ordinal would make them. */
    ConnectFn connect = (ConnectFn)(void*)byOrdinal[1];
    RegisterCallbacksFn registerCallbacks = (RegisterCallbacksFn)(void*)byOrdinal[3];
    SetLogLevelFn setLogLevel = (SetLogLevelFn)(void*)byOrdinal[10];
    ShutdownFn shutdown = (ShutdownFn)(void*)byOrdinal[18];
    if (g_failures) return 1;

    static PevraNUV_Callbacks callbacks; /* every other slot stays null */
    callbacks.OnWedgeCount = OnWedgeCount;
    callbacks.OnRangeA = OnRangeA;
    callbacks.OnRangeB = OnRangeB;
    int context = 0;
    registerCallbacks(&callbacks, &context);
    const int reportsAtReturn = g_reportCount;
    Check(reportsAtReturn == 3, "three registration reports before RegisterCallbacks returned (%d)", reportsAtReturn);
    static const struct Report expected[3] = {
        {17, 0, NULL, 10, 0},
        {18, 0, NULL, 0, 6},
        {19, 0, NULL, -90, 90},
    };
    for (int i = 0; i < 3 && i < reportsAtReturn; ++i) {
        const struct Report* report = &g_reports[i];
        Check(report->slot == expected[i].slot && report->first == expected[i].first &&
                  report->second == expected[i].second,
              "report %d: slot %d with %ld, %ld", i + 1, report->slot, report->first, report->second);
        Check(report->thread == GetCurrentThreadId() && report->context == &context,
              "report %d arrived on the registering thread with its context", i + 1);
    }

    setLogLevel(5);
    const int connected = connect(0);
    Check(connected == 1, "PevraNUV_Connect(0) without a service returns 1 (%d)", connected);
    CheckLogRecord(logPath, "Timed out waiting for Service.");

    shutdown();
    Check(FreeLibrary(library) != 0, "FreeLibrary");
    Check(g_reportCount == 3, "no further callbacks");

    printf("%s: %d check(s) failed\n", g_failures ? "FAILED" : "PASSED", g_failures);
    fflush(stdout);
    return g_failures ? 1 : 0;
}
