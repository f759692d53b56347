// The list verifier.
#include "verify/verifier.h"

#include <climits>
#include <cstring>

#include "digest/hash_lanes.h"
#include "listing/list_format.h"
#include "listing/run_counts.h"
#include "platform/file64.h"

namespace {

constexpr int TagCapacity = TagLength + 1;
constexpr int DigestCapacity = HexDigestSize;
// No FILE line: a read error met outside one.
constexpr unsigned NoLine = UINT_MAX;

// The files read from the list and not judged yet, and the failure list.
struct Checks {
  LaneHasher hasher;
  char listed[HashQueueSize][DigestCapacity];  // by ticket
  char* end;         // where the next failing path goes
  std::size_t room;  // bytes of the failure list still free
  RunCounts* counts;  // may be null
};

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return *a == *b;
}

// Reads the rest of a FILE line: the listed digest into listed, the path
// (the directory prefix followed by the name) into path.
void ReadFileLine(ListReader* reader, const char* prefix, char* listed, char* path) {
  std::strcpy(path, prefix);
  const int length = static_cast<int>(std::strlen(path));
  ReadField(reader, listed, DigestCapacity);
  StrTrimA(listed, " ");
  // The rest holds the size and the quoted name; the size and the spaces
  // around it are trimmed away before the quotes are.
  char* name = path + length;
  ReadField(reader, name, LineBufferSize - length);
  StrTrimA(name, "0123456789 ");
  Unquote(name);
}

// Appends path to the failure list if it fits; false when it does not.
bool StoreFailure(const char* path, Checks* checks) {
  // An empty path would read as the closing entry; it stands as "".
  if (path[0] == '\0') path = "\"\"";
  const std::size_t length = std::strlen(path);
  if (length + 1 >= checks->room) return false;
  std::memcpy(checks->end, path, length + 1);
  checks->end += length + 1;
  checks->room -= length + 1;
  return true;
}

// Judges the oldest file read: it passes when it was hashed and its digest
// is the one listed. Returns false when it failed and its path no longer
// fits the failure list.
bool JudgeOldest(Checks* checks) {
  const char* listed = checks->listed[checks->hasher.oldest % HashQueueSize];
  HashResult result;
  TakeHashResult(&checks->hasher, &result);
  if (result.ok && EqualsIgnoringCase(listed, result.hex)) {
    CountFile(checks->counts, result.hashed_size);
    return true;
  }
  CountFailure(checks->counts);
  return StoreFailure(result.path, checks);
}

// Reads the list to its end, queueing each listed file. Returns false when
// a failing path no longer fitted while making room for one more.
// *failed_line is the ticket of the FILE line a read error cut short.
bool ReadList(ListReader* reader, Checks* checks, unsigned* failed_line) {
  char prefix[LineBufferSize] = "";
  char path[LineBufferSize];
  char tag[TagCapacity];
  // Runs only while the position is below the size, so a list that shrinks
  // or fails under the reader cannot keep it going.
  while (!reader->failed && reader->position < QueryFileSize(reader->file)) {
    const std::uint64_t start = reader->position;
    ReadField(reader, tag, TagCapacity);
    if (EqualsIgnoringCase(tag, RootTag)) {
      ReadField(reader, path, LineBufferSize);
    } else if (EqualsIgnoringCase(tag, DirTag)) {
      ReadField(reader, prefix, LineBufferSize);
      Unquote(prefix);
      CountDirectory(checks->counts, prefix);
    } else if (EqualsIgnoringCase(tag, FileTag)) {
      if (HashQueueFull(&checks->hasher) && !JudgeOldest(checks)) return false;
      char* listed = checks->listed[checks->hasher.end % HashQueueSize];
      ReadFileLine(reader, prefix, listed, path);
      const unsigned ticket = QueueFileToHash(&checks->hasher, path, 0, true);
      if (reader->failed) *failed_line = ticket;
    } else if (tag[0] != '\0') {
      ReadField(reader, path, LineBufferSize);
    }
    // Nothing taken although the size says more: the list ended early.
    if (reader->position == start) reader->failed = true;
  }
  return true;
}

}  // namespace

int VerifyList(ListReader* reader, char* failure_list, std::size_t capacity,
               const Md5LaneKernel* kernel, RunCounts* counts) {
  failure_list[0] = '\0';
  auto* checks = static_cast<Checks*>(LocalAlloc(LMEM_FIXED, sizeof(Checks)));
  if (checks == nullptr) {
    reader->failed = true;
    return 1;
  }
  StartHashing(&checks->hasher, kernel);
  checks->end = failure_list;
  checks->room = capacity;
  checks->counts = counts;
  unsigned failed_line = NoLine;
  bool whole = ReadList(reader, checks, &failed_line);
  while (whole && !HashQueueEmpty(&checks->hasher)) {
    const unsigned ticket = checks->hasher.oldest;
    whole = JudgeOldest(checks);
    // Checked one at a time, the reading would have stopped at this file:
    // a read error further on would not have been met.
    if (!whole && failed_line != ticket) reader->failed = false;
  }
  *checks->end = '\0';
  StopHashing(&checks->hasher);
  LocalFree(checks);
  return whole ? 1 : 0;
}
