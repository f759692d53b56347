// Windows file, directory, memory, shell and console services.
// The program calls these services by their Windows names everywhere; on
// Windows they are the real API, elsewhere a small POSIX layer provides the
// subset the program uses with the same behaviour. This is the only place
// under src/ that asks which platform it is built for.
//
// Names and paths are UTF-8 on both: on Windows the 8-bit services the
// program calls are taken by wrappers around the wide ones (see
// windows/utf8_services_win32.h), whatever the system's ANSI code page.
#ifndef DORVANE_PLATFORM_WIN32_H_
#define DORVANE_PLATFORM_WIN32_H_

#ifdef _WIN32
#include <windows.h>
// The walk's flag for its opens and listings (see the POSIX layer). Windows
// has none of the kind: its walk enters junctions and directory links, as
// the README says, so the flag asks for nothing there.
#define FILE_FLAG_NO_DIRECTORY_LINKS 0u
// Ours too, for a listing whose caller needs no file sizes: Windows'
// listings carry them at no cost, so it asks nothing there either.
#define FIND_FIRST_EX_NO_FILE_SIZES 0u
#include "platform/windows/utf8_services_win32.h"
#define WIN32_FIND_DATAA Utf8FindData
#define CreateFileA CreateFileUtf8
#define GetFileAttributesA GetFileAttributesUtf8
#define FindFirstFileExA FindFirstFileExUtf8
#define FindNextFileA FindNextFileUtf8
#define GetCurrentDirectoryA GetCurrentDirectoryUtf8
#define SetCurrentDirectoryA SetCurrentDirectoryUtf8
#define GetFullPathNameA GetFullPathNameUtf8
#else
#include "platform/posix/win32_posix.h"
#endif

#endif  // DORVANE_PLATFORM_WIN32_H_
