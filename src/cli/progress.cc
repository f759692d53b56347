// Progress and summary lines on standard error. They are drawn from the
// thread that counts, between the lines it writes or while it waits for
// the hashing, so they need no lock.
#include "cli/progress.h"

#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto FirstDrawAfter = std::chrono::seconds(1);
constexpr auto RedrawEvery = std::chrono::milliseconds(100);
// Reads of the list's sizes a draw may take: a list of a few megabytes is
// summed at once, a larger one over a few draws, while the hashing goes on.
constexpr int ScanReadsPerDraw = 64;

double SecondsSince(Clock::time_point start, Clock::time_point now) {
  return std::chrono::duration<double>(now - start).count();
}

// "950 B", "12.3 kB", "4.5 GB": decimal units, as disks are sold.
void FormatBytes(double bytes, char* out, std::size_t size) {
  static const char* const units[] = {"B", "kB", "MB", "GB", "TB", "PB"};
  int unit = 0;
  while (bytes >= 1000 && unit < 5) {
    bytes /= 1000;
    ++unit;
  }
  std::snprintf(out, size, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
}

// "4.2 s" ("4 s" when not precise) below a minute, then "12:05" and
// "3:02:45".
void FormatDuration(double seconds, bool precise, char* out, std::size_t size) {
  if (seconds < 60) {
    std::snprintf(out, size, precise ? "%.1f s" : "%.0f s", seconds);
    return;
  }
  const auto whole = static_cast<unsigned long long>(seconds);
  if (whole < 3600) {
    std::snprintf(out, size, "%llu:%02llu", whole / 60, whole % 60);
  } else {
    std::snprintf(out, size, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
  }
}

// Appends as much of the directory as fits in width after the text: its
// end, which names where the run is, behind "..." when cut.
void AppendDirectory(char* line, std::size_t width, const char* directory) {
  const std::size_t used = std::strlen(line);
  const std::size_t length = std::strlen(directory);
  if (length == 0 || used + 2 + 4 > width) return;
  const std::size_t room = width - used - 2;
  std::strcat(line, "  ");
  if (length <= room) {
    std::strcat(line, directory);
    return;
  }
  const char* tail = directory + length - (room - 3);
  // Not inside a UTF-8 character.
  while ((static_cast<unsigned char>(*tail) & 0xC0) == 0x80) ++tail;
  std::strcat(line, "...");
  std::strcat(line, tail);
}

const char* Plural(std::uint64_t count) { return count == 1 ? "" : "s"; }

// The share of the test done, once the list's scan has told what there is
// to do: by bytes where the list's total holds what was read (the bytes
// read, and those of files that failed unread), else by the files judged.
// The reading of the list tells nothing: it runs a queue's length ahead.
// Negative while neither is known.
double TestShare(Progress* progress, std::uint64_t read) {
  ListSizes& sizes = progress->sizes;
  if (!sizes.done && !ScanListSizes(&sizes, ScanReadsPerDraw)) progress->reader->failed = true;
  if (!sizes.done) return -1;
  const std::uint64_t done = read + progress->counts.unread;
  if (sizes.bytes > 0 && done <= sizes.bytes) {
    return static_cast<double>(done) / static_cast<double>(sizes.bytes);
  }
  const std::uint64_t judged = progress->counts.files;
  if (sizes.files == 0 || judged > sizes.files) return -1;
  return static_cast<double>(judged) / static_cast<double>(sizes.files);
}

// "42%, 1:05 left, " into line; returns its length.
int FormatTimeLeft(Progress* progress, double elapsed, std::uint64_t read, char* line,
                   std::size_t size) {
  const double share = TestShare(progress, read);
  if (share < 0) return 0;
  char left[32] = "?";
  if (share > 0) FormatDuration(elapsed * (1 - share) / share, false, left, sizeof left);
  return std::snprintf(line, size, "%.0f%%, %s left, ", share * 100, left);
}

void Draw(Progress* progress, Clock::time_point now) {
  const int columns = StatusLineColumns();
  if (columns < 2) return;
  const RunCounts& counts = progress->counts;
  const double elapsed = SecondsSince(progress->start, now);
  const std::uint64_t read = BytesSoFar(counts);
  char bytes[32];
  char rate[32];
  FormatBytes(static_cast<double>(read), bytes, sizeof bytes);
  FormatBytes(elapsed > 0 ? static_cast<double>(read) / elapsed : 0, rate, sizeof rate);
  // What a narrow terminal cuts off comes last.
  char line[1024];
  int length = 0;
  if (progress->reader != nullptr) {
    length = FormatTimeLeft(progress, elapsed, read, line, sizeof line);
  }
  std::snprintf(line + length, sizeof line - length, "%llu file%s, %s, %s/s",
                static_cast<unsigned long long>(counts.files), Plural(counts.files), bytes,
                rate);
  std::size_t width = static_cast<std::size_t>(columns) - 1;
  if (width > sizeof line - 1) width = sizeof line - 1;
  if (std::strlen(line) > width) line[width] = '\0';
  // A name may hold what would steer the terminal.
  char directory[4 * LineBufferSize];
  PathForPeople(counts.directory, directory, sizeof directory);
  AppendDirectory(line, width, directory);
  WriteStatusLine(line, false);
  progress->shown = true;
}

void OnMessage(void* watcher, const char* text) {
  ShowProgressMessage(static_cast<Progress*>(watcher), text);
}

void OnFile(void* watcher) {
  auto* progress = static_cast<Progress*>(watcher);
  const Clock::time_point now = Clock::now();
  if (now < progress->next_draw) return;
  progress->next_draw = now + RedrawEvery;
  Draw(progress, now);
}

}  // namespace

void StartProgress(Progress* progress, bool testing, bool output_busy) {
  ClearRunCounts(&progress->counts);
  progress->watched = !output_busy && StatusLineColumns() > 0;
  progress->counts.on_file = progress->watched ? OnFile : nullptr;
  progress->counts.on_message = OnMessage;
  progress->counts.watcher = progress;
  progress->shown = false;
  progress->testing = testing;
  progress->start = Clock::now();
  progress->next_draw = progress->start + FirstDrawAfter;
  progress->reader = nullptr;
}

RunCounts* ProgressCounts(Progress* progress) {
  return progress != nullptr ? &progress->counts : nullptr;
}

void ShowProgressMessage(Progress* progress, const char* text) {
  EndProgress(progress);
  ConsoleWarn("%s\n", text);
}

void FollowListReading(Progress* progress, ListReader* reader) {
  if (progress == nullptr) return;
  progress->reader = reader;
  if (reader != nullptr) StartListSizes(&progress->sizes, reader->file);
}

void EndProgress(Progress* progress) {
  if (progress == nullptr || !progress->shown) return;
  WriteStatusLine("", false);
  progress->shown = false;
}

void PrintRunSummary(Progress* progress) {
  if (progress == nullptr) return;
  if (!progress->watched) {
    // The entries left out were named as they came; a log gets their
    // number too.
    const auto left_out = static_cast<unsigned long long>(progress->counts.left_out);
    if (!progress->testing && left_out > 0) {
      ConsoleWarn("dorvane: %llu %s left out of the list\n", left_out,
                  left_out == 1 ? "entry" : "entries");
    }
    return;
  }
  EndProgress(progress);
  const int columns = StatusLineColumns();
  if (columns < 2) return;
  const RunCounts& counts = progress->counts;
  char head[128];
  const auto files = static_cast<unsigned long long>(counts.files);
  if (progress->testing) {
    std::snprintf(head, sizeof head, "checked %llu file%s, %llu failed", files,
                  Plural(counts.files), static_cast<unsigned long long>(counts.failed));
  } else {
    std::snprintf(head, sizeof head, "listed %llu file%s, %llu left out", files,
                  Plural(counts.files), static_cast<unsigned long long>(counts.left_out));
  }
  char bytes[32];
  char time[32];
  FormatBytes(static_cast<double>(counts.bytes), bytes, sizeof bytes);
  FormatDuration(SecondsSince(progress->start, Clock::now()), true, time, sizeof time);
  // The line must not wrap: on a narrow terminal the time goes, then the
  // bytes, then the end of what is left.
  char line[256];
  const std::size_t width = static_cast<std::size_t>(columns) - 1;
  std::snprintf(line, sizeof line, "%s, %s in %s", head, bytes, time);
  if (std::strlen(line) > width) std::snprintf(line, sizeof line, "%s, %s", head, bytes);
  if (std::strlen(line) > width) std::snprintf(line, sizeof line, "%s", head);
  if (std::strlen(line) > width) line[width] = '\0';
  WriteStatusLine(line, true);
  // A run that read from the device says how it took it.
  if (counts.storage[0] == '\0') return;
  std::snprintf(line, sizeof line, "storage: %s", counts.storage);
  if (std::strlen(line) > width) line[width] = '\0';
  WriteStatusLine(line, true);
}
