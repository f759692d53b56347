// POSIX declarations of the Windows services the program uses.
//
// WARNING: only the subset the program calls is declared here, with Windows'
// own names and values, and every function keeps the Windows behaviour the
// program relies on. Flags and modes the program never passes are refused
// rather than half supported. Paths arrive in the program's form, with
// backslash separators; each backslash is turned into '/' before a path
// reaches the system.
#ifndef DORVANE_PLATFORM_POSIX_WIN32_POSIX_H_
#define DORVANE_PLATFORM_POSIX_WIN32_POSIX_H_

#include <cstdint>

typedef std::uint32_t DWORD;
typedef std::uint16_t WORD;
typedef std::int32_t LONG;
typedef int BOOL;
typedef unsigned int UINT;
typedef char CHAR;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef std::size_t SIZE_T;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define INVALID_FILE_SIZE (static_cast<DWORD>(0xFFFFFFFF))
#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(0xFFFFFFFF))

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_DEVICE 0x00000040u
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(0xFFFFFFFF))
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define LMEM_FIXED 0x0000u
// Ours, not Windows': the walk's opens and listings pass it, so that no
// directory on the way is reached through a symbolic link and nothing
// outside the current directory is reached at all (see CreateFileA).
#define FILE_FLAG_NO_DIRECTORY_LINKS 0x00400000u
// Ours as well, for a listing whose caller needs no file sizes: an entry
// the directory already types a regular file is not looked up, and its
// size reads 0 (see FindFirstFileExA).
#define FIND_FIRST_EX_NO_FILE_SIZES 0x00800000u

// The error codes callers ask GetLastError for. ERROR_SHARING_VIOLATION is
// never given here: the program's reads share their locks, and a lock held
// elsewhere (ERROR_LOCK_VIOLATION) is no sharing the program can wait out.
// ERROR_BAD_FILE_TYPE is this layer's answer for a name that is neither a
// regular file nor a directory where a file was to be opened. A failure
// Windows has no code for carries its errno in the codes Windows leaves to
// applications (ERROR_POSIX_BASE | errno), so that DescribeError can tell
// it.
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_NOT_ENOUGH_MEMORY 8u
// Never given here; Windows gives it beside ERROR_NOT_ENOUGH_MEMORY.
#define ERROR_OUTOFMEMORY 14u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_LOCK_VIOLATION 33u
#define ERROR_OPEN_FAILED 110u
// Never given here: every name but one with a NUL can be opened.
#define ERROR_INVALID_NAME 123u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_BAD_FILE_TYPE 222u
#define ERROR_POSIX_BASE 0x20000000u

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  CHAR cFileName[MAX_PATH];
};

// Files. CreateFileA opens regular files only; an existing file opened for
// reading is not even opened otherwise (a FIFO or a device is left alone,
// however late it took the name's place), and opening it holds a second
// descriptor for a moment. flags is
// FILE_ATTRIBUTE_NORMAL or 0; an existing file opened for reading may add
// FILE_FLAG_NO_DIRECTORY_LINKS: its path is then resolved beneath the
// current directory without following a link in any directory on the way
// (one in the last component, to a file, is followed), and the open fails
// otherwise.
// Share mode 0 takes a non-blocking flock on the open file: exclusive for an
// open with write access, shared for a read-only one, and the open fails when
// the lock conflicts with one held through another open.
HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE template_file);
// TRUE with *read == 0 at end of file. Reads less than to_read only at the
// end of the file. A read-only handle may read ahead behind the scenes; the
// bytes, counts and positions are those of reading the file directly, and
// bytes read ahead are dropped when GetFileSize finds the file changed.
BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read,
              void* overlapped);
// Writes all of the buffer or fails; *written tells how much went out.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write, DWORD* written,
               void* overlapped);
// Low 32 bits of the size; the high ones into *size_high when it is given.
// The size is the live one, asked of the system, except when nothing was
// read, written or moved through the handle since the last time it was
// asked (by the open or a call here): then that answer is given again.
DWORD GetFileSize(HANDLE file, DWORD* size_high);
// Moves the position; returns its low 32 bits and the high ones through
// *distance_high when it is given. The handle keeps its own position, so
// only a move from the end asks the system (for the size, as above).
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high,
                     DWORD method);
// Cuts the file at the current position.
BOOL SetEndOfFile(HANDLE file);
BOOL CloseHandle(HANDLE handle);
// The file's times, asked as GetFileSize asks the size (the two are taken
// from one look at the file). Only FileBasicInfo is known; the times
// Windows keeps and POSIX does not (creation, last access) are the last
// write's.
struct LARGE_INTEGER {
  std::int64_t QuadPart;
};
struct FILE_BASIC_INFO {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  DWORD FileAttributes;
};
enum FILE_INFO_BY_HANDLE_CLASS { FileBasicInfo = 0 };
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* out,
                                  DWORD size);
// What path names, links followed: FILE_ATTRIBUTE_DIRECTORY,
// FILE_ATTRIBUTE_NORMAL for a regular file, FILE_ATTRIBUTE_DEVICE for
// anything else (FIFO, socket, device); INVALID_FILE_ATTRIBUTES when it
// cannot be looked up, with the error for GetLastError.
DWORD GetFileAttributesA(const char* path);

// Directory listing. The pattern is a directory followed by "*.*"; every
// entry is returned, "." and ".." included, unsorted. Only real directories
// carry FILE_ATTRIBUTE_DIRECTORY (a link to a directory does not); what is
// neither a regular file (after following a link) nor a real directory
// carries FILE_ATTRIBUTE_DEVICE, so that it is never opened; the size of a
// regular file, or of a link to one, is that of the file. Only
// FindExInfoStandard, FindExSearchNameMatch and no filter are supported;
// the flags are FILE_FLAG_NO_DIRECTORY_LINKS, which opens the directory
// as CreateFileA does with it, a link as its last component refused as
// well, and FIND_FIRST_EX_NO_FILE_SIZES, which spares a regular file's
// lookup where the directory's entry tells its type (its size reads 0).
enum FINDEX_INFO_LEVELS { FindExInfoStandard = 0 };
enum FINDEX_SEARCH_OPS { FindExSearchNameMatch = 0 };
HANDLE FindFirstFileExA(const char* pattern, FINDEX_INFO_LEVELS info_level,
                        void* data, FINDEX_SEARCH_OPS search_op,
                        void* search_filter, DWORD additional_flags);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);

// Current directory. GetCurrentDirectoryA and GetFullPathNameA return the
// length written, or the size needed (NUL included) when the buffer is too
// small, or 0 on failure. GetFullPathNameA works on the text alone.
DWORD GetCurrentDirectoryA(DWORD size, char* buffer);
BOOL SetCurrentDirectoryA(const char* path);
DWORD GetFullPathNameA(const char* name, DWORD size, char* buffer,
                       char** file_part);

// The error of the last CreateFileA, GetFileAttributesA, FindFirstFileExA
// or SetCurrentDirectoryA that failed, for the calling thread:
// ERROR_TOO_MANY_OPEN_FILES when the process or the system is out of file
// descriptors, ERROR_FILE_NOT_FOUND when the name is not there,
// ERROR_PATH_NOT_FOUND when a directory on its way is none,
// ERROR_ACCESS_DENIED when permission is denied, ERROR_NOT_ENOUGH_MEMORY
// when memory (the system's or this layer's) ran out, ERROR_LOCK_VIOLATION when
// another open holds a conflicting lock, ERROR_BAD_FILE_TYPE when
// CreateFileA found no regular file (ERROR_POSIX_BASE | EISDIR for a
// directory), ERROR_POSIX_BASE | errno for anything else.
DWORD GetLastError();

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL memory);

// Appends a backslash unless the path ends with one; returns a pointer to
// the terminating NUL, or nullptr when the result would be longer than
// MAX_PATH - 1 units (PathLength). The buffer must hold that many
// (PathByteSize bytes; a path of ASCII alone takes MAX_PATH).
char* PathAddBackslashA(char* path);
// Removes every leading and trailing character found in trim; TRUE when
// anything was removed.
BOOL StrTrimA(char* text, const char* trim);

#endif  // DORVANE_PLATFORM_POSIX_WIN32_POSIX_H_
