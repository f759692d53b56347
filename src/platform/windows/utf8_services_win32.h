// The 8-bit Windows services the program uses, with UTF-8 names: each
// converts its names to UTF-16, calls the wide service and converts what it
// gives back, so that every name the file system holds reaches the program
// and no name depends on the ANSI code page. win32.h gives them the 8-bit
// services' names; they behave as those do otherwise. Seen only through
// win32.h, after <windows.h>.
#ifndef DORVANE_PLATFORM_WINDOWS_UTF8_SERVICES_WIN32_H_
#define DORVANE_PLATFORM_WINDOWS_UTF8_SERVICES_WIN32_H_

// A name of MAX_PATH - 1 UTF-16 units takes at most 3 bytes a unit.
constexpr DWORD FindNameSize = 3 * (MAX_PATH - 1) + 1;

// What a listing gives of an entry; the fields of WIN32_FIND_DATAA the
// program reads, with room for any name in UTF-8.
struct Utf8FindData {
  DWORD dwFileAttributes;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  char cFileName[FindNameSize];
};

// CreateFile, GetFileAttributes and FindFirstFile(Ex) take a path that
// begins with ".\" (or "./") and holds no ".." component, the form of every
// path the walk makes and of every path in a list the program writes, as
// "\\?\" and its absolute path below the current directory: each name then
// means its own characters, a trailing dot or space and CON, NUL or COM1
// included. Any other path (a bare name, an absolute path, one with "..")
// keeps the system's usual rules, as the current-directory and full-path
// services always do.
//
// A name that is not UTF-8 (surrogates encoded alone are, here, so that a
// name with one unpaired comes back) names nothing: the service fails with
// ERROR_FILE_NOT_FOUND. One longer than the wide services take fails with
// ERROR_FILENAME_EXCED_RANGE. A name in such a path that holds a colon
// (which would name a stream of a file) fails with ERROR_INVALID_NAME.
// CreateFileUtf8 for reading alone (GENERIC_READ, OPEN_EXISTING) keeps
// only a file on a disk: a device or a pipe is closed again, and the open
// fails with ERROR_BAD_FILE_TYPE.
HANDLE CreateFileUtf8(const char* name, DWORD access, DWORD share_mode,
                      LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                      HANDLE template_file);
DWORD GetFileAttributesUtf8(const char* name);
HANDLE FindFirstFileExUtf8(const char* pattern, FINDEX_INFO_LEVELS info_level, void* data,
                           FINDEX_SEARCH_OPS search_op, void* search_filter,
                           DWORD additional_flags);
BOOL FindNextFileUtf8(HANDLE find, Utf8FindData* data);
// size and the results count bytes of UTF-8, as the 8-bit services count
// characters: the length written, or the size needed (NUL included) when
// the buffer is too small, or 0 on failure.
DWORD GetCurrentDirectoryUtf8(DWORD size, char* buffer);
BOOL SetCurrentDirectoryUtf8(const char* path);
DWORD GetFullPathNameUtf8(const char* name, DWORD size, char* buffer, char** file_part);

// The shell string services, on bytes (names.cc): shlwapi's would step
// through double-byte characters of the ANSI code page and could take a
// UTF-8 byte and a backslash for one.
char* PathAddBackslashA(char* path);
BOOL StrTrimA(char* text, const char* trim);

#endif  // DORVANE_PLATFORM_WINDOWS_UTF8_SERVICES_WIN32_H_
