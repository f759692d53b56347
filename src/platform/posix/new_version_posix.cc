// POSIX implementation of a file's new version. The new version is an
// unnamed file (Linux's O_TMPFILE) in the directory of the file's target,
// so that a killed run leaves nothing behind; it gets a name only at the
// end, through its /proc/self/fd link. Where the file system refuses
// unnamed files, or /proc is not mounted, it is a hidden file of a fixed
// name beside the list, held with an exclusive flock while it is written
// (so that the walk cannot hash it), and a later run removes it when
// nobody holds it. The same name carries the finished version for the
// moment between its link and the rename over the old one: no call links
// an unnamed file over an existing name.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/new_version.h"
#include "platform/posix/posix_internal.h"

namespace {

// More links than this in a row are taken for a loop, as the kernel does.
constexpr int MaxLinksFollowed = 40;
constexpr char TempSuffix[] = ".dorvane-new";
// Of the list's name, the hidden name keeps what fits NAME_MAX with the
// leading dot and the suffix.
constexpr std::size_t NameKept = NAME_MAX - 1 - (sizeof TempSuffix - 1);
// Bytes copied at a time where the kernel cannot copy by itself.
constexpr std::size_t CopyBufferSize = 64 * 1024;

}  // namespace

struct NewVersion {
  int directory = -1;  // the directory the target lies in
  char name[NAME_MAX + 1] = {};
  char temp_name[NAME_MAX + 1] = {};
  bool named = false;  // the new version lives under temp_name
  HANDLE old_file = INVALID_HANDLE_VALUE;
  HANDLE new_file = INVALID_HANDLE_VALUE;
  struct stat old_info = {};
};

namespace {

// What path finally names once every symbolic link it ends in is followed,
// into out (SystemPathSize): a link's target is taken relative to the
// link's directory. The last name need not exist: a dangling link gives
// the name the new file is to have.
bool FollowLinks(const char* path, char* out) {
  if (std::strlen(path) >= SystemPathSize) return false;
  std::strcpy(out, path);
  for (int followed = 0; followed < MaxLinksFollowed; ++followed) {
    struct stat info;
    if (lstat(out, &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    char target[SystemPathSize];
    const ssize_t length = readlink(out, target, sizeof target - 1);
    if (length <= 0) return false;
    target[length] = '\0';
    const char* slash = std::strrchr(out, '/');
    const std::size_t kept = target[0] == '/' || slash == nullptr ? 0 : slash - out + 1;
    if (kept + static_cast<std::size_t>(length) >= SystemPathSize) return false;
    std::memcpy(out + kept, target, static_cast<std::size_t>(length) + 1);
  }
  errno = ELOOP;
  return false;
}

// Opens the directory of target and keeps target's last name.
bool OpenDirectoryOf(char* target, NewVersion* version) {
  char* slash = std::strrchr(target, '/');
  const char* name = slash == nullptr ? target : slash + 1;
  if (std::strlen(name) > NAME_MAX || name[0] == '\0' || std::strcmp(name, ".") == 0 ||
      std::strcmp(name, "..") == 0) {
    errno = EISDIR;
    return false;
  }
  std::strcpy(version->name, name);
  std::snprintf(version->temp_name, sizeof version->temp_name, ".%.*s%s",
                static_cast<int>(NameKept), name, TempSuffix);
  const char* directory = ".";
  if (slash != nullptr) {
    *slash = '\0';
    directory = slash == target ? "/" : target;
  }
  version->directory = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return version->directory >= 0;
}

// Opens the old version, when there is one, for reading and writing (a
// list that may not be written is not replaced either), and takes its
// exclusive lock. Nothing but a regular file is opened.
bool OpenOldVersion(NewVersion* version) {
  struct stat info;
  if (fstatat(version->directory, version->name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT;
  }
  if (!S_ISREG(info.st_mode)) {
    errno = EINVAL;
    return false;
  }
  const int fd = openat(version->directory, version->name,
                        O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  if (fstat(fd, &version->old_info) != 0 || !S_ISREG(version->old_info.st_mode) ||
      flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  version->old_file = HandleForDescriptor(fd, false);
  return version->old_file != INVALID_HANDLE_VALUE;
}

// A file under the hidden name that no run holds is what a killed run
// left: removed.
void RemoveStaleTemp(const NewVersion* version) {
  struct stat info;
  if (fstatat(version->directory, version->temp_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(info.st_mode)) {
    return;
  }
  const int fd = openat(version->directory, version->temp_name,
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) unlinkat(version->directory, version->temp_name, 0);
  close(fd);
}

// The link that gives an unnamed file its name at the end.
void ProcLink(int fd, char* link, std::size_t size) {
  std::snprintf(link, size, "/proc/self/fd/%d", fd);
}

// An unnamed file in the directory, where the file system makes one and
// the process can name it later; -1 otherwise.
int OpenUnnamed(int directory) {
  const int fd = openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  char link[32];
  ProcLink(fd, link, sizeof link);
  struct stat info;
  if (stat(link, &info) == 0) return fd;
  close(fd);
  return -1;
}

// Makes the new version, held with an exclusive lock: after it takes the
// list's name, the run holds the list as it held the old one.
bool OpenNewVersion(NewVersion* version) {
  RemoveStaleTemp(version);
  int fd = OpenUnnamed(version->directory);
  if (fd < 0) {
    // The file system has no unnamed files (or they cannot be named).
    fd = openat(version->directory, version->temp_name,
                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    version->named = true;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (version->named) unlinkat(version->directory, version->temp_name, 0);
    close(fd);
    return false;
  }
  version->new_file = HandleForDescriptor(fd, false);
  if (version->new_file == INVALID_HANDLE_VALUE && version->named) {
    unlinkat(version->directory, version->temp_name, 0);
  }
  return version->new_file != INVALID_HANDLE_VALUE;
}

// The old version's owner where the process may give it (root; else its
// group where the process belongs to it), then its permission bits, which
// the change of owner may have cleared.
bool GiveOldPermissions(int fd, const struct stat& old) {
  if (fchown(fd, old.st_uid, old.st_gid) != 0) fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  return fchmod(fd, old.st_mode & 07777) == 0;
}

// Gives the finished new version the list's name. Where there was no
// list, the link fails when another run has made one meanwhile.
bool TakeName(const NewVersion* version, int fd) {
  const int directory = version->directory;
  const bool replaces = version->old_file != INVALID_HANDLE_VALUE;
  if (version->named) {
    if (replaces) return renameat(directory, version->temp_name, directory, version->name) == 0;
    if (linkat(directory, version->temp_name, directory, version->name, 0) != 0) return false;
    unlinkat(directory, version->temp_name, 0);
    return true;
  }
  char link[32];
  ProcLink(fd, link, sizeof link);
  if (!replaces) return linkat(AT_FDCWD, link, directory, version->name, AT_SYMLINK_FOLLOW) == 0;
  if (linkat(AT_FDCWD, link, directory, version->temp_name, AT_SYMLINK_FOLLOW) != 0) {
    return false;
  }
  if (renameat(directory, version->temp_name, directory, version->name) == 0) return true;
  unlinkat(directory, version->temp_name, 0);
  return false;
}

bool PutInPlace(const NewVersion* version) {
  const int fd = HandleOf(version->new_file)->fd;
  if (version->old_file != INVALID_HANDLE_VALUE &&
      !GiveOldPermissions(fd, version->old_info)) {
    return false;
  }
  // The data and the size; the inode's other changes and the new name go
  // to disk with the directory's sync below, which commits them together
  // on journalling file systems.
  if (fdatasync(fd) != 0 || !TakeName(version, fd)) return false;
  // Once renamed the new version is the list: a sync that fails cannot
  // bring the old one back, and is not reported.
  fsync(version->directory);
  return true;
}

// Closes everything; a named new version is removed first unless it took
// the list's name.
void FreeVersion(NewVersion* version, bool placed) {
  if (version->new_file != INVALID_HANDLE_VALUE) {
    if (version->named && !placed) unlinkat(version->directory, version->temp_name, 0);
    CloseHandle(version->new_file);
  }
  if (version->old_file != INVALID_HANDLE_VALUE) CloseHandle(version->old_file);
  if (version->directory >= 0) close(version->directory);
  delete version;
}

// Copies what is left of from to to with reads and writes.
bool CopyByHand(int from, off_t* in, off_t end, int to, off_t* out) {
  char buffer[CopyBufferSize];
  while (*in < end) {
    const ssize_t got = pread(from, buffer, sizeof buffer, *in);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = pwrite(to, buffer + done, static_cast<std::size_t>(got - done), *out);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
      *out += put;
    }
    *in += got;
  }
  return true;
}

}  // namespace

NewVersion* StartNewVersion(const char* path) {
  SetLastErrorFrom(0);
  char system_path[SystemPathSize];
  char target[SystemPathSize];
  if (path == nullptr || !ToSystemPath(path, system_path, sizeof system_path) ||
      !FollowLinks(system_path, target)) {
    return nullptr;
  }
  NewVersion* version = new (std::nothrow) NewVersion;
  if (version == nullptr) {
    SetLastErrorFrom(ENOMEM);
    return nullptr;
  }
  if (!OpenDirectoryOf(target, version) || !OpenOldVersion(version) ||
      !OpenNewVersion(version)) {
    SetLastErrorFrom(errno);
    FreeVersion(version, false);
    return nullptr;
  }
  return version;
}

HANDLE NewVersionFile(const NewVersion* version) { return version->new_file; }

HANDLE OldVersionFile(const NewVersion* version) { return version->old_file; }

bool FinishNewVersion(NewVersion* version) {
  const bool placed = PutInPlace(version);
  FreeVersion(version, placed);
  return placed;
}

void AbandonNewVersion(NewVersion* version) { FreeVersion(version, false); }

bool CopyFileData(HANDLE from, HANDLE to) {
  PosixHandle* source = HandleOf(from);
  PosixHandle* target = HandleOf(to);
  struct stat info;
  if (source == nullptr || target == nullptr || fstat(source->fd, &info) != 0) return false;
  ForgetFileState(target);
  off_t in = 0;
  off_t out = static_cast<off_t>(target->position);
  bool copied = true;
  while (in < info.st_size) {
    const ssize_t put = copy_file_range(source->fd, &in, target->fd, &out,
                                        static_cast<std::size_t>(info.st_size - in), 0);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                    errno == EOPNOTSUPP)) {
      // Kernels or file systems that cannot copy between these files.
      copied = CopyByHand(source->fd, &in, info.st_size, target->fd, &out);
      break;
    }
    // 0: the file ended sooner than it said.
    if (put <= 0) {
      copied = put == 0;
      break;
    }
  }
  target->position = static_cast<std::uint64_t>(out);
  return copied;
}
