// The POSIX layer where it differs from Windows: readers share a file, and
// full paths are POSIX paths made from the text alone.
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "test_util.h"

namespace {

HANDLE Open(const char* name, DWORD access, DWORD disposition) {
  return CreateFileA(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A shared flock: two runs of the test command may read one list.
TEST(Win32FilesPosix, ShareModeZeroLetsReadersShare) {
  ScopedTempDir temp;
  WriteTextFile("f", "abc");
  HANDLE reader = Open("f", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE second_reader = Open("f", GENERIC_READ, OPEN_EXISTING);
  EXPECT_NE(second_reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  CloseHandle(second_reader);
}

TEST(Win32DirectoriesPosix, FullPathWorksOnTheTextAlone) {
  ScopedTempDir temp;
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(FullPathOf("a/./b/../c"), cwd + "/a/c");
  EXPECT_EQ(FullPathOf("a\\b\\"), cwd + "/a/b/");
  EXPECT_EQ(FullPathOf("./other/../data"), cwd + "/data");
  EXPECT_EQ(FullPathOf("/x/../../y/."), "/y");
  EXPECT_EQ(FullPathOf("/"), "/");
  EXPECT_EQ(FullPathOf(".."), std::filesystem::path(cwd).parent_path().string());
}

TEST(Win32DirectoriesPosix, FullPathOfANameTooLongForTheBufferGivesTheSizeNeeded) {
  ScopedTempDir temp;
  const std::string long_name(300, 'n');
  char buffer[MAX_PATH];
  EXPECT_EQ(GetFullPathNameA(long_name.c_str(), MAX_PATH, buffer, nullptr),
            std::filesystem::current_path().string().size() + 1 + 300 + 1);
}

// Never past the MAX_PATH buffer, even by the backslash.
TEST(Win32ShellPosix, PathAddBackslashRefusesToFillTheLastByte) {
  char path[MAX_PATH];
  std::memset(path, 'x', MAX_PATH - 1);
  path[MAX_PATH - 1] = '\0';
  EXPECT_EQ(PathAddBackslashA(path), nullptr);
  EXPECT_EQ(std::strlen(path), MAX_PATH - 1u);
}

}  // namespace
