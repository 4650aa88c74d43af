// A plugin of the test program: a module of its own that includes the C++
// face and opens a session, as a settings page in a DLL does. Built with
// default and with hidden visibility (PTSA_MODULE_ENTRY names each).
#include <PTabletSettings.hpp>

#if defined(_WIN32)
#define PTSA_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define PTSA_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Opens a session and ends it; what it was refused with, or "" when it opened.
PTSA_MODULE_EXPORT const char* PTSA_MODULE_ENTRY() {
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
