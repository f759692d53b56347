// The POSIX layer where it differs from Windows: readers share a file,
// full paths are POSIX paths made from the text alone, and the listing shows
// links by what they name and hides names it cannot carry.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "test_util.h"

namespace {

// A shared flock: two runs of the test command may read one list.
TEST(Win32FilesPosix, ShareModeZeroLetsReadersShare) {
  ScopedTempDir temp;
  WriteTextFile("f", "abc");
  HANDLE reader = OpenHandle("f", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE second_reader = OpenHandle("f", GENERIC_READ, OPEN_EXISTING);
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

// Links show as what they name, but only real directories carry the
// directory attribute; names with a backslash are shown as they are.
TEST(Win32FindPosix, LinksFifosAndBackslashNames) {
  ScopedTempDir temp;
  MakeDirectory("d/sub");
  MakeDirectory("d/other");
  WriteTextFile("d/.dot", "12345");
  WriteTextFile("d/back\\slash", "");
  ASSERT_EQ(symlink("sub", "d/dirlink"), 0);
  ASSERT_EQ(symlink(".dot", "d/filelink"), 0);
  ASSERT_EQ(mkfifo("d/fifo", 0600), 0);
  const FoundEntries found = FindEntries(".\\d\\*.*");
  EXPECT_EQ(found.directories, (std::set<std::string>{".:0", "..:0", "other:0", "sub:0"}));
  // The name with a backslash is shown: the walk, not the listing, leaves it out.
  EXPECT_EQ(found.files, (std::set<std::string>{".dot:5", "back\\slash:0", "dirlink:0",
                                                "filelink:5", "fifo:0"}));
  EXPECT_EQ(OpenForReading("d\\fifo"), INVALID_HANDLE_VALUE);

  WIN32_FIND_DATAA entry;
  // Searches the layer does not provide are refused.
  EXPECT_EQ(FindFirstFileExA(".\\d\\*.*", FindExInfoStandard, &entry,
                             FindExSearchNameMatch, nullptr, 1),
            INVALID_HANDLE_VALUE);
}

}  // namespace
