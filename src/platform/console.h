// Console output shared by every platform.
#ifndef DORVANE_PLATFORM_CONSOLE_H_
#define DORVANE_PLATFORM_CONSOLE_H_

// Formatted print to standard output as a text stream: every "\n" goes out
// as CR LF, also when the output is redirected, and the message is flushed
// before the call returns. Returns 1 when all of it was written, 0 otherwise.
int ConsolePrint(const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#endif  // DORVANE_PLATFORM_CONSOLE_H_
