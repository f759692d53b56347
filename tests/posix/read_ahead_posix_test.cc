// The POSIX layer's read-ahead and size queries when a file changes under
// an open handle (no share mode stops another writer here): ReadFile and
// GetFileSize give what reading the file directly would, and HashFile
// catches a file that is cut or grows while it reads it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "digest/hash_file.h"
#include "platform/win32.h"
#include "test_util.h"

namespace {

// Reads in chunks of chunk bytes until a read returns nothing.
std::string ReadToEnd(HANDLE file, DWORD chunk) {
  std::string all;
  for (std::string part = ReadOnce(file, chunk); !part.empty(); part = ReadOnce(file, chunk)) {
    all += part;
  }
  return all;
}

// Changes the file behind the handle's back, through another descriptor.
void Rewrite(const char* name, std::uint64_t offset, const std::string& bytes) {
  const int fd = open(name, O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
            static_cast<ssize_t>(bytes.size()));
  close(fd);
}

// Sets the file's times well into the past, so that any later write shows
// in them whatever the clock's granularity.
void BackdateTimes(const char* name) {
  const timespec old[2] = {{1000000, 0}, {1000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, name, old, 0), 0);
}

TEST(Win32ReadAhead, AFileCutOrRewrittenBehindTheHandleIsReadAnew) {
  ScopedTempDir temp;
  const std::string content = PatternBytes(300000);
  WriteTextFile("cut", content);
  HANDLE file = OpenForReading("cut");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadOnce(file, 8192), content.substr(0, 8192));
  ASSERT_EQ(truncate("cut", 10000), 0);
  // The size is asked again after a read, and the bytes read ahead past
  // the new end are not handed out.
  EXPECT_EQ(GetFileSize(file, nullptr), 10000u);
  EXPECT_EQ(ReadToEnd(file, 8192), content.substr(8192, 10000 - 8192));
  EXPECT_EQ(FilePosition(file), 10000u);
  CloseHandle(file);

  WriteTextFile("same_size", content);
  BackdateTimes("same_size");
  file = OpenForReading("same_size");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadOnce(file, 8192), content.substr(0, 8192));
  Rewrite("same_size", 8192, std::string(100, 'X'));
  EXPECT_EQ(GetFileSize(file, nullptr), 300000u);
  EXPECT_EQ(ReadOnce(file, 100), std::string(100, 'X'));
  EXPECT_EQ(ReadOnce(file, 8192), content.substr(8292, 8192));
  CloseHandle(file);
}

TEST(Win32ReadAhead, AFileThatGrowsAfterAShortReadIsReadOn) {
  ScopedTempDir temp;
  // Smaller than one read-ahead: the first fill sees the end of the file.
  const std::string content = PatternBytes(30000);
  WriteTextFile("f", content.substr(0, 20000));
  HANDLE file = OpenForReading("f");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadOnce(file, 8192), content.substr(0, 8192));
  Rewrite("f", 20000, content.substr(20000));
  EXPECT_EQ(GetFileSize(file, nullptr), 30000u);
  EXPECT_EQ(ReadToEnd(file, 8192), content.substr(8192));
  EXPECT_EQ(FilePosition(file), 30000u);

  // Also when the growth comes after the end was read, with no size asked.
  Rewrite("f", 30000, "tail");
  EXPECT_EQ(ReadOnce(file, 8192), "tail");
  EXPECT_EQ(FilePosition(file), 30004u);
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
                         [&tail] { Rewrite("f", ChangingFileSize, tail); },
                         &result, &hex)) {
    GTEST_SKIP() << "the file was read to its end before it could grow";
  }
  EXPECT_EQ(result, 1);
  EXPECT_EQ(hex, HexDigestOf(content));
}

}  // namespace
