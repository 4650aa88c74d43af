/* A host as a Windows application writes one, in plain C: it loads
 * PTabletSettingsAPI.dll by name, finds every export by name and by its
 * ordinal (the names' alphabetical order), registers through the ordinal and
 * expects the three registration reports on its own thread, then shuts the
 * library down and unloads it. Exits 0 when every check passed. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "PTabletSettingsAPI.h"

static const char* const kExports[] = {
    "PevraNUV_Connect", "PevraNUV_FinishKeyCapture", "PevraNUV_RegisterCallbacks", "PevraNUV_ResetSlavedDisplayZoom",
    "PevraNUV_SetBottomHoverClick", "PevraNUV_SetBottomSinglePress", "PevraNUV_SetEraserDoublePress",
    "PevraNUV_SetEraserLongPress", "PevraNUV_SetEraserSinglePress", "PevraNUV_SetLogLevel",
    "PevraNUV_SetMenuCenterRightClick", "PevraNUV_SetMenuOp", "PevraNUV_SetSlavedDisplayZoom",
    "PevraNUV_SetTiltSensitivity", "PevraNUV_SetTipSensitivity", "PevraNUV_SetTopHoverClick",
    "PevraNUV_SetTopSinglePress", "PevraNUV_Shutdown", "PevraNUV_StartKeyCapture"};

static int g_failures;
static char g_reports[128]; /* "slot:first,second@thread;" a report */

static void Check(int ok, const char* what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    g_failures += !ok;
}

static void Report(void* context, int slot, long first, long second) {
    size_t used = strlen(g_reports);
    snprintf(g_reports + used, sizeof g_reports - used, "%d:%ld,%ld@%lu%s;", slot, first, second,
             (unsigned long)GetCurrentThreadId(), context == &g_failures ? "" : "?");
}
static void OnWedgeCount(void* context, size_t count) { Report(context, 17, (long)count, 0); }
static void OnRangeA(void* context, int32_t low, int32_t high) { Report(context, 18, low, high); }
static void OnRangeB(void* context, int32_t low, int32_t high) { Report(context, 19, low, high); }

int main(void) {
    HMODULE library = LoadLibraryW(L"PTabletSettingsAPI.dll");
    Check(library != NULL, "LoadLibraryW(\"PTabletSettingsAPI.dll\")");
    if (!library) return 1;
    for (WORD ordinal = 1; ordinal <= 19; ++ordinal) {
        FARPROC byName = GetProcAddress(library, kExports[ordinal - 1]);
        Check(byName && byName == GetProcAddress(library, MAKEINTRESOURCEA(ordinal)), kExports[ordinal - 1]);
    }
    Check(GetProcAddress(library, MAKEINTRESOURCEA(20)) == NULL, "no export at ordinal 20");

    static PevraNUV_Callbacks callbacks; /* every other slot null */
    callbacks.OnWedgeCount = OnWedgeCount;
    callbacks.OnRangeA = OnRangeA;
    callbacks.OnRangeB = OnRangeB;
    char expected[128];
    const unsigned long self = (unsigned long)GetCurrentThreadId();
    snprintf(expected, sizeof expected, "17:10,0@%lu;18:0,6@%lu;19:-90,90@%lu;", self, self, self);
    ((void (*)(const PevraNUV_Callbacks*, void*))(void*)GetProcAddress(library, MAKEINTRESOURCEA(3)))(&callbacks,
                                                                                                      &g_failures);
    printf("     reports %s\n", g_reports);
    Check(strcmp(g_reports, expected) == 0, "slots 17, 18, 19 reported on this thread before Register returned");
    ((void (*)(void))(void*)GetProcAddress(library, MAKEINTRESOURCEA(18)))();
    Check(FreeLibrary(library) != 0, "Shutdown and FreeLibrary");
    Check(strcmp(g_reports, expected) == 0, "no callback after them");
    return g_failures ? 1 : 0;
}
