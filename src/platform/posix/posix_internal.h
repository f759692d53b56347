// Pieces shared by the POSIX implementations of the Windows services.
// WARNING: generic POSIX code only; nothing here is seen outside platform/.
#ifndef DORVANE_PLATFORM_POSIX_POSIX_INTERNAL_H_
#define DORVANE_PLATFORM_POSIX_POSIX_INTERNAL_H_

#include <cstddef>

#include "platform/posix/win32_posix.h"

// What a HANDLE from CreateFileA points to.
struct PosixHandle {
  int fd;
  bool is_console;
};

// Room for any path the system accepts.
constexpr std::size_t SystemPathSize = 4096;

// Copies path into out with each backslash turned into '/'. Returns 1, or 0
// when it does not fit size bytes.
int ToSystemPath(const char* path, char* out, std::size_t size);

PosixHandle* HandleOf(HANDLE handle);

// Opens the controlling terminal as console input; INVALID_HANDLE_VALUE when
// the process has none.
HANDLE OpenConsoleInput();

#endif  // DORVANE_PLATFORM_POSIX_POSIX_INTERNAL_H_
