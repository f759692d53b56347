// Windows file, directory, memory, shell and console services.
// The program calls these services by their Windows names everywhere; on
// Windows they are the real API, elsewhere a small POSIX layer provides the
// subset the program uses with the same behaviour. This is the only place
// under src/ that asks which platform it is built for.
#ifndef DORVANE_PLATFORM_WIN32_H_
#define DORVANE_PLATFORM_WIN32_H_

#ifdef _WIN32
#include <windows.h>
#include <shlwapi.h>
#else
#include "platform/posix/win32_posix.h"
#endif

#endif  // DORVANE_PLATFORM_WIN32_H_
