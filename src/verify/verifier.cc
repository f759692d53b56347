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
  HashQueue* hashing;
  RunCounts* counts;  // may be null
  char* end;         // where the next failing path goes
  std::size_t room;  // bytes of the failure list still free
  bool no_handle;    // a file could not be opened for lack of handles
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
// (the directory prefix followed by the name) into path, and the listed
// size into *size when it is asked for (only the status line needs it).
void ReadFileLine(ListReader* reader, const char* prefix, char* listed, char* path,
                  std::uint64_t* size) {
  std::strcpy(path, prefix);
  const int length = static_cast<int>(std::strlen(path));
  ReadField(reader, listed, DigestCapacity);
  StrTrimA(listed, " ");
  // The rest holds the size and the quoted name; the size and the spaces
  // around it are trimmed away before the quotes are.
  char* name = path + length;
  ReadField(reader, name, LineBufferSize - length);
  // The field ends at its NUL, which no digit or space is.
  if (size != nullptr) *size = ParseListedSize(name, LineBufferSize - length);
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
  HashResult result;
  TakeHashResult(checks->hashing, &result);
  if (result.ok && EqualsIgnoringCase(result.note->digest, result.hex)) {
    CountFile(checks->counts, result.hashed_size);
    return true;
  }
  if (result.no_handle) {
    checks->no_handle = true;
    return false;
  }
  CountUnread(checks->counts, result.note->size, result.hashed_size);
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
      if (HashQueueFull(checks->hashing) && !JudgeOldest(checks)) return false;
      HashNote note = {};
      ReadFileLine(reader, prefix, note.digest, path,
                   checks->counts != nullptr ? &note.size : nullptr);
      const unsigned ticket = IsPathInside(path)
                                  ? QueueFileToHash(checks->hashing, path, 0, note)
                                  : QueueRefusedFile(checks->hashing, path, note);
      if (reader->failed) *failed_line = ticket;
    } else if (tag[0] != '\0') {
      ReadField(reader, path, LineBufferSize);
    }
    // Nothing taken although the size says more: the list ended early.
    if (reader->position == start) reader->failed = true;
  }
  return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool IsPathInside(const char* path) {
  if (IsSeparator(path[0])) return false;
  const char letter = static_cast<char>(path[0] | 0x20);
  if (letter >= 'a' && letter <= 'z' && path[1] == ':') return false;
  const char* component = path;
  for (const char* at = path;; ++at) {
    if (*at != '\0' && !IsSeparator(*at)) continue;
    if (at - component == 2 && component[0] == '.' && component[1] == '.') return false;
    if (*at == '\0') return true;
    component = at + 1;
  }
}

int VerifyList(ListReader* reader, char* failure_list, std::size_t capacity,
               const HashPlan& plan, bool* no_handle, RunCounts* counts) {
  failure_list[0] = '\0';
  if (no_handle != nullptr) *no_handle = false;
  Checks checks = {StartHashQueue(plan), counts, failure_list, capacity, false};
  if (checks.hashing == nullptr) {
    reader->failed = true;
    return 1;
  }
  FollowHashing(counts, checks.hashing);
  unsigned failed_line = NoLine;
  bool whole = ReadList(reader, &checks, &failed_line);
  while (whole && !HashQueueEmpty(checks.hashing)) {
    const unsigned ticket = checks.hashing->oldest;
    whole = JudgeOldest(&checks);
    // Checked one at a time, the reading would have stopped at this file:
    // a read error further on would not have been met.
    if (!whole && failed_line != ticket) reader->failed = false;
  }
  *checks.end = '\0';
  EndFollowing(counts, checks.hashing);
  EndHashQueue(checks.hashing);
  if (checks.no_handle) {
    if (no_handle != nullptr) *no_handle = true;
    return 1;
  }
  return whole ? 1 : 0;
}
