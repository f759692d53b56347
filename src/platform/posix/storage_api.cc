// Linux implementation of the storage queries: sysfs says what kind of
// disk a file system lives on, the mount table where btrfs and the like
// were mounted from. Linux's own, like beneath.cc.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_internal.h"
#include "platform/posix/storage_posix.h"
#include "platform/storage.h"

// cachestat (Linux 6.5): the page cache's holding of a range of a file.
// Numbers from 424 on are the same on every architecture.
#ifndef SYS_cachestat
#define SYS_cachestat 451
#endif

namespace {

struct CachestatRange {
  std::uint64_t offset;
  std::uint64_t length;
};

struct Cachestat {
  std::uint64_t cached;  // pages of the range in memory
  std::uint64_t dirty;
  std::uint64_t writeback;
  std::uint64_t evicted;
  std::uint64_t recently_evicted;
};

// Stacks of devices deeper than this are taken for a loop in the tree.
constexpr int MaxStackDepth = 8;

bool JoinPath(char* out, std::size_t size, const char* dir, const char* name) {
  const int length = std::snprintf(out, size, "%s/%s", dir, name);
  return length > 0 && static_cast<std::size_t>(length) < size;
}

// The first byte of a sysfs attribute, '\0' when it cannot be read.
char FirstByteOf(const char* dir, const char* name) {
  char path[PATH_MAX];
  if (!JoinPath(path, sizeof path, dir, name)) return '\0';
  std::FILE* file = std::fopen(path, "re");
  if (file == nullptr) return '\0';
  const int first = std::fgetc(file);
  std::fclose(file);
  return first == EOF ? '\0' : static_cast<char>(first);
}

bool HasEntry(const char* dir, const char* name) {
  char path[PATH_MAX];
  struct stat info;
  return JoinPath(path, sizeof path, dir, name) && lstat(path, &info) == 0;
}

StorageKind KindOfDevice(const char* device, int depth);

// A device built on others lists them in slaves/. Rotational when any of
// them is, since a read may have to wait for that disk; unknown when one
// cannot be told and none is rotational. False when there are none.
bool KindOfSlaves(const char* device, int depth, StorageKind* kind) {
  char slaves[PATH_MAX];
  if (!JoinPath(slaves, sizeof slaves, device, "slaves")) return false;
  DIR* list = opendir(slaves);
  if (list == nullptr) return false;
  bool found = false;
  *kind = StorageSolid;
  while (const dirent* entry = readdir(list)) {
    if (entry->d_name[0] == '.') continue;
    char link[PATH_MAX];
    char target[PATH_MAX];
    StorageKind slave = StorageUnknown;
    if (JoinPath(link, sizeof link, slaves, entry->d_name) &&
        realpath(link, target) != nullptr) {
      slave = KindOfDevice(target, depth + 1);
    }
    found = true;
    if (slave == StorageRotational) {
      *kind = StorageRotational;
      break;
    }
    if (slave == StorageUnknown) *kind = StorageUnknown;
  }
  closedir(list);
  return found;
}

// device is the resolved sysfs directory of a block device.
StorageKind KindOfDevice(const char* device, int depth) {
  if (depth > MaxStackDepth) return StorageUnknown;
  StorageKind kind = StorageUnknown;
  if (KindOfSlaves(device, depth, &kind)) return kind;
  // A partition has no queue of its own; its directory sits in its disk's.
  if (HasEntry(device, "partition")) {
    char disk[PATH_MAX];
    std::snprintf(disk, sizeof disk, "%s", device);
    char* last = std::strrchr(disk, '/');
    if (last == nullptr || last == disk) return StorageUnknown;
    *last = '\0';
    return KindOfDevice(disk, depth + 1);
  }
  switch (FirstByteOf(device, "queue/rotational")) {
    case '1':
      return StorageRotational;
    case '0':
      return StorageSolid;
    default:
      return StorageUnknown;
  }
}

}  // namespace

StorageKind FindDeviceStorage(const char* sysfs_root, unsigned major,
                              unsigned minor) {
  char link[PATH_MAX];
  char device[PATH_MAX];
  const int length = std::snprintf(link, sizeof link, "%s/dev/block/%u:%u",
                                   sysfs_root, major, minor);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof link ||
      realpath(link, device) == nullptr) {
    return StorageUnknown;
  }
  return KindOfDevice(device, 0);
}

StorageKind FindMountStorage(const char* mountinfo, const char* sysfs_root,
                             unsigned major, unsigned minor) {
  const StorageKind kind = FindDeviceStorage(sysfs_root, major, minor);
  // Btrfs and the like give their files a device number that sysfs does
  // not know; the mount table names the device they were mounted from.
  if (kind != StorageUnknown || major != 0) return kind;
  std::FILE* table = std::fopen(mountinfo, "re");
  if (table == nullptr) return StorageUnknown;
  char line[PATH_MAX];
  char source[PATH_MAX] = "";
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "%u:%u", major, minor);
  while (source[0] == '\0' && std::fgets(line, sizeof line, table) != nullptr) {
    // ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - TYPE SOURCE ...
    char number[32];
    const char* rest = std::strstr(line, " - ");
    if (std::sscanf(line, "%*s %*s %31s", number) == 1 &&
        std::strcmp(number, wanted) == 0 && rest != nullptr) {
      std::sscanf(rest, " - %*s %4095s", source);
    }
  }
  std::fclose(table);
  // /dev/mapper/NAME and /dev/disk/by-*/NAME are links to the kernel's name.
  char resolved[PATH_MAX];
  const char* device =
      source[0] == '/' && realpath(source, resolved) != nullptr ? resolved : source;
  const char* name = std::strrchr(device, '/');
  char link[PATH_MAX];
  char target[PATH_MAX];
  if (name == nullptr || name[1] == '\0' ||
      std::snprintf(link, sizeof link, "%s/class/block/%s", sysfs_root, name + 1) <= 0 ||
      realpath(link, target) == nullptr) {
    return StorageUnknown;
  }
  return KindOfDevice(target, 0);
}

StorageKind FindStorage(const char* path) {
  char system_path[SystemPathSize];
  struct stat info;
  if (path == nullptr || !ToSystemPath(path, system_path, sizeof system_path) ||
      stat(system_path, &info) != 0) {
    return StorageUnknown;
  }
  // File systems with no block device at all (tmpfs, network, overlay)
  // stay unknown.
  return FindMountStorage("/proc/self/mountinfo", "/sys", major(info.st_dev),
                          minor(info.st_dev));
}

bool QueryFilePlace(const char* path, std::uint64_t* place) {
  char system_path[SystemPathSize];
  struct stat info;
  if (path == nullptr || !ToSystemPath(path, system_path, sizeof system_path) ||
      stat(system_path, &info) != 0) {
    return false;
  }
  // ext4 and XFS give the files of one directory inodes of one group and
  // place their data in or near that group; the first extent (FIEMAP)
  // would be exact but needs the file open for reading.
  *place = static_cast<std::uint64_t>(info.st_ino);
  return true;
}

void ReadAheadFile(HANDLE file, std::uint64_t bytes) {
  const PosixHandle* handle = HandleOf(file);
  // The kernel queues the reads and returns; a failure only costs the hint.
  if (handle != nullptr) {
    posix_fadvise(handle->fd, 0, static_cast<off_t>(bytes), POSIX_FADV_WILLNEED);
  }
}

CacheState QueryCachedBytes(HANDLE file, DWORD to_read) {
  PosixHandle* handle = HandleOf(file);
  if (handle == nullptr) return CacheCannotTell;
  if (handle->ahead_used != handle->ahead_end) return CacheHeld;
  // The size as last seen: a file that grew since is read as it comes.
  const std::uint64_t size = handle->stamp.size;
  if (handle->position >= size) return CacheHeld;
  const std::uint64_t left = size - handle->position;
  CachestatRange range = {handle->position, to_read < left ? to_read : left};
  Cachestat held = {};
  if (syscall(SYS_cachestat, handle->fd, &range, &held, 0) != 0) return CacheCannotTell;
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const std::uint64_t pages =
      (range.offset + range.length + page - 1) / page - range.offset / page;
  return held.cached >= pages ? CacheHeld : CacheNotHeld;
}
