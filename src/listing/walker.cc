// Depth-first walk of a directory tree into the checksum list.
#include "listing/walker.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "listing/list_format.h"
#include "listing/run_counts.h"
#include "listing/selection.h"
#include "platform/describe.h"

struct WalkQueue {
  HANDLE list_file;
  // The run's other file of its own (the old list beside the new one), or
  // INVALID_HANDLE_VALUE.
  HANDLE also_own;
  HashQueue* hashing;  // null when files are visited instead
  RunCounts* counts;  // may be null
  const Selection* selection;  // may be null: every entry, one part
  // Takes each file the walk would list instead of hashing it, with the
  // size its listing gave; null when the walk lists.
  TreeFileVisitor visit;
  void* visit_context;
  bool no_handle;  // a file or directory could not be opened for lack of handles
  int batch_used;
  char batch[ListWriteBatchSize];
};

namespace {

// The names of a directory's subdirectories, each with its NUL, kept from
// its listing until they are walked.
struct NameList {
  char* names;
  std::size_t used;
  std::size_t capacity;
};

bool AddName(NameList* list, const char* name) {
  const std::size_t length = std::strlen(name) + 1;
  if (list->used + length > list->capacity) {
    std::size_t capacity = list->capacity == 0 ? 4096 : 2 * list->capacity;
    while (capacity < list->used + length) capacity *= 2;
    auto* grown = static_cast<char*>(std::realloc(list->names, capacity));
    if (grown == nullptr) return false;
    list->names = grown;
    list->capacity = capacity;
  }
  std::memcpy(list->names + list->used, name, length);
  list->used += length;
  return true;
}

bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Whether the list can carry name; *reason tells why not.
bool CanCarryName(const char* name, LeftOutReason* reason) {
  for (; *name != '\0'; ++name) {
    if (IsControlByte(static_cast<unsigned char>(*name))) {
      *reason = LeftOutControlByte;
      return false;
    }
    if (*name == '\\') {
      *reason = LeftOutBackslash;
      return false;
    }
  }
  return true;
}

bool PathEndsWithSeparator(const char* path) {
  const std::size_t length = std::strlen(path);
  return length > 0 && path[length - 1] == '\\';
}

// Counts and names an entry of directory left out.
void LeaveOut(WalkQueue* queue, const char* directory, const char* name, bool is_directory,
              LeftOutReason reason, DWORD error = ERROR_SUCCESS) {
  // A visit names only what it could not search: the entries it leaves
  // out were named when their list was made.
  if (queue->visit != nullptr) return;
  char path[2 * LineBufferSize];
  std::snprintf(path, sizeof path, "%s%s%s%s", directory,
                PathEndsWithSeparator(directory) ? "" : "\\", name, is_directory ? "\\" : "");
  CountLeftOut(queue->counts, path, reason, error);
}

// A file held that the run holds itself: the list (and the file that
// replaces it) is no file of the tree's, so it is left out without a word.
bool IsOwnFile(const WalkQueue* queue, const HashResult& result) {
  if (result.failure != HashFailure::Open ||
      (result.error != ERROR_SHARING_VIOLATION && result.error != ERROR_LOCK_VIOLATION)) {
    return false;
  }
  return IsSameFile(result.path, queue->list_file) ||
         (queue->also_own != INVALID_HANDLE_VALUE && IsSameFile(result.path, queue->also_own));
}

LeftOutReason ReasonOf(const HashResult& result) {
  switch (result.failure) {
    // Windows lists names that other systems made and it cannot open
    // (a quote, an asterisk, a colon...).
    case HashFailure::Open:
      return result.error == ERROR_INVALID_NAME ? LeftOutUnnamable : LeftOutCannotOpen;
    case HashFailure::Read: return LeftOutReadFailed;
    default: return LeftOutChanged;
  }
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
// The tree may change under the walk: the directory is reached without a
// link on the way, so a directory swapped for one lists nothing, like one
// that vanished.
HANDLE StartListing(const char* directory, WIN32_FIND_DATAA* entry, DWORD flags) {
  char pattern[LineBufferSize];
  const std::size_t length = std::strlen(directory);
  const bool has_separator = length > 0 && directory[length - 1] == '\\';
  if (length + 5 > sizeof pattern) return INVALID_HANDLE_VALUE;
  std::memcpy(pattern, directory, length);
  std::strcpy(pattern + length, has_separator ? "*.*" : "\\*.*");
  return FindFirstFileExA(pattern, FindExInfoStandard, entry, FindExSearchNameMatch,
                          nullptr, FILE_FLAG_NO_DIRECTORY_LINKS | flags);
}

// StartListing, waiting for a handle while the files being hashed hold
// them: the hashing ahead of the walk must never cost the walk a
// directory. Sets no_handle when the wait is given up.
HANDLE StartListingBesideHashing(WalkQueue* queue, const char* directory,
                                 WIN32_FIND_DATAA* entry) {
  unsigned releases = 0;
  const auto since = std::chrono::steady_clock::now();
  for (;;) {
    // A visit takes names, not sizes.
    HANDLE find = StartListing(directory, entry,
                               queue->visit != nullptr ? FIND_FIRST_EX_NO_FILE_SIZES : 0);
    if (find != INVALID_HANDLE_VALUE || queue->hashing == nullptr ||
        GetLastError() != ERROR_TOO_MANY_OPEN_FILES) {
      return find;
    }
    if (!WaitForHandle(queue->hashing, &releases, since)) {
      queue->no_handle = true;
      return INVALID_HANDLE_VALUE;
    }
  }
}

// Closes a listing; a file that waits for a handle may have one now.
void EndListing(WalkQueue* queue, HANDLE find) {
  FindClose(find);
  if (queue->hashing != nullptr) ReleaseHandle(queue->hashing);
}

bool FlushLines(WalkQueue* queue) {
  const int used = queue->batch_used;
  queue->batch_used = 0;
  return used == 0 || WriteListText(queue->list_file, queue->batch, used);
}

// Gathers a line; the lines gathered are written when the next would not
// fit, so every write holds whole lines.
bool AddLine(WalkQueue* queue, const char* text, int length) {
  if (queue->batch_used + length > ListWriteBatchSize && !FlushLines(queue)) {
    return false;
  }
  std::memcpy(queue->batch + queue->batch_used, text, static_cast<std::size_t>(length));
  queue->batch_used += length;
  return true;
}

// Writes the oldest waiting line; for a FILE line, once its file is hashed.
bool WriteOldestLine(WalkQueue* queue) {
  HashResult result;
  TakeHashResult(queue->hashing, &result);
  char text[LineBufferSize];
  if (result.note->line_only) {
    CountDirectory(queue->counts, result.path);
    return AddLine(queue, text, BuildDirLine(result.path, text));
  }
  if (result.no_handle) {
    queue->no_handle = true;
    return false;
  }
  if (result.failure == HashFailure::Open && IsMemoryShortage(result.error)) {
    CountNoMemory(queue->counts);
    return false;
  }
  if (!result.ok) {
    if (!IsOwnFile(queue, result)) {
      CountLeftOut(queue->counts, result.path, ReasonOf(result), result.error);
    }
    return true;
  }
  // A file whose size changed since it was listed is left out: the line
  // would give the size of one content and the digest of another.
  if (result.hashed_size != result.note->size) {
    CountLeftOut(queue->counts, result.path, LeftOutChangedSize);
    return true;
  }
  CountFile(queue->counts, result.note->size);
  return AddLine(queue, text,
                 BuildFileLine(result.hex, result.note->size,
                               result.path + result.note->name_offset, text));
}

// Writes out the oldest lines until one more can wait.
bool MakeRoom(WalkQueue* queue) {
  while (HashQueueFull(queue->hashing)) {
    if (!WriteOldestLine(queue)) return false;
  }
  return true;
}

bool WalkSubdirectories(char* path, const NameList& names, WalkQueue* queue);

// Whether a pattern leaves the entry of directory out; such an entry is
// no file of the tree's for this run, and goes unnamed.
bool IsExcludedEntry(const WalkQueue* queue, const char* directory,
                     const WIN32_FIND_DATAA& entry) {
  if (queue->selection == nullptr || queue->selection->exclude_count == 0) return false;
  char path[2 * LineBufferSize];
  std::snprintf(path, sizeof path, "%s%s%s", directory,
                PathEndsWithSeparator(directory) ? "" : "\\", entry.cFileName);
  return IsExcluded(*queue->selection, path, entry.cFileName);
}

// Whether the directory's lines are this run's: every directory is walked,
// for the directories below it, but each is listed by one part alone.
bool OwnsDirectory(const WalkQueue* queue, const char* path) {
  return queue->selection == nullptr || OwnsPath(*queue->selection, path);
}

// One entry of the directory in path: a file listed, or a subdirectory's
// name kept for the walk below. false when the walk cannot go on.
bool TakeEntry(WalkQueue* queue, const char* path, bool owned, std::size_t room,
               const WIN32_FIND_DATAA& entry, NameList* subdirectories) {
  LeftOutReason reason;
  if (IsExcludedEntry(queue, path, entry)) return true;
  if (!IsDirectory(entry)) return !owned || QueueFileEntry(queue, path, entry);
  if (IsDotEntry(entry.cFileName)) return true;
  if (!CanCarryName(entry.cFileName, &reason)) {
    if (owned) LeaveOut(queue, path, entry.cFileName, true, reason);
  } else if (PathLength(entry.cFileName) > room) {
    if (owned) LeaveOut(queue, path, entry.cFileName, true, LeftOutTooLong);
  } else if (!AddName(subdirectories, entry.cFileName)) {
    CountNoMemory(queue->counts);
    return false;
  }
  return true;
}

bool WalkTree(char* path, WalkQueue* queue) {
  PathAddBackslashA(path);
  const bool owned = OwnsDirectory(queue, path);
  if (owned && !QueueDirLine(queue, path)) return false;
  WIN32_FIND_DATAA entry;
  HANDLE find = StartListingBesideHashing(queue, path, &entry);
  if (find == INVALID_HANDLE_VALUE) {
    if (queue->no_handle) return false;
    const DWORD error = GetLastError();
    if (IsMemoryShortage(error)) {
      CountNoMemory(queue->counts);
      return false;
    }
    if (owned) {
      CountLeftOut(queue->counts, path,
                   error == ERROR_INVALID_NAME ? LeftOutUnnamable : LeftOutNotListed, error);
    }
    return true;
  }
  // Room for a subdirectory's name: its path with its closing backslash
  // must fit.
  const std::size_t used = PathLength(path) + 1;
  const std::size_t room = used < MaxPathLength ? MaxPathLength - used : 0;
  NameList subdirectories = {nullptr, 0, 0};
  bool ok = true;
  do {
    ok = TakeEntry(queue, path, owned, room, entry, &subdirectories);
  } while (ok && FindNextFileA(find, &entry));
  EndListing(queue, find);
  if (ok) ok = WalkSubdirectories(path, subdirectories, queue);
  std::free(subdirectories.names);
  return ok;
}

bool WalkSubdirectories(char* path, const NameList& names, WalkQueue* queue) {
  const std::size_t length = std::strlen(path);
  for (std::size_t at = 0; at < names.used; at += std::strlen(names.names + at) + 1) {
    std::strcpy(path + length, names.names + at);
    std::strcat(path + length, "\\");
    const bool ok = WalkTree(path, queue);
    path[length] = '\0';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

namespace {

// A queue with nothing in it yet: no hashing, no selection, no visitor.
WalkQueue* NewWalkQueue(HANDLE list_file, HANDLE also_own, RunCounts* counts) {
  auto* queue = static_cast<WalkQueue*>(LocalAlloc(LMEM_FIXED, sizeof(WalkQueue)));
  if (queue == nullptr) return nullptr;
  queue->list_file = list_file;
  queue->also_own = also_own;
  queue->hashing = nullptr;
  queue->counts = counts;
  queue->selection = nullptr;
  queue->visit = nullptr;
  queue->visit_context = nullptr;
  queue->no_handle = false;
  queue->batch_used = 0;
  return queue;
}

}  // namespace

WalkQueue* StartWalkQueue(HANDLE list_file, const HashPlan& plan, RunCounts* counts,
                          HANDLE also_own) {
  WalkQueue* queue = NewWalkQueue(list_file, also_own, counts);
  if (queue == nullptr) return nullptr;
  queue->hashing = StartHashQueue(plan);
  if (queue->hashing == nullptr) {
    LocalFree(queue);
    return nullptr;
  }
  FollowHashing(counts, queue->hashing);
  return queue;
}

void EndWalkQueue(WalkQueue* queue) {
  EndFollowing(queue->counts, queue->hashing);
  EndHashQueue(queue->hashing);
  LocalFree(queue);
}

bool QueueDirLine(WalkQueue* queue, const char* path) {
  if (queue->visit != nullptr) return true;
  if (!MakeRoom(queue)) return false;
  HashNote note = {};
  note.line_only = true;
  QueueRefusedFile(queue->hashing, path, note);
  return true;
}

bool QueueFileEntry(WalkQueue* queue, const char* directory,
                    const WIN32_FIND_DATAA& entry) {
  LeftOutReason reason;
  if (!CanCarryName(entry.cFileName, &reason)) {
    LeaveOut(queue, directory, entry.cFileName, false, reason);
    return true;
  }
  const std::size_t directory_length = std::strlen(directory);
  const bool has_separator = PathEndsWithSeparator(directory);
  const std::size_t name_length = std::strlen(entry.cFileName);
  const std::size_t path_length =
      PathLength(directory) + (has_separator ? 0 : 1) + PathLength(entry.cFileName);
  // A path the walk's buffer could not hold is left out.
  if (path_length > MaxPathLength) {
    LeaveOut(queue, directory, entry.cFileName, false, LeftOutTooLong);
    return true;
  }
  char path[PathBufferSize];
  std::memcpy(path, directory, directory_length);
  char* name = path + directory_length;
  if (!has_separator) *name++ = '\\';
  std::memcpy(name, entry.cFileName, name_length + 1);
  if (IsDevice(entry)) {
    if (queue->visit == nullptr) CountLeftOut(queue->counts, path, LeftOutNotRegular);
    return true;
  }
  const std::uint64_t size =
      (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
  if (queue->visit != nullptr) return queue->visit(queue->visit_context, path, size);
  if (!MakeRoom(queue)) return false;
  HashNote note = {};
  note.size = size;
  note.name_offset = static_cast<unsigned>(name - path);
  // Opened the way the listing was, so that the file's directories on the
  // way are the ones listed, not a link swapped in since; the listing told
  // its type, so it is not asked again.
  QueueFileToHash(queue->hashing, path, FILE_FLAG_NO_DIRECTORY_LINKS, note);
  return true;
}

static_assert(HashPathSize >= PathBufferSize, "every path the walk builds fits the queue");
static_assert(sizeof(WIN32_FIND_DATAA{}.cFileName) <= PathBufferSize,
              "every name a listing gives fits the walk's path");

bool ListDirectoryFiles(const char* directory, WalkQueue* queue) {
  WIN32_FIND_DATAA entry;
  HANDLE find = StartListingBesideHashing(queue, directory, &entry);
  if (find == INVALID_HANDLE_VALUE) return !queue->no_handle;
  bool ok = true;
  do {
    if (!IsDirectory(entry)) ok = QueueFileEntry(queue, directory, entry);
  } while (ok && FindNextFileA(find, &entry));
  EndListing(queue, find);
  return ok;
}

bool WriteQueuedLines(WalkQueue* queue) {
  while (!HashQueueEmpty(queue->hashing)) {
    if (!WriteOldestLine(queue)) return false;
  }
  return FlushLines(queue);
}

bool WalkDirectory(char* path, HANDLE list_file, const HashPlan& plan,
                   RunCounts* counts, HANDLE also_own, const Selection* selection) {
  WalkQueue* queue = StartWalkQueue(list_file, plan, counts, also_own);
  if (queue == nullptr) {
    CountNoMemory(counts);
    return false;
  }
  queue->selection = selection;
  const bool ok = WalkTree(path, queue) && WriteQueuedLines(queue);
  if (queue->no_handle) CountNoHandle(counts);
  EndWalkQueue(queue);
  return ok;
}

bool VisitTreeFiles(char* path, const Selection* selection, RunCounts* counts,
                    TreeFileVisitor visit, void* context) {
  WalkQueue* queue = NewWalkQueue(INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, counts);
  if (queue == nullptr) {
    CountNoMemory(counts);
    return false;
  }
  queue->selection = selection;
  queue->visit = visit;
  queue->visit_context = context;
  const bool ok = WalkTree(path, queue);
  LocalFree(queue);
  return ok;
}
