// The run's counts, and the words for what the walk left out.
#include "listing/run_counts.h"

#include <cstdio>
#include <cstring>

#include "platform/describe.h"
#include "platform/names.h"

namespace {

// The reason in words; error and path give the words of some.
void DescribeLeftOut(const char* path, LeftOutReason reason, DWORD error, char* out,
                     std::size_t size) {
  char system[ErrorTextSize];
  const char* text = "";
  switch (reason) {
    case LeftOutCannotOpen:
      DescribeError(error, system, sizeof system);
      std::snprintf(out, size, "cannot be opened: %s", system);
      return;
    case LeftOutNotListed:
      DescribeError(error, system, sizeof system);
      std::snprintf(out, size, "cannot be listed: %s; what it holds is left out", system);
      return;
    case LeftOutNotRegular: text = DescribeEntryKind(path); break;
    case LeftOutReadFailed: text = "a read failed"; break;
    case LeftOutChanged: text = "it changed while it was read"; break;
    case LeftOutChangedSize: text = "it changed after it was listed"; break;
    case LeftOutBackslash: text = "its name holds a backslash, which a list cannot carry"; break;
    case LeftOutControlByte: text = "its name holds a control byte, which a list cannot carry"; break;
    case LeftOutTooLong: text = "its path is longer than 259 characters"; break;
    case LeftOutUnnamable: text = "its name is one the system cannot open"; break;
  }
  const std::size_t length = std::strlen(path);
  const bool directory = length > 0 && path[length - 1] == '\\';
  std::snprintf(out, size, "%s%s", text,
                directory && reason == LeftOutUnnamable ? "; what it holds is left out" : "");
}

// Characters a terminal acts on, or shows as nothing or as something
// else, so that a name holding one could steer the screen or pass for
// another name: the controls (C0, DEL, C1), the marks that reorder text
// (bidirectional embeddings, overrides and isolates) or hide (zero-width
// characters, joiners, invisible operators, the byte order mark, tags),
// the line and paragraph separators, and surrogates, which no terminal
// shows.
bool ActsOrHides(std::uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xAD || c == 0x61C || c == 0x180E ||
         (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x206F) || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFEFF ||
         (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0xE0000 && c <= 0xE007F);
}

void Tell(RunCounts* counts, const char* format, const char* path, const char* reason) {
  if (counts->on_message == nullptr) return;
  char shown[LineBufferSize];
  PathForPeople(path, shown, sizeof shown);
  char text[2 * LineBufferSize];
  std::snprintf(text, sizeof text, format, shown, reason);
  counts->on_message(counts->watcher, text);
}

}  // namespace

void ClearRunCounts(RunCounts* counts) {
  std::memset(counts, 0, sizeof *counts);
}

void FollowHashing(RunCounts* counts, HashQueue* queue) {
  if (counts == nullptr) return;
  counts->bytes_read = HashBytesRead(queue);
  SetHashWaitHook(queue, counts->on_file, counts->watcher);
  const unsigned started = HashThreadsStarted(queue), wanted = HashThreadsWanted(queue);
  if (started >= wanted || counts->on_message == nullptr) return;
  // A process limit or a container's is no reason to stop, but the user
  // who set none of it should hear why the run is slower.
  char text[256];
  if (started > 1) {
    std::snprintf(text, sizeof text,
                  "dorvane: %u of %u hashing threads could be started; the run goes on with %u",
                  started, wanted, started);
  } else {
    std::snprintf(text, sizeof text,
                  "dorvane: no more than one of %u hashing threads could be started; the run "
                  "hashes on its own thread",
                  wanted);
  }
  counts->on_message(counts->watcher, text);
}

void EndFollowing(RunCounts* counts, HashQueue* queue) {
  if (counts == nullptr) return;
  counts->bytes_read = nullptr;
  SetHashWaitHook(queue, nullptr, nullptr);
  DescribeHashStorage(queue, counts->storage, sizeof counts->storage);
}

void CountFile(RunCounts* counts, std::uint64_t bytes) {
  if (counts == nullptr) return;
  ++counts->files;
  counts->bytes += bytes;
  if (counts->on_file != nullptr) counts->on_file(counts->watcher);
}

void CountFailure(RunCounts* counts, bool missing) {
  if (counts == nullptr) return;
  ++counts->failed;
  if (missing) ++counts->missing;
  CountFile(counts, 0);
}

void CountUnread(RunCounts* counts, std::uint64_t listed, std::uint64_t read) {
  if (counts != nullptr && listed > read) counts->unread += listed - read;
}

void CountLeftOut(RunCounts* counts, const char* path, LeftOutReason reason, DWORD error) {
  if (counts == nullptr) return;
  ++counts->left_out;
  if (counts->on_message == nullptr) return;
  char reason_text[LineBufferSize];
  DescribeLeftOut(path, reason, error, reason_text, sizeof reason_text);
  Tell(counts, reason == LeftOutNotListed ? "dorvane: %s %s" : "dorvane: left out %s: %s",
       path, reason_text);
}

void CountNoMemory(RunCounts* counts) {
  if (counts != nullptr) counts->no_memory = true;
}

void CountNoHandle(RunCounts* counts) {
  if (counts != nullptr) counts->no_handle = true;
}

void CountRefused(RunCounts* counts, const char* path) {
  if (counts == nullptr) return;
  Tell(counts, "dorvane: refused %s: %s", path,
       "the path leads out of the current directory; it is not opened");
}

void CountDirectory(RunCounts* counts, const char* path) {
  if (counts == nullptr || counts->on_file == nullptr) return;
  std::strncpy(counts->directory, path, sizeof counts->directory - 1);
  counts->directory[sizeof counts->directory - 1] = '\0';
}

void CountRoot(RunCounts* counts, const char* path) {
  if (counts == nullptr) return;
  if (counts->roots++ == 0) {
    std::strncpy(counts->root, path, sizeof counts->root - 1);
    counts->root[sizeof counts->root - 1] = '\0';
  }
}

void PathForPeople(const char* path, char* out, std::size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  std::size_t used = 0;
  for (const char* at = path; *at != '\0';) {
    std::uint32_t code_point = 0;
    const int length = DecodeUtf8(at, &code_point);
    const bool shown = length > 0 && !ActsOrHides(code_point);
    // A byte that begins no character is escaped alone.
    const std::size_t bytes = length > 0 ? static_cast<std::size_t>(length) : 1;
    if (used + (shown ? bytes : 4 * bytes) >= size) break;
    for (std::size_t i = 0; i < bytes; ++i) {
      const auto byte = static_cast<unsigned char>(at[i]);
      if (shown) {
        out[used++] = static_cast<char>(byte);
        continue;
      }
      out[used++] = '\\';
      out[used++] = 'x';
      out[used++] = digits[byte >> 4];
      out[used++] = digits[byte & 15];
    }
    at += bytes;
  }
  out[used] = '\0';
}

std::uint64_t BytesSoFar(const RunCounts& counts) {
  if (counts.bytes_read == nullptr) return counts.bytes;
  return counts.bytes_read->load(std::memory_order_relaxed);
}
