// Pieces shared by the POSIX implementations of the Windows services.
// Nothing here is seen outside platform/.
#ifndef DORVANE_PLATFORM_POSIX_POSIX_INTERNAL_H_
#define DORVANE_PLATFORM_POSIX_POSIX_INTERNAL_H_

#include <cstddef>
#include <cstdint>

#include "platform/posix/win32_posix.h"

// What the last fstat of an open file showed. When it changes, bytes read
// ahead before may no longer be the file's.
struct FileStamp {
  std::uint64_t size;
  std::int64_t modified_sec, modified_nsec;
  std::int64_t changed_sec, changed_nsec;
};

// What a HANDLE from CreateFileA points to. A file handle keeps its own
// position and reads and writes at it (pread, pwrite): asking the kernel
// where it stands would cost a system call each time.
struct PosixHandle {
  int fd;
  bool read_only = false;
  // stamp is the file's state as last asked (at the open or since), and
  // nothing has been read, written or moved through the handle since then.
  bool stamp_fresh = false;
  std::uint64_t position = 0;
  FileStamp stamp = {};
  // Read-ahead of a read-only file: bytes [ahead_used, ahead_end) of ahead
  // are the file's bytes from position on. Allocated on first need.
  unsigned char* ahead = nullptr;
  std::uint32_t ahead_size = 0;
  std::uint32_t ahead_used = 0;
  std::uint32_t ahead_end = 0;
  // The last fill was short: the file ended at ahead_end then.
  bool ahead_at_end = false;
};

// Room for any path the system accepts.
constexpr std::size_t SystemPathSize = 4096;

// Copies path into out with each backslash turned into '/'. Returns 1, or 0
// when it does not fit size bytes.
int ToSystemPath(const char* path, char* out, std::size_t size);

PosixHandle* HandleOf(HANDLE handle);

// A handle for fd, an open regular file, as CreateFileA makes one (the
// position at the start); INVALID_HANDLE_VALUE, fd closed, when its memory
// cannot be had or fd cannot be looked at.
HANDLE HandleForDescriptor(int fd, bool read_only);
// Drops what the handle knows of the file besides its position, before the
// file changes other than through it.
void ForgetFileState(PosixHandle* handle);

// Sets what GetLastError gives from a failed call's errno.
void SetLastErrorFrom(int error);

// Opens path, a system path relative to the current directory, with flags
// (O_CLOEXEC is added) such that nothing is reached through a symbolic link,
// in any component, and nothing outside the current directory: a path with
// a link, "..", or an absolute path fails. Returns the descriptor, or -1 with
// errno set (ELOOP for a link met on the way).
int OpenBeneath(const char* path, int flags);
// As OpenBeneath, but a link as the last component is followed wherever it
// points; the directories on the way still must be real ones.
int OpenFileBeneath(const char* path, int flags);

#endif  // DORVANE_PLATFORM_POSIX_POSIX_INTERNAL_H_
