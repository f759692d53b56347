#include "digest/hash_file.h"

#include <string>

#include <gtest/gtest.h>

#include "digest/md5_vectors.h"
#include "test_util.h"

namespace {

TEST(HashFile, DigestsFilesOfEverySize) {
  ScopedTempDir dir;
  WriteTextFile("empty", "");
  EXPECT_EQ(HashText("empty"), "D41D8CD98F00B204E9800998ECF8427E");
  WriteTextFile("abc", "abc");
  EXPECT_EQ(HashText("abc"), Abc);
  for (const PatternVector& row : PatternVectors) {
    WriteTextFile("data", PatternBytes(row.length));
    EXPECT_EQ(HashText("data"), row.hex) << row.length;
  }
}

TEST(HashFile, TakesBackslashPaths) {
  ScopedTempDir dir;
  MakeDirectory("sub");
  WriteTextFile("sub/abc.txt", "abc");
  EXPECT_EQ(HashText(".\\sub\\abc.txt"), Abc);
}

TEST(HashFile, FailsWithEmptyTextForWhatIsNoReadableFile) {
  ScopedTempDir dir;
  MakeDirectory("sub");
  for (const char* path : {"missing", "sub", ".\\sub\\", ""}) {
    EXPECT_EQ(HashText(path), "failed:") << path;
  }
}

}  // namespace
