// Files that change while they are hashed, a chunk at a time and by another
// thread during HashFile (POSIX only: on Windows the hashing's share mode 0
// keeps every other writer out meanwhile).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "digest/hash_file.h"
#include "digest/file_feeder.h"
#include "digest/hash_queue.h"
#include "test_util.h"

namespace {

void AppendBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << bytes;
}

// What hashing "f" gave when it was changed after its first chunk was read.
struct Outcome {
  int result;
  std::string hex;
  std::uint64_t size;
};

// By the steps of HashFile, reading chunk bytes at a time: HashFile's
// chunk, or the lanes' larger reads. With finish_early a file whose first
// read met its end is finished before the change, as a lane may finish it
// in the step that read it.
Outcome HashChangedBySteps(void (*change)(), DWORD chunk, bool finish_early = false) {
  HANDLE file = OpenForReading("f");
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  std::vector<unsigned char> buffer(chunk);
  FileHashState state;
  BeginFileHash(file, &state);
  DWORD got = 0;
  const auto step = [&] {
    got = ReadNextBytes(file, buffer.data(), chunk, &state);
    Md5Update(&state.context, buffer.data(), got);
    return got > 0;
  };
  EXPECT_TRUE(step());
  const bool finished_early = finish_early && got < chunk;
  char early_hex[HexDigestSize] = "";
  std::uint64_t early_size = 0;
  const bool early = finished_early && FinishFileHash(file, &state, early_hex, &early_size);
  change();
  if (finished_early) {
    CloseHandle(file);
    return Outcome{early ? 1 : 0, early_hex, early_size};
  }
  while (step()) {
  }
  char hex[HexDigestSize] = "garbage";
  Outcome outcome{0, "", 99};
  outcome.result = FinishFileHash(file, &state, hex, &outcome.size);
  CloseHandle(file);
  outcome.hex = hex;
  return outcome;
}

// By the lane hasher with one thread, "f" first and two other files beside
// it in the lanes; the first step reads the first FeedReadSize bytes of
// each.
Outcome HashChangedInLanes(const Md5LaneKernel* kernel, void (*change)()) {
  const std::string g = PatternBytes(FeedReadSize + 5 * HashChunkSize + 3);
  WriteTextFile("g", g);
  WriteTextFile("h", PatternBytes(100));
  HashQueue* queue = StartHashQueue(HashPlan{kernel, 1, StorageUnknown});
  for (const char* name : {"f", "g", "h"}) QueueFileToHash(queue, name, 0, HashNote{});
  EXPECT_TRUE(AdvanceHashing(queue));
  change();
  HashResult results[3];
  std::string hex[3];
  for (int i = 0; i < 3; ++i) {
    TakeHashResult(queue, &results[i]);
    hex[i] = results[i].hex;
  }
  EndHashQueue(queue);
  EXPECT_EQ(hex[1], HexDigestOf(g)) << kernel->name;
  EXPECT_EQ(hex[2], HexDigestOf(PatternBytes(100))) << kernel->name;
  return Outcome{results[0].ok ? 1 : 0, hex[0], results[0].hashed_size};
}

// Each row changes the file after its first chunk was read. A digest may
// only come out when it describes the whole file as it then stands, with
// that size; the lane hasher must come to the same outcome as HashFile's
// steps with every kernel.
TEST(ChangingFiles, HashFileGivesADigestOnlyOfTheWholeFileAsItNowStands) {
  ScopedTempDir temp;
  const struct {
    const char* fault;
    std::size_t original;  // bytes at the start
    void (*change)();
    int result;
    bool as_read_first;  // the digest and size are those the first read found
  } rows[] = {
      {"unchanged", 3 * HashChunkSize, [] {}, 1, false},
      // Read to the new end: the digest and the size both cover it.
      {"grew while read", 3 * HashChunkSize, [] { AppendBytes("f", "tail"); }, 1, false},
      // The first read came back short: it met the end as the file then
      // stood, and the system is not asked again for a size that read
      // told. The digest describes the file as it stood then.
      {"grew after a short first read", 100, [] { AppendBytes("f", PatternBytes(200)); }, 1,
       true},
      {"shrank below what was read", 3 * HashChunkSize,
       [] { std::filesystem::resize_file("f", HashChunkSize / 2); }, 0, false},
      {"shrank above what was read", 3 * HashChunkSize,
       [] { std::filesystem::resize_file("f", 2 * HashChunkSize - 5); }, 1, false},
      {"emptied", 3 * HashChunkSize, [] { std::filesystem::resize_file("f", 0); }, 0, false},
      // The same size with other bytes cannot be told by size; the digest
      // then is that of the bytes as read.
      {"rewritten in place, same size", 3 * HashChunkSize,
       [] { WriteTextFile("f", std::string(3 * HashChunkSize, 'x')); }, 1, false},
  };
  for (const auto& row : rows) {
    const std::string original = PatternBytes(row.original);
    WriteTextFile("f", original);
    const Outcome steps = HashChangedBySteps(row.change, HashChunkSize);
    EXPECT_EQ(steps.result, row.result) << row.fault;
    // What was read: the first chunk before the change, the rest after it.
    const std::size_t first = std::min<std::size_t>(row.original, HashChunkSize);
    const std::string now = row.as_read_first ? original : ReadTextFile("f");
    const std::string read =
        original.substr(0, first) + (now.size() > first ? now.substr(first) : "");
    EXPECT_EQ(steps.hex, row.result ? HexDigestOf(read) : "") << row.fault;
    EXPECT_EQ(steps.size, row.result ? now.size() : 0u) << row.fault;
    // The lanes read more at a time: on a file as much larger they must
    // come to what HashFile's steps give with reads of that size.
    const std::string larger = PatternBytes(row.original * (FeedReadSize / HashChunkSize));
    WriteTextFile("f", larger);
    const Outcome wide = HashChangedBySteps(row.change, FeedReadSize);
    WriteTextFile("f", larger);
    const Outcome early = HashChangedBySteps(row.change, FeedReadSize, true);
    const auto same = [](const Outcome& a, const Outcome& b) {
      return a.result == b.result && a.hex == b.hex && a.size == b.size;
    };
    for (const Md5LaneKernel* kernel : KernelsToTry()) {
      WriteTextFile("f", larger);
      const Outcome lanes = HashChangedInLanes(kernel, row.change);
      EXPECT_TRUE(same(lanes, wide) || same(lanes, early))
          << row.fault << ", " << kernel->name << ": " << lanes.result << " " << lanes.hex;
    }
  }
}

// A file that another program keeps appending to must not keep the hashing
// going: growth is followed only up to twice the size at the start plus
// HashGrowthAllowance.
TEST(ChangingFiles, HashingStopsOnAFileThatKeepsGrowing) {
  ScopedTempDir temp;
  const std::uint64_t start = 2 * HashChunkSize;
  WriteTextFile("f", PatternBytes(start));
  HANDLE file = OpenForReading("f");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  unsigned char buffer[HashChunkSize];
  FileHashState state;
  BeginFileHash(file, &state);
  const std::uint64_t limit_passes = (2 * start + HashGrowthAllowance) / HashChunkSize;
  std::uint64_t passes = 0;
  for (; passes < 2 * limit_passes && HashNextChunk(file, buffer, &state); ++passes) {
    AppendBytes("f", PatternBytes(HashChunkSize));
  }
  EXPECT_EQ(passes, limit_passes);
  char hex[HexDigestSize];
  std::uint64_t size = 0;
  EXPECT_FALSE(FinishFileHash(file, &state, hex, &size));
  CloseHandle(file);
}

// Bytes the process has read, from /proc/self/io, less what this reader
// read there itself.
class ReadCounter {
 public:
  ReadCounter() : fd_(open("/proc/self/io", O_RDONLY)) {}
  ~ReadCounter() { if (fd_ >= 0) close(fd_); }
  bool ok() const { return fd_ >= 0; }
  std::uint64_t Count() {
    char text[512];
    const ssize_t got = pread(fd_, text, sizeof text - 1, 0);
    if (got <= 0) return 0;
    own_ += static_cast<std::uint64_t>(got);
    text[got] = '\0';
    unsigned long long count = 0;
    if (std::sscanf(text, "rchar: %llu", &count) != 1) return 0;
    return count - own_;
  }

 private:
  int fd_;
  std::uint64_t own_ = 0;
};

// Hashes a large file while another thread changes it once HashFile has
// read a few chunks. Returns false when that could not be arranged before
// the last part of the file was read (then the outcome proves nothing).
bool HashWhileChanging(const char* name, std::uint64_t size,
                       const std::function<void()>& change, int* result,
                       std::string* hex) {
  ReadCounter counter;
  if (!counter.ok()) return false;
  const std::uint64_t before = counter.Count();
  std::atomic<bool> done{false};
  std::atomic<std::uint64_t> read_by_change{size};
  std::thread changer([&] {
    while (!done && counter.Count() < before + 4 * HashChunkSize) {
    }
    if (done) return;
    change();
    // Read after the change, so this overstates what HashFile had read.
    read_by_change = counter.Count() - before;
  });
  char text[HexDigestSize];
  *result = HashFile(name, text);
  done = true;
  changer.join();
  *hex = text;
  return read_by_change + 2 * 131072 < size;
}

constexpr std::uint64_t ChangingFileSize = 64u << 20;

TEST(HashFileWhileChanging, AFileCutBelowTheReadPositionFails) {
  ScopedTempDir temp;
  WriteTextFile("f", PatternBytes(ChangingFileSize));
  int result = -1;
  std::string hex;
  if (!HashWhileChanging("f", ChangingFileSize,
                         [] { ASSERT_EQ(truncate("f", 0), 0); }, &result, &hex)) {
    GTEST_SKIP() << "the file was read to its end before it could be cut";
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(hex, "");
}

TEST(HashFileWhileChanging, AFileThatGrowsIsReadToItsNewEnd) {
  ScopedTempDir temp;
  const std::string content = PatternBytes(ChangingFileSize + 5000);
  WriteTextFile("f", content.substr(0, ChangingFileSize));
  int result = -1;
  std::string hex;
  const std::string tail = content.substr(ChangingFileSize);
  if (!HashWhileChanging("f", ChangingFileSize,
                         [&tail] { AppendBytes("f", tail); },
                         &result, &hex)) {
    GTEST_SKIP() << "the file was read to its end before it could grow";
  }
  EXPECT_EQ(result, 1);
  EXPECT_EQ(hex, HexDigestOf(content));
}

}  // namespace
