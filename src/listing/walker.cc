// Recursive, depth-first walk of a directory tree into the checksum list.
#include "listing/walker.h"

#include <cstdint>
#include <cstring>

#include "digest/hash_lanes.h"
#include "listing/list_format.h"

// Lines waiting: the queued files' lines and the DIR lines between them.
constexpr unsigned WalkQueueSize = 2 * HashQueueSize;

struct WalkLine {
  bool is_file;
  std::uint64_t size;          // a file's size as the listing gave it
  char text[PathBufferSize];   // a directory's path, or a file's name
};

struct WalkQueue {
  HANDLE list_file;
  unsigned first;  // the oldest line waiting
  unsigned end;    // one past the newest
  WalkLine lines[WalkQueueSize];
  LaneHasher hasher;
};

namespace {

bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool HasControlByte(const char* name) {
  for (; *name != '\0'; ++name) {
    if (IsControlByte(static_cast<unsigned char>(*name)) || *name == '\\') return true;
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

// StartListing, once more after the files open for hashing are done and
// closed when it failed for lack of handles: the hashing ahead of the walk
// must never cost the walk a directory.
HANDLE StartListingBesideHashing(WalkQueue* queue, const char* directory,
                                 bool only_directories, WIN32_FIND_DATAA* entry) {
  HANDLE find = StartListing(directory, only_directories, entry);
  if (find != INVALID_HANDLE_VALUE ||
      GetLastError() != ERROR_TOO_MANY_OPEN_FILES) {
    return find;
  }
  CloseHashedFiles(&queue->hasher);
  return StartListing(directory, only_directories, entry);
}

// Closes a listing; a file that waits for a handle may have one now.
void EndListing(WalkQueue* queue, HANDLE find) {
  FindClose(find);
  ResumeOpening(&queue->hasher);
}

WalkLine& LineOf(WalkQueue* queue, unsigned number) {
  return queue->lines[number % WalkQueueSize];
}

// Writes the oldest waiting line; for a FILE line, once its file is hashed.
bool WriteOldestLine(WalkQueue* queue) {
  const WalkLine& line = LineOf(queue, queue->first++);
  char text[LineBufferSize];
  if (!line.is_file) {
    return WriteListText(queue->list_file, text, BuildDirLine(line.text, text));
  }
  HashResult result;
  TakeHashResult(&queue->hasher, &result);
  // A file whose size changed since it was listed is left out: the line
  // would give the size of one content and the digest of another.
  if (!result.ok || result.hashed_size != line.size) return true;
  return WriteListText(queue->list_file, text,
                       BuildFileLine(result.hex, line.size, line.text, text));
}

// Writes out the oldest lines until one more line, and for a file one more
// hashing, can wait.
bool MakeRoom(WalkQueue* queue, bool for_file) {
  while (queue->end - queue->first == WalkQueueSize ||
         (for_file && HashQueueFull(&queue->hasher))) {
    if (!WriteOldestLine(queue)) return false;
  }
  return true;
}

bool WalkTree(char* path, WalkQueue* queue) {
  PathAddBackslashA(path);
  if (!QueueDirLine(queue, path) || !ListDirectoryFiles(path, queue)) return false;

  WIN32_FIND_DATAA entry;
  HANDLE find = StartListingBesideHashing(queue, path, true, &entry);
  if (find == INVALID_HANDLE_VALUE) return true;
  const std::size_t length = std::strlen(path);
  bool ok = true;
  do {
    if (!IsDirectory(entry) || IsDotEntry(entry.cFileName)) continue;
    if (HasControlByte(entry.cFileName)) continue;
    // The subdirectory's path with its closing backslash must fit.
    if (PathLength(path) + PathLength(entry.cFileName) + 1 > MaxPathLength) continue;
    std::strcpy(path + length, entry.cFileName);
    std::strcat(path + length, "\\");
    ok = WalkTree(path, queue);
    path[length] = '\0';
  } while (ok && FindNextFileA(find, &entry));
  EndListing(queue, find);
  return ok;
}

}  // namespace

WalkQueue* StartWalkQueue(HANDLE list_file, const Md5LaneKernel* kernel) {
  auto* queue = static_cast<WalkQueue*>(LocalAlloc(LMEM_FIXED, sizeof(WalkQueue)));
  if (queue == nullptr) return nullptr;
  queue->list_file = list_file;
  queue->first = 0;
  queue->end = 0;
  StartHashing(&queue->hasher, kernel);
  return queue;
}

void EndWalkQueue(WalkQueue* queue) {
  StopHashing(&queue->hasher);
  LocalFree(queue);
}

bool QueueDirLine(WalkQueue* queue, const char* path) {
  if (!MakeRoom(queue, false)) return false;
  WalkLine& line = LineOf(queue, queue->end++);
  line.is_file = false;
  std::strcpy(line.text, path);
  return true;
}

bool QueueFileEntry(WalkQueue* queue, const char* directory,
                    const WIN32_FIND_DATAA& entry) {
  if (HasControlByte(entry.cFileName) || IsDevice(entry)) return true;
  const std::size_t directory_length = std::strlen(directory);
  const bool has_separator =
      directory_length > 0 && directory[directory_length - 1] == '\\';
  const std::size_t name_length = std::strlen(entry.cFileName);
  const std::size_t path_length =
      PathLength(directory) + (has_separator ? 0 : 1) + PathLength(entry.cFileName);
  // A path the walk's buffer could not hold is left out.
  if (path_length > MaxPathLength) return true;
  if (!MakeRoom(queue, true)) return false;

  char path[PathBufferSize];
  std::memcpy(path, directory, directory_length);
  char* name = path + directory_length;
  if (!has_separator) *name++ = '\\';
  std::memcpy(name, entry.cFileName, name_length + 1);
  // Opened the way the listing was, so that the file's directories on the
  // way are the ones listed, not a link swapped in since; the listing told
  // its type, so it is not asked again.
  QueueFileToHash(&queue->hasher, path, FILE_FLAG_NO_DIRECTORY_LINKS, false);

  WalkLine& line = LineOf(queue, queue->end++);
  line.is_file = true;
  line.size = (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) |
              entry.nFileSizeLow;
  std::memcpy(line.text, entry.cFileName, name_length + 1);
  return true;
}

bool ListDirectoryFiles(const char* directory, WalkQueue* queue) {
  WIN32_FIND_DATAA entry;
  HANDLE find = StartListingBesideHashing(queue, directory, false, &entry);
  if (find == INVALID_HANDLE_VALUE) return true;
  bool ok = true;
  do {
    if (!IsDirectory(entry)) ok = QueueFileEntry(queue, directory, entry);
  } while (ok && FindNextFileA(find, &entry));
  EndListing(queue, find);
  return ok;
}

bool WriteQueuedLines(WalkQueue* queue) {
  while (queue->first != queue->end) {
    if (!WriteOldestLine(queue)) return false;
  }
  return true;
}

bool WalkDirectory(char* path, HANDLE list_file, const Md5LaneKernel* kernel) {
  WalkQueue* queue = StartWalkQueue(list_file, kernel);
  if (queue == nullptr) return false;
  const bool ok = WalkTree(path, queue) && WriteQueuedLines(queue);
  EndWalkQueue(queue);
  return ok;
}
