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
// The walk's flag for its opens and listings (see the POSIX layer). Windows
// has none of the kind: its walk enters junctions and directory links, as
// the README says, so the flag asks for nothing there.
#define FILE_FLAG_NO_DIRECTORY_LINKS 0u
#else
#include "platform/posix/win32_posix.h"
#endif

#endif  // DORVANE_PLATFORM_WIN32_H_
