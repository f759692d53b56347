// The POSIX layer's read-ahead and size queries when a file changes under
// an open handle (no share mode stops another writer here): ReadFile and
// GetFileSize give what reading the file directly would.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

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

}  // namespace
