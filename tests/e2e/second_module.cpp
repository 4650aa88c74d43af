// A plugin of the test program that opens a session of its own, built with
// default and with hidden visibility (PTSA_MODULE_ENTRY names each); on
// Windows one includes <windows.h> before the face, the other after it.
#if defined(_WIN32) && defined(PTSA_WINDOWS_H_FIRST)
#include <windows.h>
#endif
#include <PTabletSettings.hpp>
#if defined(_WIN32) && !defined(PTSA_WINDOWS_H_FIRST)
#include <windows.h>
#endif

// What the session was refused with, or "" when it opened (and ended).
extern "C"
#if defined(_WIN32)
    __declspec(dllexport)
#else
    __attribute__((visibility("default")))
#endif
    const char* PTSA_MODULE_ENTRY() {
    static std::string refusal;
    try {
        ptsa::OnLibraryThread here;
        const ptsa::Session session({}, here);
        refusal.clear();
    } catch (const std::logic_error& error) {
        refusal = error.what();
    }
    return refusal.c_str();
}
