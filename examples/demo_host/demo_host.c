/*
 * A small host of PTabletSettingsAPI, written against the public header
 * only: it registers a callback table that prints every callback it
 * receives, connects to the settings service, changes a few settings and
 * shows the answers arriving, captures keystrokes for two seconds, stays
 * connected a while longer if asked, and shuts the library down. Exits 1
 * when the service is not available.
 *
 *   ptsa_demo_host [seconds]    seconds to stay connected at the end (default 0)
 */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "PTabletSettingsAPI.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
static void SleepMilliseconds(int milliseconds) { Sleep((DWORD)milliseconds); }
#else
#include <time.h>
static void SleepMilliseconds(int milliseconds) {
    struct timespec pause;
    pause.tv_sec = milliseconds / 1000;
    pause.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    nanosleep(&pause, NULL);
}
#endif

/* ---- Printing the library's records ----------------------------------- */

/* Prints a zero-terminated UTF-16 text of at most capacity units as UTF-8,
 * in quotes. */
static void PrintText(const PevraNUV_Char* text, size_t capacity) {
    putchar('"');
    for (size_t i = 0; i < capacity && text[i] != 0; ++i) {
        unsigned long c = (unsigned long)(uint16_t)text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < capacity && (uint16_t)text[i + 1] >= 0xDC00 &&
            (uint16_t)text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + ((uint16_t)text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            putchar((int)c);
        } else if (c < 0x800) {
            putchar((int)(0xC0 | (c >> 6)));
            putchar((int)(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            putchar((int)(0xE0 | (c >> 12)));
            putchar((int)(0x80 | ((c >> 6) & 0x3F)));
            putchar((int)(0x80 | (c & 0x3F)));
        } else {
            putchar((int)(0xF0 | (c >> 18)));
            putchar((int)(0x80 | ((c >> 12) & 0x3F)));
            putchar((int)(0x80 | ((c >> 6) & 0x3F)));
            putchar((int)(0x80 | (c & 0x3F)));
        }
    }
    putchar('"');
}

#define TEXT(field) PrintText((field), sizeof(field) / sizeof((field)[0]))

static void PrintFunction(const PevraNUV_ButtonFunction* record) {
    printf("function %d text ", (int)record->function);
    TEXT(record->text);
}

static void Begin(const char* slot) { printf("callback %s: ", slot); }
static void End(void) {
    putchar('\n');
    fflush(stdout);
}

/* ---- The callback table ------------------------------------------------ */

static void OnVersions(void* context, const PevraNUV_Versions* versions) {
    (void)context;
    Begin("OnVersions");
    printf("HID router ");
    TEXT(versions->hidRouterVersion);
    printf(", service ");
    TEXT(versions->serviceVersion);
    End();
}

static void OnPenInfo(void* context, const PevraNUV_PenInfo* pen) {
    (void)context;
    Begin("OnPenInfo");
    printf("serial ");
    TEXT(pen->serialNumber);
    printf(", pen id ");
    TEXT(pen->penId);
    printf(", BT id ");
    TEXT(pen->btId);
    printf(", battery %d", (int)pen->batteryStatus);
    End();
}

static void PrintPress(const char* slot, const PevraNUV_ButtonFunction* functions, size_t index) {
    Begin(slot);
    printf("[%u] ", (unsigned)index);
    PrintFunction(&functions[index]);
    End();
}
static void OnEraserSinglePress(void* context, const PevraNUV_ButtonFunction* functions, size_t index) {
    (void)context;
    PrintPress("OnEraserSinglePress", functions, index);
}
static void OnEraserDoublePress(void* context, const PevraNUV_ButtonFunction* functions, size_t index) {
    (void)context;
    PrintPress("OnEraserDoublePress", functions, index);
}
static void OnEraserLongPress(void* context, const PevraNUV_ButtonFunction* functions, size_t index) {
    (void)context;
    PrintPress("OnEraserLongPress", functions, index);
}
static void OnMenuOp(void* context, const PevraNUV_ButtonFunction* wedges, size_t index) {
    (void)context;
    PrintPress("OnMenuOp", wedges, index);
}

static void PrintSideSwitch(const char* slot, const PevraNUV_SideSwitch* sideSwitch) {
    Begin(slot);
    PrintFunction(&sideSwitch->press);
    printf(", hover click %u", (unsigned)sideSwitch->hoverClick);
    End();
}
static void OnTopSwitch(void* context, const PevraNUV_SideSwitch* sideSwitch) {
    (void)context;
    PrintSideSwitch("OnTopSwitch", sideSwitch);
}
static void OnBottomSwitch(void* context, const PevraNUV_SideSwitch* sideSwitch) {
    (void)context;
    PrintSideSwitch("OnBottomSwitch", sideSwitch);
}

static void OnTipSensitivity(void* context, int32_t value) {
    (void)context;
    Begin("OnTipSensitivity");
    printf("%d", (int)value);
    End();
}
static void OnTiltSensitivity(void* context, int32_t value) {
    (void)context;
    Begin("OnTiltSensitivity");
    printf("%d", (int)value);
    End();
}

static void OnSlavedDisplayZoom(void* context, PevraNUV_ZoomMap zoom) {
    (void)context;
    Begin("OnSlavedDisplayZoom");
    printf("%d %d %d %d", (int)zoom.a, (int)zoom.b, (int)zoom.c, (int)zoom.d);
    End();
}

static void PrintOptions(const char* slot, const PevraNUV_ButtonFunction* options, size_t count) {
    Begin(slot);
    printf("%u option(s)", (unsigned)count);
    for (size_t i = 0; i < count; ++i) {
        printf("%s", i == 0 ? ": " : "; ");
        PrintFunction(&options[i]);
    }
    End();
}
static void OnRunAppOptions(void* context, const PevraNUV_ButtonFunction* options, size_t count) {
    (void)context;
    PrintOptions("OnRunAppOptions", options, count);
}
static void OnTopButtonSingleOptions(void* context, const PevraNUV_ButtonFunction* options, size_t count) {
    (void)context;
    PrintOptions("OnTopButtonSingleOptions", options, count);
}
static void OnTopButtonDoubleOptions(void* context, const PevraNUV_ButtonFunction* options, size_t count) {
    (void)context;
    PrintOptions("OnTopButtonDoubleOptions", options, count);
}
static void OnTopButtonLongOptions(void* context, const PevraNUV_ButtonFunction* options, size_t count) {
    (void)context;
    PrintOptions("OnTopButtonLongOptions", options, count);
}
static void OnSideSwitchOptions(void* context, const PevraNUV_ButtonFunction* options, size_t count) {
    (void)context;
    PrintOptions("OnSideSwitchOptions", options, count);
}
static void OnRadialWedgeOptions(void* context, const PevraNUV_ButtonFunction* options, size_t count) {
    (void)context;
    PrintOptions("OnRadialWedgeOptions", options, count);
}

static void OnWedgeCount(void* context, size_t count) {
    (void)context;
    Begin("OnWedgeCount");
    printf("%u", (unsigned)count);
    End();
}
static void OnRangeA(void* context, int32_t low, int32_t high) {
    (void)context;
    Begin("OnRangeA");
    printf("%d to %d", (int)low, (int)high);
    End();
}
static void OnRangeB(void* context, int32_t low, int32_t high) {
    (void)context;
    Begin("OnRangeB");
    printf("%d to %d", (int)low, (int)high);
    End();
}

/* The library keeps the table's address: it lives as long as the program. */
static const PevraNUV_Callbacks kCallbacks = {
    OnVersions,          OnPenInfo,           OnEraserSinglePress,      OnEraserDoublePress,
    OnEraserLongPress,   OnTopSwitch,         OnBottomSwitch,           OnMenuOp,
    OnTipSensitivity,    OnTiltSensitivity,   OnSlavedDisplayZoom,      OnRunAppOptions,
    OnTopButtonSingleOptions, OnTopButtonDoubleOptions, OnTopButtonLongOptions, OnSideSwitchOptions,
    OnRadialWedgeOptions, OnWedgeCount,       OnRangeA,                 OnRangeB,
};

/* Changes a few settings; the service's answers arrive through the
 * callbacks above, on the library's thread. */
static void ChangeSettings(void) {
    PevraNUV_ButtonFunction wedge;
    static const char path[] = "C:\\Tools\\notes.exe";
    PevraNUV_ZoomMap zoom = {1, -2, 300, 0};
    size_t i;
    memset(&wedge, 0, sizeof wedge);
    wedge.function = PevraNUV_FunctionRunApplication; /* the text is the application's path */
    for (i = 0; path[i]; ++i) wedge.text[i] = (PevraNUV_Char)path[i];

    printf("demo host: setting tilt 7, tip 3, zoom {1,-2,300,0} and wedge 0 to run %s\n", path);
    fflush(stdout);
    PevraNUV_SetTiltSensitivity(7);
    PevraNUV_SetTipSensitivity(3);
    PevraNUV_SetSlavedDisplayZoom(zoom);
    PevraNUV_SetMenuOp(0, &wedge);
}

/* Records keystrokes for a while, then prints what the service captured. */
static void CaptureKeys(int milliseconds) {
    PevraNUV_Char keys[256];
    printf("demo host: capturing keystrokes for %d ms\n", milliseconds);
    fflush(stdout);
    PevraNUV_StartKeyCapture();
    SleepMilliseconds(milliseconds);
    PevraNUV_FinishKeyCapture(keys, sizeof keys);
    printf("demo host: captured ");
    PrintText(keys, sizeof keys / sizeof keys[0]);
    printf("\n");
    fflush(stdout);
}

/* Waits while values arrive, asking once a second whether the service is
   there: the library reconnects by itself after the service restarts, and
   PevraNUV_Connect tells when it is away. */
static void ReceiveValues(int seconds) {
    int available = 1;
    for (int second = 0; second < seconds; ++second) {
        SleepMilliseconds(1000);
        int now = PevraNUV_Connect(0) == 0;
        if (now != available) {
            printf("demo host: %s\n", now ? "the service is back" : "the service is not available; waiting for it");
            fflush(stdout);
            available = now;
        }
    }
}

int main(int argc, char** argv) {
    int seconds = argc > 1 ? atoi(argv[1]) : 0;

    printf("demo host: registering the callback table\n");
    fflush(stdout);
    PevraNUV_RegisterCallbacks(&kCallbacks, NULL);

    printf("demo host: connecting to the settings service\n");
    fflush(stdout);
    int result = PevraNUV_Connect(0);
    printf("demo host: PevraNUV_Connect(0) returned %d (%s)\n", result,
           result == 0 ? "connected" : "the service is not available");
    fflush(stdout);

    if (result == 0) {
        SleepMilliseconds(1000); /* the handshake's values */
        ChangeSettings();
        SleepMilliseconds(1000);
        CaptureKeys(2000);
        if (seconds > 0) {
            printf("demo host: receiving values for %d s\n", seconds);
            fflush(stdout);
            ReceiveValues(seconds);
        }
    }

    PevraNUV_Shutdown();
    printf("demo host: shut down\n");
    return result;
}
