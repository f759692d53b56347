// The list verifier.
#include "verify/verifier.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "digest/hash_queue.h"
#include "listing/list_format.h"
#include "listing/run_counts.h"
#include "platform/console.h"
#include "platform/describe.h"
#include "platform/file64.h"

namespace {

constexpr int TagCapacity = TagLength + 1;
constexpr int DigestCapacity = HexDigestSize;
// No FILE line: a read error met outside one.
constexpr unsigned NoLine = UINT_MAX;

constexpr TestOptions WholeList = {nullptr, false, false, nullptr};

// The files read from the list and not judged yet, and the failure list.
struct Checks {
  HashQueue* hashing;
  RunCounts* counts;  // may be null
  char* end;         // where the next failing path goes
  std::size_t room;  // bytes of the failure list still free
  bool no_handle;    // a file could not be opened for lack of handles
  bool no_memory;    // nor for lack of memory
  // A failing path no longer fitted, at the file of cut_ticket: an audit
  // goes on to the end, the failure list stays as it was then.
  bool cut;
  unsigned cut_ticket;
  const TestOptions* options;
  // The directory the test began in, for sections whose own is not here.
  bool has_start;
  char start[PathBufferSize];
  char last_root[LineBufferSize];  // the last ROOT told of as not here
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

// Keeps a failing path, while the failure list holds them all. false
// when the check stops at it: it did not fit, and no audit goes on.
bool KeepFailure(Checks* checks, const char* path, unsigned ticket) {
  if (!checks->cut && StoreFailure(path, checks)) return true;
  if (!checks->cut) checks->cut_ticket = ticket;
  checks->cut = true;
  return checks->options->audit != nullptr;
}

// Judges the oldest file read: it passes when it was hashed and its digest
// is the one listed. Returns false when the check stops: it failed and its
// path no longer fits the failure list (but for an audit), or it could
// not be opened for want of handles or memory.
bool JudgeOldest(Checks* checks) {
  const unsigned ticket = OldestHashTicket(checks->hashing);
  HashResult result;
  TakeHashResult(checks->hashing, &result);
  Audit* audit = checks->options->audit;
  if (result.ok && EqualsIgnoringCase(result.note->digest, result.hex)) {
    CountFile(checks->counts, result.hashed_size);
    if (audit != nullptr) AuditJudged(audit, result, true);
    return true;
  }
  if (result.no_handle) {
    checks->no_handle = true;
    return false;
  }
  if (result.failure == HashFailure::Open && IsMemoryShortage(result.error)) {
    checks->no_memory = true;
    return false;
  }
  if (audit != nullptr) AuditJudged(audit, result, false);
  CountUnread(checks->counts, result.note->size, result.hashed_size);
  const bool missing = result.failure == HashFailure::Open &&
                       (result.error == ERROR_FILE_NOT_FOUND || result.error == ERROR_PATH_NOT_FOUND);
  if (missing && checks->options->ignore_missing) {
    if (checks->counts != nullptr) ++checks->counts->ignored;
    return true;
  }
  CountFailure(checks->counts, missing);
  return KeepFailure(checks, result.path, ticket);
}

// A section begins at its ROOT line: once the files before it are judged,
// its own directory becomes current, or the test's where it is none here.
// false when a failing path no longer fitted.
bool EnterSection(Checks* checks, const char* root) {
  while (!HashQueueEmpty(checks->hashing)) {
    if (!JudgeOldest(checks)) return false;
  }
  if (!checks->has_start) return true;
  // A relative ROOT is taken from where the test began.
  SetCurrentDirectoryA(checks->start);
  if (root[0] == '\0' || !SetCurrentDirectoryA(root)) {
    SetCurrentDirectoryA(checks->start);
    if (std::strcmp(root, checks->last_root) != 0) {
      char shown[LineBufferSize];
      char here[LineBufferSize];
      PathForPeople(root, shown, sizeof shown);
      PathForPeople(checks->start, here, sizeof here);
      ConsoleWarn("dorvane: ROOT %s is no directory here: its section is checked below %s\n",
                  shown, here);
      const std::size_t kept = std::min(std::strlen(root), sizeof checks->last_root - 1);
      std::memcpy(checks->last_root, root, kept);
      checks->last_root[kept] = '\0';
    }
  }
  if (checks->options->audit != nullptr) AuditSection(checks->options->audit);
  return true;
}

// A FILE line for another part: read, and left to that part.
bool IsOthersFile(Checks* checks, const char* path, const HashNote& note, bool inside) {
  const bool own = checks->options->selection == nullptr ||
                   OwnsPath(*checks->options->selection, path);
  if (checks->options->audit != nullptr) {
    AuditListed(checks->options->audit, path, note.digest, note.size, own, inside);
  }
  if (!own && checks->counts != nullptr) ++checks->counts->other_parts;
  return !own;
}

// Reads the rest of a FILE line and queues its file, when it is this run's.
// false when a failing path no longer fitted while making room for it.
bool QueueListedFile(ListReader* reader, Checks* checks, const char* prefix, char* path,
                     unsigned* failed_line) {
  if (HashQueueFull(checks->hashing) && !JudgeOldest(checks)) return false;
  HashNote note = {};
  // The listed size serves a status line and the audit only.
  const bool sized = (checks->counts != nullptr && checks->counts->on_file != nullptr) ||
                     checks->options->audit != nullptr;
  ReadFileLine(reader, prefix, note.digest, path, sized ? &note.size : nullptr);
  if (checks->counts != nullptr) ++checks->counts->listed;
  const bool inside = IsPathInside(path);
  if (IsOthersFile(checks, path, note, inside)) return true;
  if (!inside) CountRefused(checks->counts, path);
  const unsigned ticket = inside ? QueueFileToHash(checks->hashing, path, 0, note)
                                 : QueueRefusedFile(checks->hashing, path, note);
  if (reader->failed) *failed_line = ticket;
  return true;
}

// Reads the list to its end, queueing each listed file. Returns false when
// a failing path no longer fitted while making room for one more.
// *failed_line is the ticket of the FILE line a read error cut short.
bool ReadList(ListReader* reader, Checks* checks, unsigned* failed_line) {
  static_assert(HashPathSize >= LineBufferSize, "every path a line holds fits the queue");
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
      Unquote(path);
      CountRoot(checks->counts, path);
      if (checks->options->roots && !EnterSection(checks, path)) return false;
    } else if (EqualsIgnoringCase(tag, DirTag)) {
      ReadField(reader, prefix, LineBufferSize);
      Unquote(prefix);
      CountDirectory(checks->counts, prefix);
      if (checks->options->audit != nullptr) AuditDirectory(checks->options->audit, prefix);
    } else if (EqualsIgnoringCase(tag, FileTag)) {
      if (!QueueListedFile(reader, checks, prefix, path, failed_line)) return false;
    } else if (tag[0] != '\0') {
      ReadField(reader, path, LineBufferSize);
    }
    // Nothing taken although the size says more: the list ended early.
    if (reader->position == start) reader->failed = true;
  }
  return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The number of hex digits line begins with.
std::size_t HexRun(const char* line, std::size_t length) {
  std::size_t count = 0;
  while (count < length && IsHexDigit(line[count])) ++count;
  return count;
}

const char* RecognizeLine(const char* line, std::size_t length) {
  if (length > 0 && line[0] == '\\') {
    ++line;
    --length;
  }
  const std::size_t digits = HexRun(line, length);
  const bool sum_style = digits > 0 && length > digits + 2 && line[digits] == ' ' &&
                         (line[digits + 1] == ' ' || line[digits + 1] == '*');
  if (sum_style && digits == 32) return "an md5sum list (md5sum -c checks it)";
  if (sum_style && (digits == 40 || digits == 56 || digits == 64 || digits == 96 ||
                    digits == 128)) {
    return "a list of another tool's digests (such as sha256sum's)";
  }
  if (length > 5 && std::strncmp(line, "MD5 (", 5) == 0) {
    return "a BSD-style MD5 list (md5sum -c checks it)";
  }
  return nullptr;
}

}  // namespace

const char* RecognizeOtherList(const char* head, std::size_t length) {
  std::size_t start = 0;
  while (start < length) {
    std::size_t end = start;
    while (end < length && head[end] != '\n' && head[end] != '\r') ++end;
    if (end > start) return RecognizeLine(head + start, end - start);
    start = end + 1;
  }
  return nullptr;
}

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
               const HashPlan& plan, RunCounts* counts, const TestOptions* options) {
  failure_list[0] = '\0';
  Checks checks = {StartHashQueue(plan), counts, failure_list, capacity, false, false, false, 0,
                   options != nullptr ? options : &WholeList, false, "", ""};
  if (checks.hashing == nullptr) {
    CountNoMemory(counts);
    return 1;
  }
  const DWORD start_length = GetCurrentDirectoryA(PathBufferSize, checks.start);
  checks.has_start = start_length > 0 && start_length < PathBufferSize;
  FollowHashing(counts, checks.hashing);
  unsigned failed_line = NoLine;
  bool whole = ReadList(reader, &checks, &failed_line);
  while (whole && !HashQueueEmpty(checks.hashing)) {
    const unsigned ticket = OldestHashTicket(checks.hashing);
    whole = JudgeOldest(&checks);
    // Checked one at a time, the reading would have stopped at this file:
    // a read error further on would not have been met.
    if (!whole && failed_line != ticket) reader->failed = false;
  }
  // So too where the failing path did not fit but an audit went on: the
  // read error goes unreported, and leaves the audit unfinished.
  if (checks.cut && reader->failed && failed_line != checks.cut_ticket) {
    reader->failed = false;
    if (checks.options->audit != nullptr) AuditListCut(checks.options->audit);
  }
  *checks.end = '\0';
  if (checks.options->roots && checks.has_start) SetCurrentDirectoryA(checks.start);
  EndFollowing(counts, checks.hashing);
  EndHashQueue(checks.hashing);
  if (checks.no_memory) {
    CountNoMemory(counts);
    return 1;
  }
  if (checks.no_handle) {
    CountNoHandle(counts);
    return 1;
  }
  return checks.cut ? 0 : 1;
}
