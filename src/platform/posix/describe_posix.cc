// The POSIX words for failures and odd entries.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/describe.h"
#include "platform/posix/posix_internal.h"

namespace {

// The errno behind a code of this layer's; 0 for codes of its own.
int ErrnoOf(DWORD error) {
  if ((error & ERROR_POSIX_BASE) != 0) return static_cast<int>(error & ~ERROR_POSIX_BASE);
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return ENOENT;
    case ERROR_PATH_NOT_FOUND: return ENOTDIR;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY: return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    default: return 0;
  }
}

}  // namespace

void DescribeError(DWORD error, char* out, std::size_t size) {
  const char* text = nullptr;
  switch (error) {
    case ERROR_LOCK_VIOLATION: text = "locked by another program"; break;
    case ERROR_BAD_FILE_TYPE: text = "not a regular file"; break;
    // The walk reaches nothing through a link on its way, and nothing
    // outside the start directory: a link met there is not followed.
    case ERROR_POSIX_BASE | ELOOP: text = "a symbolic link on the way, not followed"; break;
    case ERROR_POSIX_BASE | EXDEV: text = "leads out of the directory"; break;
    default: break;
  }
  const int number = ErrnoOf(error);
  // strerror's texts are constant for every errno the system knows; they
  // are asked from one thread only.
  if (text == nullptr) text = number != 0 ? std::strerror(number) : "failed";
  std::snprintf(out, size, "%s", text);
}

const char* DescribeEntryKind(const char* path) {
  char system_path[SystemPathSize];
  struct stat info;
  if (!ToSystemPath(path, system_path, sizeof system_path) ||
      lstat(system_path, &info) != 0) {
    return "not a regular file";
  }
  if (S_ISLNK(info.st_mode)) {
    if (stat(system_path, &info) != 0) {
      return errno == ELOOP ? "a symbolic link that loops" : "a broken symbolic link";
    }
    if (S_ISDIR(info.st_mode)) return "a symbolic link to a directory";
  }
  if (S_ISFIFO(info.st_mode)) return "a FIFO";
  if (S_ISSOCK(info.st_mode)) return "a socket";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device";
  return "not a regular file";
}

bool IsSameFile(const char* path, HANDLE file) {
  const PosixHandle* handle = HandleOf(file);
  char system_path[SystemPathSize];
  struct stat named;
  struct stat held;
  return handle != nullptr && ToSystemPath(path, system_path, sizeof system_path) &&
         stat(system_path, &named) == 0 && fstat(handle->fd, &held) == 0 &&
         named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}
