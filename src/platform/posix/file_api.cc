// POSIX implementation of the Windows file services.
// Assumes POSIX.1-2008 (pread, pwrite, st_mtim, posix_fadvise, O_CLOEXEC)
// plus flock, which Linux and the BSDs have but POSIX does not, and GCC or
// clang (__builtin_add_overflow). Where a comment says what the kernel does
// with a flag, it speaks of Linux. The walk's opens go through beneath.cc,
// which is Linux's own.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/posix/posix_internal.h"
#include "platform/posix/win32_posix.h"
#include "platform/storage.h"

namespace {

// Read-ahead of read-only files: one system call per this many bytes
// instead of one per caller's chunk.
constexpr std::uint32_t ReadAheadSize = 128 * 1024;

// The last error, kept as Windows keeps it: for the calling thread.
thread_local DWORD last_error = 0;

void SetLastErrorCode(DWORD error) { last_error = error; }

int OpenFlags(DWORD access, DWORD disposition) {
  // Non-blocking, so that a FIFO found where a file was expected cannot
  // stall the open. Only regular files stay open, and Linux ignores the
  // flag for their reads and writes, so it is not cleared again (that
  // would be one more system call per file).
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (access == GENERIC_READ) {
    flags |= O_RDONLY;
  } else if (access == GENERIC_WRITE) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDWR;
  }
  if (disposition == OPEN_ALWAYS) flags |= O_CREAT;
  return flags;
}

bool IsSupportedOpen(DWORD access, DWORD share_mode, DWORD disposition,
                     DWORD flags) {
  if (access == 0 || (access & ~(GENERIC_READ | GENERIC_WRITE)) != 0) {
    return false;
  }
  if (share_mode != 0) return false;
  if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) return false;
  if (flags == (FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_DIRECTORY_LINKS)) {
    return access == GENERIC_READ && disposition == OPEN_EXISTING;
  }
  return flags == 0 || flags == FILE_ATTRIBUTE_NORMAL;
}

// Whether an existing file is opened for reading: only such opens look at
// what the name names before they open it.
bool IsExistingForReading(DWORD access, DWORD disposition) {
  return access == GENERIC_READ && disposition == OPEN_EXISTING;
}

// Opens the file an O_PATH descriptor names for reading, through the
// descriptor's own link in /proc: the file the descriptor was checked on,
// whatever the name names by now. -1 with errno ENOENT when /proc is not
// mounted.
int ReopenThroughProc(int at, int open_flags) {
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", at);
  return open(link, open_flags);
}

// Without /proc the name is opened again: the look and the open are then
// two steps, and what the open finds must be the very file looked at, or it
// is closed at once.
int ReopenByName(const char* path, int open_flags, bool beneath,
                 const struct stat& looked) {
  const int fd = beneath ? OpenFileBeneath(path, open_flags)
                         : open(path, open_flags);
  struct stat info;
  if (fd < 0 || (fstat(fd, &info) == 0 && info.st_dev == looked.st_dev &&
                 info.st_ino == looked.st_ino)) {
    return fd;
  }
  close(fd);
  errno = EACCES;
  return -1;
}

// Opens an existing file for reading only when the name names a regular
// file at the moment it is opened. A FIFO or a device is never opened (the
// open alone would release a FIFO's waiting writer or act on the device):
// the name is resolved once, without opening what it names (O_PATH), its
// type checked on that descriptor, and only then is the same file opened
// for reading. A swap of the name after that look changes nothing. *info is
// the file's state from the look.
int OpenExistingForReading(const char* path, DWORD flags, struct stat* info) {
  const bool beneath = (flags & FILE_FLAG_NO_DIRECTORY_LINKS) != 0;
  const int at = beneath ? OpenFileBeneath(path, O_PATH)
                         : open(path, O_PATH | O_CLOEXEC);
  if (at < 0) {
    SetLastErrorFrom(errno);
    return -1;
  }
  if (fstat(at, info) != 0 || !S_ISREG(info->st_mode)) {
    const bool directory = S_ISDIR(info->st_mode);
    close(at);
    SetLastErrorCode(directory ? ERROR_POSIX_BASE | EISDIR : ERROR_BAD_FILE_TYPE);
    return -1;
  }
  const int open_flags = OpenFlags(GENERIC_READ, OPEN_EXISTING);
  int fd = ReopenThroughProc(at, open_flags);
  if (fd < 0 && errno == ENOENT) fd = ReopenByName(path, open_flags, beneath, *info);
  const int error = errno;
  close(at);
  if (fd < 0) SetLastErrorFrom(error);
  return fd;
}

// Opens only regular files and emulates share mode 0 with a flock that
// belongs to this open file description alone. Fills *info from the fstat
// that checks the file type. An existing file read is never opened unless
// it is a regular file; a file created or written is checked once open.
int OpenRegularFile(const char* path, DWORD access, DWORD disposition,
                    DWORD flags, struct stat* info) {
  int fd = -1;
  if (IsExistingForReading(access, disposition)) {
    fd = OpenExistingForReading(path, flags, info);
    if (fd < 0) return -1;
  } else {
    fd = open(path, OpenFlags(access, disposition), 0666);
    if (fd < 0) {
      SetLastErrorFrom(errno);
      return -1;
    }
    if (fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
      close(fd);
      SetLastErrorCode(ERROR_BAD_FILE_TYPE);
      return -1;
    }
  }
  const int lock = (access & GENERIC_WRITE) != 0 ? LOCK_EX : LOCK_SH;
  if (flock(fd, lock | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    SetLastErrorFrom(error);
    return -1;
  }
  return fd;
}

FileStamp StampOf(const struct stat& info) {
  return FileStamp{static_cast<std::uint64_t>(info.st_size),
                   info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
                   info.st_ctim.tv_sec, info.st_ctim.tv_nsec};
}

bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return a.size == b.size && a.modified_sec == b.modified_sec &&
         a.modified_nsec == b.modified_nsec && a.changed_sec == b.changed_sec &&
         a.changed_nsec == b.changed_nsec;
}

void DropReadAhead(PosixHandle* handle) {
  handle->ahead_used = 0;
  handle->ahead_end = 0;
  handle->ahead_at_end = false;
}

// The live state of the file. Read-ahead bytes are kept only while the file
// shows the same size and times as at the last look, so a file that changes
// is read again from the kernel exactly where an unbuffered read would be.
bool RefreshStamp(PosixHandle* handle) {
  struct stat info;
  if (fstat(handle->fd, &info) != 0) return false;
  const FileStamp now = StampOf(info);
  if (!SameStamp(now, handle->stamp)) DropReadAhead(handle);
  handle->stamp = now;
  handle->stamp_fresh = true;
  return true;
}

// The file's state, asked of the kernel unless nothing was done with the
// handle since it was last asked.
bool CurrentStamp(PosixHandle* handle) {
  return handle->stamp_fresh || RefreshStamp(handle);
}

// pread, again after a signal. Bytes read, 0 at end of file, -1 on error.
ssize_t ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t position) {
  for (;;) {
    const ssize_t got = pread(fd, buffer, size, static_cast<off_t>(position));
    if (got >= 0 || errno != EINTR) return got;
  }
}

// Read ahead only for a read-only handle whose file, as last seen, holds more
// than the caller asks for: a small file is read straight into the caller's
// buffer, with no copy and no allocation.
bool UseReadAhead(PosixHandle* handle, DWORD wanted) {
  if (!handle->read_only || wanted >= ReadAheadSize ||
      handle->stamp.size <= handle->position + wanted) {
    return false;
  }
  if (handle->ahead == nullptr) {
    // A file smaller than a full read-ahead gets a buffer one byte longer
    // than its rest, so one read takes it all and sees its end.
    const std::uint64_t rest = handle->stamp.size - handle->position + 1;
    handle->ahead_size =
        rest < ReadAheadSize ? static_cast<std::uint32_t>(rest) : ReadAheadSize;
    handle->ahead = static_cast<unsigned char*>(std::malloc(handle->ahead_size));
  }
  return handle->ahead != nullptr;
}

// Hands out read-ahead bytes; returns how many were copied.
DWORD TakeReadAhead(PosixHandle* handle, char* out, DWORD wanted) {
  const std::uint32_t held = handle->ahead_end - handle->ahead_used;
  const DWORD take = wanted < held ? wanted : held;
  std::memcpy(out, handle->ahead + handle->ahead_used, take);
  handle->ahead_used += take;
  handle->position += take;
  return take;
}

// Fills the read-ahead buffer from the position. Returns the bytes read, 0
// at end of file, -1 on error.
ssize_t FillReadAhead(PosixHandle* handle) {
  const ssize_t got = ReadAt(handle->fd, handle->ahead, handle->ahead_size,
                             handle->position);
  handle->ahead_used = 0;
  handle->ahead_end = got > 0 ? static_cast<std::uint32_t>(got) : 0;
  handle->ahead_at_end =
      got >= 0 && static_cast<std::size_t>(got) < handle->ahead_size;
  return got;
}

// The handle of an open regular file whose state info shows; nullptr, fd
// closed, when its memory cannot be had.
PosixHandle* NewHandle(int fd, bool read_only, const struct stat& info) {
  PosixHandle* handle = new (std::nothrow) PosixHandle{fd};
  if (handle == nullptr) {
    close(fd);
    SetLastErrorFrom(ENOMEM);
    return nullptr;
  }
  handle->read_only = read_only;
  handle->stamp = StampOf(info);
  handle->stamp_fresh = true;
  return handle;
}

}  // namespace

HANDLE HandleForDescriptor(int fd, bool read_only) {
  struct stat info;
  if (fstat(fd, &info) != 0) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  PosixHandle* handle = NewHandle(fd, read_only, info);
  return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
}

void ForgetFileState(PosixHandle* handle) {
  handle->stamp_fresh = false;
  DropReadAhead(handle);
}

void SetLastErrorFrom(int error) {
  switch (error) {
    case EMFILE: case ENFILE: last_error = ERROR_TOO_MANY_OPEN_FILES; break;
    case ENOENT: last_error = ERROR_FILE_NOT_FOUND; break;
    case ENOTDIR: last_error = ERROR_PATH_NOT_FOUND; break;
    case EACCES: case EPERM: last_error = ERROR_ACCESS_DENIED; break;
    case ENOMEM: last_error = ERROR_NOT_ENOUGH_MEMORY; break;
    // A lock that another open holds.
    case EWOULDBLOCK: last_error = ERROR_LOCK_VIOLATION; break;
    case 0: last_error = ERROR_OPEN_FAILED; break;
    default: last_error = ERROR_POSIX_BASE | static_cast<DWORD>(error);
  }
}

DWORD GetLastError() { return last_error; }

PosixHandle* HandleOf(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  return static_cast<PosixHandle*>(handle);
}

int ToSystemPath(const char* path, char* out, std::size_t size) {
  std::size_t i = 0;
  for (; path[i] != '\0'; ++i) {
    if (i + 1 >= size) return 0;
    out[i] = path[i] == '\\' ? '/' : path[i];
  }
  out[i] = '\0';
  return 1;
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                   HANDLE) {
  // Any failure but the open's own is no lack of handles.
  SetLastErrorFrom(0);
  if (name == nullptr) return INVALID_HANDLE_VALUE;
  if (!IsSupportedOpen(access, share_mode, disposition, flags)) {
    return INVALID_HANDLE_VALUE;
  }
  char path[SystemPathSize];
  if (!ToSystemPath(name, path, sizeof path)) {
    SetLastErrorCode(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  struct stat info;
  const int fd = OpenRegularFile(path, access, disposition, flags, &info);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  PosixHandle* handle = NewHandle(fd, access == GENERIC_READ, info);
  if (handle == nullptr) return INVALID_HANDLE_VALUE;
  // A file that takes more than one read-ahead is read to its end: let the
  // kernel read ahead further on a cold cache. Small files skip the call.
  if (handle->read_only && handle->stamp.size > ReadAheadSize) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return handle;
}

// Reads until to_read bytes or the end of the file. A short read of a
// regular file is its end at that moment, so no second call is made to
// hear it again. Its end tells nothing of the size, though: a read that
// meets a truncate on its way may bring the old length, the cut part as
// zeros, so the size is asked afresh after it.
BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read_count,
              void*) {
  PosixHandle* handle = HandleOf(file);
  if (read_count != nullptr) *read_count = 0;
  if (handle == nullptr) return FALSE;
  handle->stamp_fresh = false;
  char* out = static_cast<char*>(buffer);
  DWORD done = 0;
  bool at_end = false;
  while (done < to_read && !at_end) {
    const DWORD wanted = to_read - done;
    if (handle->ahead_used == handle->ahead_end &&
        UseReadAhead(handle, wanted)) {
      const ssize_t got = FillReadAhead(handle);
      if (got < 0) return FALSE;
      at_end = got == 0;
    }
    if (handle->ahead_used != handle->ahead_end) {
      done += TakeReadAhead(handle, out + done, wanted);
      // Emptying a fill that reached the end is the end of this read; the
      // next read asks the kernel again, so growth is still seen.
      if (handle->ahead_used == handle->ahead_end && handle->ahead_at_end) {
        DropReadAhead(handle);
        at_end = true;
      }
    } else if (!at_end) {
      const ssize_t got = ReadAt(handle->fd, out + done, wanted, handle->position);
      if (got < 0) return FALSE;
      handle->position += static_cast<std::uint64_t>(got);
      done += static_cast<DWORD>(got);
      at_end = static_cast<DWORD>(got) < wanted;
    }
    if (read_count != nullptr) *read_count = done;
  }
  return TRUE;
}

// Bytes read ahead are in memory already; otherwise the kernel is asked
// not to wait for the disk (Linux 4.14 and later, for buffered reads). A
// read of what is partly cached comes back short, which ReadFile would take
// for the end of the file, so these bytes go straight to the caller.
CachedRead ReadFileIfCached(HANDLE file, void* buffer, DWORD to_read,
                            DWORD* read_count) {
  PosixHandle* handle = HandleOf(file);
  if (read_count != nullptr) *read_count = 0;
  if (handle == nullptr) return CachedReadFailed;
  if (to_read == 0) return CachedReadDone;
  handle->stamp_fresh = false;
  if (handle->ahead_used != handle->ahead_end) {
    const DWORD got = TakeReadAhead(handle, static_cast<char*>(buffer), to_read);
    if (handle->ahead_used == handle->ahead_end && handle->ahead_at_end) {
      DropReadAhead(handle);
    }
    if (read_count != nullptr) *read_count = got;
    return CachedReadDone;
  }
#ifdef RWF_NOWAIT
  iovec part = {buffer, to_read};
  for (;;) {
    const ssize_t got = preadv2(handle->fd, &part, 1,
                                static_cast<off_t>(handle->position), RWF_NOWAIT);
    if (got >= 0) {
      handle->position += static_cast<std::uint64_t>(got);
      if (read_count != nullptr) *read_count = static_cast<DWORD>(got);
      return CachedReadDone;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return CachedReadNotCached;
    // Kernels before 4.14 and file systems without the flag.
    if (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) {
      return CachedReadCannotTell;
    }
    return CachedReadFailed;
  }
#else
  return CachedReadCannotTell;
#endif
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write,
               DWORD* written, void*) {
  PosixHandle* handle = HandleOf(file);
  if (written != nullptr) *written = 0;
  if (handle == nullptr) return FALSE;
  handle->stamp_fresh = false;
  DropReadAhead(handle);
  DWORD done = 0;
  while (done < to_write) {
    const ssize_t put = pwrite(handle->fd,
                               static_cast<const char*>(buffer) + done,
                               to_write - done,
                               static_cast<off_t>(handle->position));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return FALSE;
    done += static_cast<DWORD>(put);
    handle->position += static_cast<std::uint64_t>(put);
    if (written != nullptr) *written = done;
  }
  return TRUE;
}

namespace {

// 100-nanosecond ticks since 1601, as Windows counts file times.
std::int64_t WindowsTicks(std::int64_t seconds, std::int64_t nanoseconds) {
  constexpr std::int64_t SecondsFrom1601To1970 = 11644473600;
  return (seconds + SecondsFrom1601To1970) * 10000000 + nanoseconds / 100;
}

}  // namespace

BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* out,
                                  DWORD size) {
  PosixHandle* handle = HandleOf(file);
  if (handle == nullptr || kind != FileBasicInfo || size < sizeof(FILE_BASIC_INFO) ||
      !CurrentStamp(handle)) {
    return FALSE;
  }
  const FileStamp& stamp = handle->stamp;
  auto* info = static_cast<FILE_BASIC_INFO*>(out);
  const std::int64_t written = WindowsTicks(stamp.modified_sec, stamp.modified_nsec);
  info->CreationTime.QuadPart = written;
  info->LastAccessTime.QuadPart = written;
  info->LastWriteTime.QuadPart = written;
  info->ChangeTime.QuadPart = WindowsTicks(stamp.changed_sec, stamp.changed_nsec);
  info->FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* size_high) {
  PosixHandle* handle = HandleOf(file);
  if (handle == nullptr || !CurrentStamp(handle)) {
    if (size_high != nullptr) *size_high = 0;
    return INVALID_FILE_SIZE;
  }
  const std::uint64_t size = handle->stamp.size;
  if (size_high != nullptr) *size_high = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

// Computes the new position as lseek would, without asking the kernel
// except for the size when moving from the end.
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high,
                     DWORD method) {
  PosixHandle* handle = HandleOf(file);
  if (handle == nullptr || method > FILE_END) {
    return INVALID_SET_FILE_POINTER;
  }
  // Without a high word the distance is a signed 32-bit value; with one the
  // two words form a signed 64-bit distance.
  std::int64_t offset = distance;
  if (distance_high != nullptr) {
    offset = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<DWORD>(*distance_high)) << 32) |
        static_cast<DWORD>(distance));
  }
  std::int64_t base = 0;
  if (method == FILE_CURRENT) base = static_cast<std::int64_t>(handle->position);
  if (method == FILE_END) {
    if (!CurrentStamp(handle)) return INVALID_SET_FILE_POINTER;
    base = static_cast<std::int64_t>(handle->stamp.size);
  }
  std::int64_t position = 0;
  if (__builtin_add_overflow(base, offset, &position) || position < 0) {
    return INVALID_SET_FILE_POINTER;
  }
  const auto where = static_cast<std::uint64_t>(position);
  if (where != handle->position) {
    DropReadAhead(handle);
    handle->position = where;
    handle->stamp_fresh = false;
  }
  if (distance_high != nullptr) *distance_high = static_cast<LONG>(where >> 32);
  return static_cast<DWORD>(where);
}

BOOL SetEndOfFile(HANDLE file) {
  PosixHandle* handle = HandleOf(file);
  if (handle == nullptr) return FALSE;
  handle->stamp_fresh = false;
  DropReadAhead(handle);
  return ftruncate(handle->fd, static_cast<off_t>(handle->position)) == 0;
}

DWORD GetFileAttributesA(const char* name) {
  SetLastErrorFrom(0);
  char path[SystemPathSize];
  struct stat info;
  if (name == nullptr || !ToSystemPath(name, path, sizeof path)) {
    return INVALID_FILE_ATTRIBUTES;
  }
  if (stat(path, &info) != 0) {
    SetLastErrorFrom(errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return S_ISREG(info.st_mode) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DEVICE;
}

BOOL CloseHandle(HANDLE file) {
  PosixHandle* handle = HandleOf(file);
  if (handle == nullptr) return FALSE;
  const int result = close(handle->fd);
  std::free(handle->ahead);
  delete handle;
  return result == 0;
}
