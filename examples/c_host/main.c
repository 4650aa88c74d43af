/* A minimal host in C99: prints what the service reports, changes the tilt
 * sensitivity, waits (at most five seconds) until the service has confirmed
 * the change, and shuts down.
 *
 *   c_host [TILT]     TILT defaults to 7
 *
 * Exit status: 0 the change was confirmed, 1 the settings service is not
 * running, 2 it did not confirm the change in time.
 *
 * Build it against the installed package:
 *   cmake -S . -B build -DCMAKE_PREFIX_PATH=<prefix> && cmake --build build
 * or: cc -std=c99 main.c $(pkg-config --cflags --libs PTabletSettingsAPI) -pthread */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L /* clock_gettime, pthread_cond_timedwait */
#endif
#include <stdio.h>
#include <stdlib.h>

#include <PTabletSettingsAPI.h>

/* Callbacks run on the library's thread: the value they report reaches the
 * main thread through a lock and a wake-up of its own. */
#ifdef _WIN32
#include <windows.h>
static CRITICAL_SECTION g_lock;
static CONDITION_VARIABLE g_changed;
static void InitSignal(void) {
    InitializeCriticalSection(&g_lock);
    InitializeConditionVariable(&g_changed);
}
static void Lock(void) { EnterCriticalSection(&g_lock); }
static void Unlock(void) { LeaveCriticalSection(&g_lock); }
static void WakeAll(void) { WakeAllConditionVariable(&g_changed); }
static DWORD g_deadline;
static void StartDeadline(unsigned ms) { g_deadline = GetTickCount() + ms; }
/* Waits for a wake-up until the deadline; 0 once it has passed. */
static int WaitUntilDeadline(void) {
    LONG left = (LONG)(g_deadline - GetTickCount());
    return left > 0 && SleepConditionVariableCS(&g_changed, &g_lock, (DWORD)left);
}
#else
#include <pthread.h>
#include <time.h>
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_changed = PTHREAD_COND_INITIALIZER;
static void InitSignal(void) {}
static void Lock(void) { pthread_mutex_lock(&g_lock); }
static void Unlock(void) { pthread_mutex_unlock(&g_lock); }
static void WakeAll(void) { pthread_cond_broadcast(&g_changed); }
static struct timespec g_deadline;
static void StartDeadline(unsigned ms) {
    clock_gettime(CLOCK_REALTIME, &g_deadline);
    g_deadline.tv_sec += ms / 1000;
    g_deadline.tv_nsec += (long)(ms % 1000) * 1000000L;
    if (g_deadline.tv_nsec >= 1000000000L) {
        g_deadline.tv_sec += 1;
        g_deadline.tv_nsec -= 1000000000L;
    }
}
static int WaitUntilDeadline(void) { return pthread_cond_timedwait(&g_changed, &g_lock, &g_deadline) == 0; }
#endif

static long g_tilt = -1; /* the last tilt sensitivity reported, under g_lock */

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
    Lock();
    g_tilt = value;
    WakeAll();
    Unlock();
}

static void OnSlavedDisplayZoom(void* context, PevraNUV_ZoomMap zoom) {
    (void)context;
    printf("zoom map %ld %ld %ld %ld\n", (long)zoom.a, (long)zoom.b, (long)zoom.c, (long)zoom.d);
}

int main(int argc, char** argv) {
    /* The table must stay registered and valid until PevraNUV_Shutdown. */
    static PevraNUV_Callbacks callbacks;
    unsigned tilt = argc > 1 ? (unsigned)strtoul(argv[1], NULL, 10) : 7;
    int confirmed;
    callbacks.OnVersions = OnVersions;
    callbacks.OnTiltSensitivity = OnTiltSensitivity;
    callbacks.OnSlavedDisplayZoom = OnSlavedDisplayZoom;
    InitSignal();

    PevraNUV_RegisterCallbacks(&callbacks, NULL);
    if (PevraNUV_Connect(0) != 0) {
        fprintf(stderr, "the settings service is not running\n");
        return 1;
    }
    PevraNUV_SetTiltSensitivity(tilt);

    /* The answer arrives on the library's thread: wait for it, not longer
     * than five seconds. */
    Lock();
    StartDeadline(5000);
    while (g_tilt != (long)tilt && WaitUntilDeadline()) {
    }
    confirmed = g_tilt == (long)tilt;
    Unlock();

    PevraNUV_Shutdown();
    if (!confirmed) {
        fprintf(stderr, "the service did not confirm tilt sensitivity %u\n", tilt);
        return 2;
    }
    printf("tilt sensitivity %u confirmed\n", tilt);
    return 0;
}
