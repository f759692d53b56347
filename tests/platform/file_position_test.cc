// Reads and moves through a file handle: whatever the layer does behind
// ReadFile (the POSIX one reads ahead), the bytes, counts and positions are
// those of reading the file directly.
#include <algorithm>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "test_util.h"

namespace {

TEST(Win32FilePosition, ReadsOfEverySizeGiveTheFileAndExactPositions) {
  ScopedTempDir temp;
  const std::string content = PatternBytes(300001);
  WriteTextFile("f", content);
  HANDLE file = OpenForReading("f");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // Sizes below, at and above the read-ahead, crossing its fills.
  const DWORD sizes[] = {8192, 1, 100000, 7, 131072, 8192, 200000};
  std::uint64_t expected = 0;
  for (const DWORD size : sizes) {
    const std::string part = ReadOnce(file, size);
    const std::uint64_t want = std::min<std::uint64_t>(size, content.size() - expected);
    ASSERT_EQ(part.size(), want) << "at " << expected;
    EXPECT_EQ(part, content.substr(expected, want)) << "at " << expected;
    expected += want;
    EXPECT_EQ(FilePosition(file), expected);
  }
  EXPECT_EQ(expected, content.size());
  EXPECT_EQ(ReadOnce(file, 8192), "");
  EXPECT_EQ(FilePosition(file), content.size());
  CloseHandle(file);
}

TEST(Win32FilePosition, MovesLandWhereDirectReadsWould) {
  ScopedTempDir temp;
  const std::string content = PatternBytes(300000);
  WriteTextFile("f", content);
  HANDLE file = OpenForReading("f");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadOnce(file, 8192), content.substr(0, 8192));
  // Back inside the bytes already read ahead, forward past them, from the
  // end, and beyond the end.
  EXPECT_EQ(SetFilePointer(file, -5000, nullptr, FILE_CURRENT), 3192u);
  EXPECT_EQ(ReadOnce(file, 8192), content.substr(3192, 8192));
  EXPECT_EQ(SetFilePointer(file, 200001, nullptr, FILE_BEGIN), 200001u);
  EXPECT_EQ(ReadOnce(file, 8192), content.substr(200001, 8192));
  EXPECT_EQ(SetFilePointer(file, -10, nullptr, FILE_END), 299990u);
  EXPECT_EQ(ReadOnce(file, 8192), content.substr(299990));
  EXPECT_EQ(SetFilePointer(file, 5, nullptr, FILE_END), 300005u);
  EXPECT_EQ(ReadOnce(file, 8192), "");
  // A move before the start fails and leaves the position as it was.
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(FilePosition(file), 300005u);
  LONG high = 1;  // 4 GiB + 3, as the two words of a 64-bit distance
  EXPECT_EQ(SetFilePointer(file, 3, &high, FILE_BEGIN), 3u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(ReadOnce(file, 10), "");
  CloseHandle(file);
}

}  // namespace
