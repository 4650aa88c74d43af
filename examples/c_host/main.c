/* A minimal host in C99: prints what the service reports, changes the tilt
 * sensitivity, and shuts down. Build it against the installed package:
 *   cmake -S . -B build -DCMAKE_PREFIX_PATH=<prefix> && cmake --build build
 * or: cc main.c $(pkg-config --cflags --libs PTabletSettingsAPI) */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#endif
#include <stdio.h>
#include <stdlib.h>

#include <PTabletSettingsAPI.h>

#ifdef _WIN32
#include <windows.h>
static void SleepMilliseconds(unsigned ms) { Sleep(ms); }
#else
#include <time.h>
static void SleepMilliseconds(unsigned ms) {
    struct timespec pause;
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&pause, NULL);
}
#endif

/* Texts are UTF-16; this example prints their ASCII part. */
static void PrintText(const PevraNUV_Char* text) {
    for (; *text; ++text) putchar(*text < 128 ? (char)*text : '?');
}

static void OnVersions(void* context, const PevraNUV_Versions* versions) {
    (void)context;
    printf("service ");
    PrintText(versions->serviceVersion);
    printf(", HID router ");
    PrintText(versions->hidRouterVersion);
    printf("\n");
}

static void OnTiltSensitivity(void* context, int32_t value) {
    (void)context;
    printf("tilt sensitivity %ld\n", (long)value);
}

static void OnSlavedDisplayZoom(void* context, PevraNUV_ZoomMap zoom) {
    (void)context;
    printf("zoom map %ld %ld %ld %ld\n", (long)zoom.a, (long)zoom.b, (long)zoom.c, (long)zoom.d);
}

int main(int argc, char** argv) {
    /* The table must stay valid until PevraNUV_Shutdown. */
    static PevraNUV_Callbacks callbacks;
    unsigned tilt = argc > 1 ? (unsigned)strtoul(argv[1], NULL, 10) : 7;
    callbacks.OnVersions = OnVersions;
    callbacks.OnTiltSensitivity = OnTiltSensitivity;
    callbacks.OnSlavedDisplayZoom = OnSlavedDisplayZoom;

    PevraNUV_RegisterCallbacks(&callbacks, NULL);
    if (PevraNUV_Connect(0) != 0) {
        fprintf(stderr, "the settings service is not running\n");
        return 1;
    }
    PevraNUV_SetTiltSensitivity(tilt);
    SleepMilliseconds(500); /* the answers arrive on the library's thread */
    fflush(stdout);
    PevraNUV_Shutdown();
    return 0;
}
