// Runs the end-to-end tests in a POSIX session of their own, so that their
// pipes (named after the session) meet no other test's service.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

int main(int argc, char** argv) {
#ifndef _WIN32
    if (setsid() < 0) {
        // A process group leader cannot start a session: a child can.
        pid_t child = fork();
        if (child < 0) return 1;
        if (child > 0) {
            int status = 0;
            waitpid(child, &status, 0);
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        }
        setsid();
    }
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
