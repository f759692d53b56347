#include "digest/hash_file.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "digest/md5_vectors.h"
#include "test_util.h"

namespace {

struct HashOutcome {
  int result;
  std::string hex;
};

HashOutcome Hash(const char* path) {
  char hex[HexDigestSize] = "garbage";
  const int result = HashFile(path, hex);
  return {result, hex};
}

TEST(HashFile, DigestsFilesOfEverySize) {
  ScopedTempDir dir;
  WriteTextFile("empty", "");
  EXPECT_EQ(Hash("empty").hex, "D41D8CD98F00B204E9800998ECF8427E");
  WriteTextFile("abc", "abc");
  EXPECT_EQ(Hash("abc").hex, "900150983CD24FB0D6963F7D28E17F72");
  for (const PatternVector& row : PatternVectors) {
    WriteTextFile("data", PatternBytes(row.length));
    const HashOutcome outcome = Hash("data");
    EXPECT_EQ(outcome.result, 1) << row.length;
    EXPECT_EQ(outcome.hex, row.hex) << row.length;
  }
}

TEST(HashFile, TakesBackslashPaths) {
  ScopedTempDir dir;
  MakeDirectory("sub");
  WriteTextFile("sub/abc.txt", "abc");
  EXPECT_EQ(Hash(".\\sub\\abc.txt").hex, "900150983CD24FB0D6963F7D28E17F72");
}

TEST(HashFile, FailsWithEmptyTextForWhatIsNoReadableFile) {
  ScopedTempDir dir;
  MakeDirectory("sub");
  for (const char* path : {"missing", "sub", ".\\sub\\", ""}) {
    const HashOutcome outcome = Hash(path);
    EXPECT_EQ(outcome.result, 0) << path;
    EXPECT_EQ(outcome.hex, "") << path;
  }
}

TEST(HashFile, FailsWhileAnotherProgramHoldsTheFile) {
  ScopedTempDir dir;
  WriteTextFile("held", "abc");
  auto holder = std::make_unique<HeldFile>("held");
  ASSERT_TRUE(holder->held());
  EXPECT_EQ(Hash("held").result, 0);
  EXPECT_EQ(Hash("held").hex, "");
  holder.reset();
  EXPECT_EQ(Hash("held").result, 1);
}

}  // namespace
