// POSIX implementation of the Windows directory listing.
// Assumes POSIX.1-2008 (dirfd, fstatat, fdopendir) plus the entry type in
// struct dirent (d_type: Linux, the BSDs, macOS); an entry typed DT_UNKNOWN,
// as some file systems give, is looked up with fstatat. The walk's listings
// open their directories through beneath.cc, which is Linux's own.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/posix/posix_internal.h"
#include "platform/posix/win32_posix.h"

namespace {

struct FindHandle {
  DIR* dir;
  bool sizes;  // regular files are looked up for their sizes
};

// The walk's listing: the directory reached beneath the current one
// without a link on the way, itself included.
DIR* OpenDirectoryBeneath(const char* path) {
  const int fd = OpenBeneath(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return nullptr;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) close(fd);
  return dir;
}

constexpr char AllEntries[] = "*.*";

// Splits "dir\*.*" into the directory to open; only that pattern is used.
int PatternDirectory(const char* pattern, char* out, std::size_t size) {
  const std::size_t length = std::strlen(pattern);
  const std::size_t suffix = sizeof AllEntries - 1;
  if (length < suffix || std::strcmp(pattern + length - suffix, AllEntries) != 0) {
    return 0;
  }
  if (length == suffix) {
    std::strcpy(out, ".");
    return 1;
  }
  if (length - suffix >= size) return 0;
  char directory[SystemPathSize];
  std::memcpy(directory, pattern, length - suffix);
  directory[length - suffix] = '\0';
  return ToSystemPath(directory, out, size);
}

// Fills in an entry: only a real directory gets the directory attribute; a
// link is described by what it names, so a link to a file has its size.
// Everything that is no regular file or real directory, or that vanished,
// gets the device attribute: opening a FIFO or a device is itself an act.
void DescribeEntry(const FindHandle* find, const dirent* entry, WIN32_FIND_DATAA* data) {
  std::strncpy(data->cFileName, entry->d_name, MAX_PATH - 1);
  data->cFileName[MAX_PATH - 1] = '\0';
  data->dwFileAttributes = FILE_ATTRIBUTE_DEVICE;
  data->nFileSizeHigh = 0;
  data->nFileSizeLow = 0;
  if (entry->d_type == DT_DIR) {
    data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    return;
  }
  if (entry->d_type == DT_REG && !find->sizes) {
    data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    return;
  }
  DIR* dir = find->dir;
  struct stat info;
  const int at = dirfd(dir);
  if (fstatat(at, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    return;
  }
  if (S_ISLNK(info.st_mode) && fstatat(at, entry->d_name, &info, 0) != 0) {
    return;
  }
  if (!S_ISREG(info.st_mode)) return;
  data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
  const auto size = static_cast<std::uint64_t>(info.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
}

// The next entry to show, or nullptr at the end. A name holding a backslash
// (which no Windows name can) is shown as it is: the walk leaves it out and
// so knows of it.
const dirent* NextEntry(const FindHandle* find) { return readdir(find->dir); }

HANDLE StartFind(const char* pattern, bool beneath, bool sizes, WIN32_FIND_DATAA* data) {
  SetLastErrorFrom(0);
  char path[SystemPathSize];
  if (pattern == nullptr || !PatternDirectory(pattern, path, sizeof path)) {
    return INVALID_HANDLE_VALUE;
  }
  DIR* dir = beneath ? OpenDirectoryBeneath(path) : opendir(path);
  if (dir == nullptr) {
    SetLastErrorFrom(errno);
    return INVALID_HANDLE_VALUE;
  }
  FindHandle* find = new (std::nothrow) FindHandle{dir, sizes};
  if (find == nullptr) SetLastErrorFrom(ENOMEM);
  if (find == nullptr || !FindNextFileA(find, data)) {
    delete find;
    closedir(dir);
    return INVALID_HANDLE_VALUE;
  }
  return find;
}

}  // namespace

HANDLE FindFirstFileExA(const char* pattern, FINDEX_INFO_LEVELS info_level,
                        void* data, FINDEX_SEARCH_OPS search_op,
                        void* search_filter, DWORD additional_flags) {
  if (info_level != FindExInfoStandard || search_filter != nullptr ||
      (additional_flags & ~(FILE_FLAG_NO_DIRECTORY_LINKS | FIND_FIRST_EX_NO_FILE_SIZES)) != 0 ||
      search_op != FindExSearchNameMatch) {
    return INVALID_HANDLE_VALUE;
  }
  return StartFind(pattern, (additional_flags & FILE_FLAG_NO_DIRECTORY_LINKS) != 0,
                   (additional_flags & FIND_FIRST_EX_NO_FILE_SIZES) == 0,
                   static_cast<WIN32_FIND_DATAA*>(data));
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  if (find == nullptr || find == INVALID_HANDLE_VALUE) return FALSE;
  const FindHandle* handle = static_cast<FindHandle*>(find);
  const dirent* entry = NextEntry(handle);
  if (entry == nullptr) return FALSE;
  DescribeEntry(handle, entry, data);
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  if (find == nullptr || find == INVALID_HANDLE_VALUE) return FALSE;
  FindHandle* handle = static_cast<FindHandle*>(find);
  const int result = closedir(handle->dir);
  delete handle;
  return result == 0;
}
