/* The checks of the Windows test programs: one line each, "ok" or "FAIL",
 * and a count of the failures for the exit status. */
#ifndef PTSA_TESTS_WIN_CHECK_H
#define PTSA_TESTS_WIN_CHECK_H

#include <stdarg.h>
#include <stdio.h>

static int g_failures;

static void Check(int ok, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    printf("%s ", ok ? "ok  " : "FAIL");
    vprintf(format, arguments);
    printf("\n");
    va_end(arguments);
    if (!ok) ++g_failures;
}

#endif
