/*
 * PTabletSettingsAPI: read and change the settings of a pen-tablet driver.
 *
 * The library owns no settings. It connects to the per-session settings
 * service over two pipes, keeps a copy of the values it receives, reports
 * every change through the callback tables registered with
 * PevraNUV_RegisterCallbacks, and queues the host's changes for the service.
 *
 * Threads: every function may be called from any thread, also at the same
 * time, except PevraNUV_Shutdown (see there). Callbacks of value changes run
 * on the library's sync thread with the library's lock held; the three
 * registration reports run on the registering thread before
 * PevraNUV_RegisterCallbacks returns. A callback may call any function of
 * this header except PevraNUV_Shutdown.
 *
 * Ownership: the host owns everything it passes in. Pointers handed to a
 * callback are valid only for that call.
 *
 * Text: every text field is an array of UTF-16 code units (PevraNUV_Char),
 * terminated by a zero unit inside the array.
 */
#ifndef PTABLETSETTINGSAPI_H
#define PTABLETSETTINGSAPI_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(PTABLETSETTINGSAPI_BUILD)
#    define PEVRANUV_API /* the module-definition file exports by name and ordinal */
#  elif defined(PTABLETSETTINGSAPI_STATIC)
#    define PEVRANUV_API
#  else
#    define PEVRANUV_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define PEVRANUV_API __attribute__((visibility("default")))
#else
#  define PEVRANUV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One UTF-16 code unit: wchar_t on Windows, a 16-bit type elsewhere. */
#if defined(_WIN32)
typedef wchar_t PevraNUV_Char;
#elif defined(__cplusplus)
typedef char16_t PevraNUV_Char;
#else
typedef uint_least16_t PevraNUV_Char;
#endif

/* The service's and the HID router's version texts (64 bytes). */
typedef struct PevraNUV_Versions {
    PevraNUV_Char hidRouterVersion[16]; /* setting "HIDRouterVersion" */
    PevraNUV_Char serviceVersion[16];   /* setting "ServiceVersion" */
} PevraNUV_Versions;

/* One pen on file, keyed by its serial number (100 bytes). */
typedef struct PevraNUV_PenInfo {
    PevraNUV_Char serialNumber[16]; /* at most 15 characters */
    PevraNUV_Char penId[16];        /* pen id paired with this serial */
    PevraNUV_Char btId[16];         /* BT module id paired with this serial */
    int32_t batteryStatus;          /* last battery status of this pen */
} PevraNUV_PenInfo;

/* The function codes that carry a text in PevraNUV_ButtonFunction. Every
 * other code is the service's own number for a function and carries none. */
enum {
    PevraNUV_FunctionKeystrokes = 8,     /* text: the keystroke definition */
    PevraNUV_FunctionRunApplication = 23 /* text: the application's path */
};

/* The function of a button, a radial-menu wedge or an option (1028 bytes).
 * text is the keystroke definition (PevraNUV_FunctionKeystrokes) or the
 * application path (PevraNUV_FunctionRunApplication); it is empty for every
 * other function. */
typedef struct PevraNUV_ButtonFunction {
    int32_t function;
    PevraNUV_Char text[512]; /* at most 511 units and a terminating zero */
} PevraNUV_ButtonFunction;

/* One side switch of the pen (1032 bytes). */
typedef struct PevraNUV_SideSwitch {
    PevraNUV_ButtonFunction press; /* single-press function */
    uint32_t hoverClick;           /* 1 if hover click is on, else 0 */
} PevraNUV_SideSwitch;

/* The four numbers of the slaved display zoom map, in this order (16 bytes).
 * Passed by value. */
typedef struct PevraNUV_ZoomMap {
    int32_t a;
    int32_t b;
    int32_t c;
    int32_t d;
} PevraNUV_ZoomMap;

/* The host's callback table: twenty slots, in this order. Every callback
 * receives the context given at registration first. A null slot is skipped.
 * The library keeps the table's address, not a copy: the table must stay
 * valid until PevraNUV_Shutdown, and a changed slot takes effect at the next
 * call. */
typedef struct PevraNUV_Callbacks {
    /* 0: a version changed; both versions are at most 15 characters long. */
    void (*OnVersions)(void* context, const PevraNUV_Versions* versions);
    /* 1: the current pen names a pen on file, or its battery status arrived. */
    void (*OnPenInfo)(void* context, const PevraNUV_PenInfo* pen);
    /* 2-4: an eraser-end function changed; functions[index], index always 0. */
    void (*OnEraserSinglePress)(void* context, const PevraNUV_ButtonFunction* functions, size_t index);
    void (*OnEraserDoublePress)(void* context, const PevraNUV_ButtonFunction* functions, size_t index);
    void (*OnEraserLongPress)(void* context, const PevraNUV_ButtonFunction* functions, size_t index);
    /* 5-6: a side switch's function or hover click changed. */
    void (*OnTopSwitch)(void* context, const PevraNUV_SideSwitch* sideSwitch);
    void (*OnBottomSwitch)(void* context, const PevraNUV_SideSwitch* sideSwitch);
    /* 7: wedges[index] changed; wedges points to all ten, East first. */
    void (*OnMenuOp)(void* context, const PevraNUV_ButtonFunction* wedges, size_t index);
    /* 8-9: the tip's pressure curve or the tilt sensitivity changed. */
    void (*OnTipSensitivity)(void* context, int32_t value);
    void (*OnTiltSensitivity)(void* context, int32_t value);
    /* 10: the slaved display zoom map changed. */
    void (*OnSlavedDisplayZoom)(void* context, PevraNUV_ZoomMap zoom);
    /* 11-16: an option list arrived; the whole list, ascending, count records.
     * Slot 11 lists the applications offered to run: each entry carries the
     * list's own code 88 and the text to show; to assign one, set
     * PevraNUV_FunctionRunApplication with that text. */
    void (*OnRunAppOptions)(void* context, const PevraNUV_ButtonFunction* options, size_t count);
    void (*OnTopButtonSingleOptions)(void* context, const PevraNUV_ButtonFunction* options, size_t count);
    void (*OnTopButtonDoubleOptions)(void* context, const PevraNUV_ButtonFunction* options, size_t count);
    void (*OnTopButtonLongOptions)(void* context, const PevraNUV_ButtonFunction* options, size_t count);
    void (*OnSideSwitchOptions)(void* context, const PevraNUV_ButtonFunction* options, size_t count);
    void (*OnRadialWedgeOptions)(void* context, const PevraNUV_ButtonFunction* options, size_t count);
    /* 17: at registration: the number of radial-menu wedges, always 10. */
    void (*OnWedgeCount)(void* context, size_t count);
    /* 18: at registration, after slot 17: always 0 and 6. */
    void (*OnRangeA)(void* context, int32_t low, int32_t high);
    /* 19: at registration, after slot 18: always -90 and 90. */
    void (*OnRangeB)(void* context, int32_t low, int32_t high);
} PevraNUV_Callbacks;

/* Waits for the settings service and connects. timeout -1 (0xFFFFFFFF) waits
 * while the service's pipe is busy; every other value waits about 1 ms.
 * Returns 0 when connected (also when already connected), 1 when the service
 * is not available. */
PEVRANUV_API int PevraNUV_Connect(int timeout);

/* Replaces the library's state with a fresh one: not connected, no callbacks
 * registered, log level 3, nothing queued. Waits for the sync thread to stop.
 * Call it before unloading the library. Never call it while another function
 * of this header runs, nor from a callback. */
PEVRANUV_API void PevraNUV_Shutdown(void);

/* Sets the diagnostic log level: 3 and below (the default) log nothing, 4
 * writes failures to the debugger output (standard error outside Windows),
 * 5 and above also append them to PTabletSettingsAPI.log beside the library. */
PEVRANUV_API void PevraNUV_SetLogLevel(int level);

/* Registers a callback table with a context handed back to every callback
 * (never dereferenced). A table registered again keeps one entry and takes
 * the new context. Calls slots 17, 18 and 19 of this table before it returns.
 * A null table is ignored. */
PEVRANUV_API void PevraNUV_RegisterCallbacks(const PevraNUV_Callbacks* callbacks, void* context);

/* Assign a function to a button. The text is sent only with
 * PevraNUV_FunctionKeystrokes or PevraNUV_FunctionRunApplication, up to its
 * first zero unit. Changes
 * are queued; the service's answer arrives through the callbacks. */
PEVRANUV_API void PevraNUV_SetEraserSinglePress(const PevraNUV_ButtonFunction* record);
PEVRANUV_API void PevraNUV_SetEraserDoublePress(const PevraNUV_ButtonFunction* record);
PEVRANUV_API void PevraNUV_SetEraserLongPress(const PevraNUV_ButtonFunction* record);
PEVRANUV_API void PevraNUV_SetTopSinglePress(const PevraNUV_ButtonFunction* record);
PEVRANUV_API void PevraNUV_SetBottomSinglePress(const PevraNUV_ButtonFunction* record);

/* Assign a function to radial-menu wedge index 0 to 9 (East, Southeast,
 * South, Southwest, West, Northwest, North, Northeast, Center, Outside).
 * Any other index does nothing. */
PEVRANUV_API void PevraNUV_SetMenuOp(int index, const PevraNUV_ButtonFunction* record);

/* Set a number-valued setting; the value is sent unchanged. */
PEVRANUV_API void PevraNUV_SetTopHoverClick(unsigned int value);
PEVRANUV_API void PevraNUV_SetBottomHoverClick(unsigned int value);
PEVRANUV_API void PevraNUV_SetMenuCenterRightClick(unsigned int value);
PEVRANUV_API void PevraNUV_SetTiltSensitivity(unsigned int value);
PEVRANUV_API void PevraNUV_SetTipSensitivity(unsigned int value);

/* Set the slaved display zoom map, or set all four numbers to zero. */
PEVRANUV_API void PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap zoom);
PEVRANUV_API void PevraNUV_ResetSlavedDisplayZoom(void);

/* Tells the service to start recording keystrokes. */
PEVRANUV_API void PevraNUV_StartKeyCapture(void);

/* Zeroes all bufferBytes bytes of buffer, tells the service to stop
 * recording, and copies the keystrokes received so far with a terminating
 * zero into buffer when they fit in bufferBytes / 2 units; otherwise buffer
 * stays zero. Either way the library forgets the keystrokes. buffer may be
 * null only when bufferBytes is 0. */
PEVRANUV_API void PevraNUV_FinishKeyCapture(PevraNUV_Char* buffer, size_t bufferBytes);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* Layouts hosts depend on. */
#if defined(__cplusplus)
#  define PEVRANUV_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#  define PEVRANUV_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
#  define PEVRANUV_STATIC_ASSERT_JOIN2(a, b) a##b
#  define PEVRANUV_STATIC_ASSERT_JOIN(a, b) PEVRANUV_STATIC_ASSERT_JOIN2(a, b)
#  define PEVRANUV_STATIC_ASSERT(cond, msg) \
     typedef char PEVRANUV_STATIC_ASSERT_JOIN(PevraNUV_layout_check_, __LINE__)[(cond) ? 1 : -1]
#endif

PEVRANUV_STATIC_ASSERT(sizeof(PevraNUV_Char) == 2, "text units are 16-bit");
PEVRANUV_STATIC_ASSERT(sizeof(PevraNUV_Versions) == 64, "PevraNUV_Versions is 64 bytes");
PEVRANUV_STATIC_ASSERT(offsetof(PevraNUV_Versions, serviceVersion) == 32, "serviceVersion at 32");
PEVRANUV_STATIC_ASSERT(sizeof(PevraNUV_PenInfo) == 100, "PevraNUV_PenInfo is 100 bytes");
PEVRANUV_STATIC_ASSERT(offsetof(PevraNUV_PenInfo, penId) == 32, "penId at 32");
PEVRANUV_STATIC_ASSERT(offsetof(PevraNUV_PenInfo, btId) == 64, "btId at 64");
PEVRANUV_STATIC_ASSERT(offsetof(PevraNUV_PenInfo, batteryStatus) == 96, "batteryStatus at 96");
PEVRANUV_STATIC_ASSERT(sizeof(PevraNUV_ButtonFunction) == 1028, "PevraNUV_ButtonFunction is 1028 bytes");
PEVRANUV_STATIC_ASSERT(offsetof(PevraNUV_ButtonFunction, text) == 4, "text at 4");
PEVRANUV_STATIC_ASSERT(sizeof(PevraNUV_SideSwitch) == 1032, "PevraNUV_SideSwitch is 1032 bytes");
PEVRANUV_STATIC_ASSERT(offsetof(PevraNUV_SideSwitch, hoverClick) == 1028, "hoverClick at 1028");
PEVRANUV_STATIC_ASSERT(sizeof(PevraNUV_ZoomMap) == 16, "PevraNUV_ZoomMap is 16 bytes");
PEVRANUV_STATIC_ASSERT(offsetof(PevraNUV_ZoomMap, d) == 12, "d at 12");
PEVRANUV_STATIC_ASSERT(sizeof(PevraNUV_Callbacks) == 20 * sizeof(void (*)(void)), "twenty slots");
PEVRANUV_STATIC_ASSERT(sizeof(void*) != 8 || sizeof(PevraNUV_Callbacks) == 160, "160 bytes on 64-bit targets");
PEVRANUV_STATIC_ASSERT(offsetof(PevraNUV_Callbacks, OnSlavedDisplayZoom) == 10 * sizeof(void (*)(void)), "slot 10");
PEVRANUV_STATIC_ASSERT(offsetof(PevraNUV_Callbacks, OnRangeB) == 19 * sizeof(void (*)(void)), "slot 19");

#endif /* PTABLETSETTINGSAPI_H */
