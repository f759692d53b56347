// Recursive, depth-first walk of a directory tree into the checksum list.
#include "listing/walker.h"

#include <cstdint>
#include <cstring>

#include "digest/hash_file.h"
#include "listing/list_format.h"

namespace {

bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool HasControlByte(const char* name) {
  for (; *name != '\0'; ++name) {
    if (IsControlByte(static_cast<unsigned char>(*name))) return true;
  }
  return false;
}

bool IsDirectory(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// FIFOs, devices and the like: opening one can act (release a FIFO's
// writer, rewind a tape), so it is never opened. Windows' listing never
// marks a file so.
bool IsDevice(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0;
}

// Starts a listing of "<directory>\*.*" (the backslash added when missing).
// With only_directories the listing may skip entries that are not
// directories, which spares the system a look at each file. The tree may
// change under the walk: the directory is reached without a link on the
// way, so a directory swapped for one lists nothing, like one that vanished.
HANDLE StartListing(const char* directory, bool only_directories,
                    WIN32_FIND_DATAA* entry) {
  char pattern[LineBufferSize];
  const std::size_t length = std::strlen(directory);
  const bool has_separator = length > 0 && directory[length - 1] == '\\';
  if (length + 5 > sizeof pattern) return INVALID_HANDLE_VALUE;
  std::memcpy(pattern, directory, length);
  std::strcpy(pattern + length, has_separator ? "*.*" : "\\*.*");
  return FindFirstFileExA(pattern, FindExInfoStandard, entry,
                          only_directories ? FindExSearchLimitToDirectories
                                           : FindExSearchNameMatch,
                          nullptr, FILE_FLAG_NO_DIRECTORY_LINKS);
}

}  // namespace

int ListFileEntry(const char* directory, const WIN32_FIND_DATAA& entry,
                  HANDLE list_file) {
  if (HasControlByte(entry.cFileName) || IsDevice(entry)) return 1;
  const std::size_t directory_length = std::strlen(directory);
  const bool has_separator =
      directory_length > 0 && directory[directory_length - 1] == '\\';
  const std::size_t name_length = std::strlen(entry.cFileName);
  const std::size_t path_length =
      directory_length + (has_separator ? 0 : 1) + name_length;
  // A path the walk's buffer could not hold is left out.
  if (path_length > PathBufferSize - 1) return 1;

  char path[LineBufferSize];
  std::memcpy(path, directory, directory_length);
  char* name = path + directory_length;
  if (!has_separator) *name++ = '\\';
  std::memcpy(name, entry.cFileName, name_length + 1);

  char hex_digest[HexDigestSize];
  std::uint64_t hashed_size = 0;
  // Opened the way the listing was, so that a file's directories on the way
  // are the ones listed, not a link swapped in since.
  if (!HashFile(path, hex_digest, &hashed_size, FILE_FLAG_NO_DIRECTORY_LINKS)) {
    return 1;
  }
  const std::uint64_t size =
      (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) |
      entry.nFileSizeLow;
  if (hashed_size != size) return 1;
  char line[LineBufferSize];
  const int length = BuildFileLine(hex_digest, size, entry.cFileName, line);
  return WriteListText(list_file, line, length);
}

int ListDirectoryFiles(const char* directory, HANDLE list_file) {
  WIN32_FIND_DATAA entry;
  HANDLE find = StartListing(directory, false, &entry);
  if (find == INVALID_HANDLE_VALUE) return 1;
  int written = 1;
  do {
    if (!IsDirectory(entry)) written = ListFileEntry(directory, entry, list_file);
  } while (written && FindNextFileA(find, &entry));
  FindClose(find);
  return written;
}

int WalkDirectory(char* path, HANDLE list_file) {
  PathAddBackslashA(path);
  char line[LineBufferSize];
  if (!WriteListText(list_file, line, BuildDirLine(path, line))) return 0;
  if (!ListDirectoryFiles(path, list_file)) return 0;

  WIN32_FIND_DATAA entry;
  HANDLE find = StartListing(path, true, &entry);
  if (find == INVALID_HANDLE_VALUE) return 1;
  const std::size_t length = std::strlen(path);
  int written = 1;
  do {
    if (!IsDirectory(entry) || IsDotEntry(entry.cFileName)) continue;
    if (HasControlByte(entry.cFileName)) continue;
    // The subdirectory's path with its closing backslash must fit.
    if (length + std::strlen(entry.cFileName) + 1 > PathBufferSize - 1) continue;
    std::strcpy(path + length, entry.cFileName);
    std::strcat(path + length, "\\");
    written = WalkDirectory(path, list_file);
    path[length] = '\0';
  } while (written && FindNextFileA(find, &entry));
  FindClose(find);
  return written;
}
