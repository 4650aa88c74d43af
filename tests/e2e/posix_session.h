// Puts a test program in a POSIX session of its own: the pipes are named
// after the session, so the program meets no other test's service.
#pragma once

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace PevraNUV::test {

// True once this process leads a session of its own. A process group leader
// cannot start one: a child then does and goes on, while this process waits
// for it and exits with its status. Nothing to do on Windows.
inline bool EnterOwnPosixSession() {
#ifndef _WIN32
    if (setsid() >= 0) return true;
    if (const pid_t child = fork(); child != 0) {
        int status = 0;
        _exit(child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    }
    return setsid() >= 0;
#else
    return true;
#endif
}

}  // namespace PevraNUV::test
