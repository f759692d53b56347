// POSIX implementation of the Windows file services.
// WARNING: generic POSIX code only.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/posix/posix_internal.h"
#include "platform/posix/win32_posix.h"

namespace {

int OpenFlags(DWORD access, DWORD disposition) {
  // Non-blocking, so that a FIFO found where a file was expected cannot
  // stall the open; the flag is cleared again for regular files.
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
  return flags == 0 || flags == FILE_ATTRIBUTE_NORMAL;
}

// Opens only regular files and emulates share mode 0 with a flock that
// belongs to this open file description alone.
int OpenRegularFile(const char* path, DWORD access, DWORD disposition) {
  int fd = open(path, OpenFlags(access, disposition), 0666);
  if (fd < 0) return -1;
  struct stat info;
  const int lock = (access & GENERIC_WRITE) != 0 ? LOCK_EX : LOCK_SH;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      flock(fd, lock | LOCK_NB) != 0 ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

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
  if (name == nullptr) return INVALID_HANDLE_VALUE;
  if (std::strcmp(name, "CONIN$") == 0) return OpenConsoleInput();
  if (!IsSupportedOpen(access, share_mode, disposition, flags)) {
    return INVALID_HANDLE_VALUE;
  }
  char path[SystemPathSize];
  if (!ToSystemPath(name, path, sizeof path)) return INVALID_HANDLE_VALUE;
  const int fd = OpenRegularFile(path, access, disposition);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  PosixHandle* handle = new (std::nothrow) PosixHandle{fd, false};
  if (handle == nullptr) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read_count,
              void*) {
  PosixHandle* handle = HandleOf(file);
  if (read_count != nullptr) *read_count = 0;
  if (handle == nullptr || handle->is_console) return FALSE;
  DWORD done = 0;
  while (done < to_read) {
    const ssize_t got =
        read(handle->fd, static_cast<char*>(buffer) + done, to_read - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FALSE;
    if (got == 0) break;
    done += static_cast<DWORD>(got);
    if (read_count != nullptr) *read_count = done;
  }
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write,
               DWORD* written, void*) {
  PosixHandle* handle = HandleOf(file);
  if (written != nullptr) *written = 0;
  if (handle == nullptr || handle->is_console) return FALSE;
  DWORD done = 0;
  while (done < to_write) {
    const ssize_t put = write(handle->fd,
                              static_cast<const char*>(buffer) + done,
                              to_write - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return FALSE;
    done += static_cast<DWORD>(put);
    if (written != nullptr) *written = done;
  }
  return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* size_high) {
  PosixHandle* handle = HandleOf(file);
  struct stat info;
  if (handle == nullptr || fstat(handle->fd, &info) != 0) {
    if (size_high != nullptr) *size_high = 0;
    return INVALID_FILE_SIZE;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size_high != nullptr) *size_high = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high,
                     DWORD method) {
  PosixHandle* handle = HandleOf(file);
  static_assert(FILE_BEGIN == SEEK_SET && FILE_CURRENT == SEEK_CUR &&
                FILE_END == SEEK_END);
  if (handle == nullptr || method > FILE_END) return INVALID_SET_FILE_POINTER;
  // Without a high word the distance is a signed 32-bit value; with one the
  // two words form a signed 64-bit distance.
  std::int64_t offset = distance;
  if (distance_high != nullptr) {
    offset = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<DWORD>(*distance_high)) << 32) |
        static_cast<DWORD>(distance));
  }
  const off_t position = lseek(handle->fd, offset, static_cast<int>(method));
  if (position < 0) return INVALID_SET_FILE_POINTER;
  const auto where = static_cast<std::uint64_t>(position);
  if (distance_high != nullptr) *distance_high = static_cast<LONG>(where >> 32);
  return static_cast<DWORD>(where);
}

BOOL SetEndOfFile(HANDLE file) {
  PosixHandle* handle = HandleOf(file);
  if (handle == nullptr) return FALSE;
  const off_t position = lseek(handle->fd, 0, SEEK_CUR);
  return position >= 0 && ftruncate(handle->fd, position) == 0;
}

BOOL CloseHandle(HANDLE file) {
  PosixHandle* handle = HandleOf(file);
  if (handle == nullptr) return FALSE;
  const int result = close(handle->fd);
  delete handle;
  return result == 0;
}
