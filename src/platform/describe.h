// Words for people about files: why a service failed, what a name is when
// it is no regular file, and whether a name is a file the run holds itself.
#ifndef DORVANE_PLATFORM_DESCRIBE_H_
#define DORVANE_PLATFORM_DESCRIBE_H_

#include <cstddef>

#include "platform/win32.h"

// Room for any text DescribeError writes.
constexpr std::size_t ErrorTextSize = 256;

// The system's words for error (a GetLastError code) in out (size bytes),
// in UTF-8, without a closing full stop or line end.
void DescribeError(DWORD error, char* out, std::size_t size);

// Whether error tells that memory ran out: the run cannot go on, for what
// failed so is no fault of the file's.
inline bool IsMemoryShortage(DWORD error) {
  return error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY;
}

// What path (in the program's form, relative to the current directory)
// names when the listing found neither a regular file nor a directory:
// "a FIFO", "a socket", "a device", "a broken symbolic link", "a symbolic
// link to a directory", or "not a regular file" when that is all that can
// be told.
const char* DescribeEntryKind(const char* path);

// Whether path names the very file that file has open. Asked of a name
// that failed to open while the run holds a file of its own (the list), so
// that the list is not taken for a file held by another program.
bool IsSameFile(const char* path, HANDLE file);

#endif  // DORVANE_PLATFORM_DESCRIBE_H_
