// The real Windows services where they differ from the POSIX layer: share
// mode 0 refuses every other open, and full paths are Windows paths.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

// Two runs of the test command cannot read one list at the same time here.
TEST(Win32FilesWindows, ShareModeZeroRefusesEvenASecondReader) {
  ScopedTempDir temp;
  WriteTextFile("f", "abc");
  HANDLE reader = OpenHandle("f", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenHandle("f", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Not even an open that would share everything gets in.
  HANDLE sharing = CreateFileA("f", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(sharing, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
}

TEST(Win32DirectoriesWindows, FullPathFoldsDotsAndTurnsSlashesIntoBackslashes) {
  ScopedTempDir temp;
  char cwd[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
  const std::string here = cwd;
  const std::string drive = here.substr(0, 2);
  ASSERT_EQ(drive[1], ':');
  EXPECT_EQ(FullPathOf("a/./b/../c"), here + "\\a\\c");
  EXPECT_EQ(FullPathOf("a\\b\\"), here + "\\a\\b\\");
  EXPECT_EQ(FullPathOf("a/b/"), here + "\\a\\b\\");
  EXPECT_EQ(FullPathOf("./other/../data"), here + "\\data");
  EXPECT_EQ(FullPathOf(".."), here.substr(0, here.rfind('\\')));
  // A path from the drive's root, and dots that would climb above it.
  EXPECT_EQ(FullPathOf("\\x\\..\\..\\y\\."), drive + "\\y");
  EXPECT_EQ(FullPathOf(drive + "/"), drive + "\\");
}

}  // namespace
