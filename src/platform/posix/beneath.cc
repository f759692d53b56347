// Opening paths beneath the current directory without following links on
// the way, for the walk, whose tree may change while it runs: a directory
// swapped for a link between listing it and opening it must not lead the
// walk anywhere else. Linux: openat2, or a walk component by component
// where the kernel or a seccomp filter refuses it.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix/posix_internal.h"

namespace {

void CloseKeepingErrno(int fd) {
  const int saved = errno;
  close(fd);
  errno = saved;
}

// Opens the next component below at (closed here unless AT_FDCWD). Only
// the last one takes the caller's flags; each is opened without following a
// link, and ".." is refused so that the walk cannot climb out.
int OpenComponent(int at, const char* component, std::size_t length,
                  bool last, int flags) {
  // An empty component ("a//b", a closing '/') stays where it is.
  char name[NAME_MAX + 1] = ".";
  int fd = -1;
  if (length > NAME_MAX) {
    errno = ENAMETOOLONG;
  } else if (length == 2 && component[0] == '.' && component[1] == '.') {
    errno = EXDEV;
  } else {
    if (length > 0) {
      std::memcpy(name, component, length);
      name[length] = '\0';
    }
    const int how = last ? flags : O_PATH | O_DIRECTORY;
    fd = openat(at, name, how | O_NOFOLLOW | O_CLOEXEC);
    // O_PATH with O_NOFOLLOW opens a link itself; answer as openat2 does.
    struct stat info;
    if (fd >= 0 && last && (flags & O_PATH) != 0 &&
        (fstat(fd, &info) != 0 || S_ISLNK(info.st_mode))) {
      close(fd);
      fd = -1;
      errno = ELOOP;
    }
  }
  if (at != AT_FDCWD) CloseKeepingErrno(at);
  return fd;
}

int OpenByComponents(const char* path, int flags) {
  if (path[0] == '/') {
    errno = EXDEV;
    return -1;
  }
  int at = AT_FDCWD;
  for (;;) {
    const char* slash = std::strchr(path, '/');
    const std::size_t length = slash == nullptr ? std::strlen(path) : slash - path;
    at = OpenComponent(at, path, length, slash == nullptr, flags);
    if (at < 0 || slash == nullptr) return at;
    path = slash + 1;
  }
}

}  // namespace

int OpenBeneath(const char* path, int flags) {
  open_how how = {};
  how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  const long fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
  return OpenByComponents(path, flags);
}

// An ordinary file costs the one openat2; only a link met on the way costs
// more: the directory part is opened on its own and the name opened in it,
// following a link there.
int OpenFileBeneath(const char* path, int flags) {
  const int fd = OpenBeneath(path, flags);
  if (fd >= 0 || errno != ELOOP) return fd;
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return openat(AT_FDCWD, path, flags | O_CLOEXEC);
  char directory[SystemPathSize];
  const std::size_t length = slash - path;
  std::memcpy(directory, path, length);
  directory[length] = '\0';
  const int parent = OpenBeneath(directory, O_PATH | O_DIRECTORY);
  if (parent < 0) return -1;
  const int file = openat(parent, slash + 1, flags | O_CLOEXEC);
  CloseKeepingErrno(parent);
  return file;
}
