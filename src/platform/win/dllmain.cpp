// The library's load entry point.
#include "platform/win/internal.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(instance);
        // Stay mapped until the process ends: a sync thread that a host left
        // running, and the C++ runtime's per-thread exception state, must
        // never outlive the code they run.
        HMODULE self = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                             reinterpret_cast<LPCWSTR>(&DllMain), &self);
    }
    return TRUE;
}
