// The Windows services as the program relies on them.
#include "platform/win32.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

HANDLE Open(const char* name, DWORD access, DWORD disposition) {
  return CreateFileA(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string FullPath(const char* name) {
  char buffer[MAX_PATH];
  const DWORD length = GetFullPathNameA(name, MAX_PATH, buffer, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(buffer) : std::string();
}

TEST(Win32Files, ShareModeZeroLetsReadersShareAndWritersNot) {
  ScopedTempDir temp;
  WriteTextFile("f", "abc");
  HANDLE reader = Open("f", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE second_reader = Open("f", GENERIC_READ, OPEN_EXISTING);
  EXPECT_NE(second_reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open("f", GENERIC_WRITE, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  CloseHandle(second_reader);
  HANDLE writer = Open("f", GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open("f", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  CloseHandle(writer);
}

TEST(Win32Files, ReadWriteSeekAndCut) {
  ScopedTempDir temp;
  HANDLE file = Open("f", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, "hello world", 11, &done, nullptr));
  EXPECT_EQ(done, 11u);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), 11u);
  EXPECT_EQ(high, 0u);
  LONG back = -1;
  EXPECT_EQ(SetFilePointer(file, -6, &back, FILE_END), 5u);
  EXPECT_EQ(back, 0);
  ASSERT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(GetFileSize(file, nullptr), 5u);
  EXPECT_EQ(SetFilePointer(file, 1, nullptr, FILE_BEGIN), 1u);
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "ello");
  // At the end a read succeeds with nothing.
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(CloseHandle(file));
}

TEST(Win32Files, OpensRegularFilesOnly) {
  ScopedTempDir temp;
  MakeDirectory("dir");
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  EXPECT_EQ(Open("dir", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open("fifo", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open("missing", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(std::filesystem::exists("missing"));
  HANDLE created = Open(".\\dir\\new", GENERIC_WRITE, OPEN_ALWAYS);
  EXPECT_NE(created, INVALID_HANDLE_VALUE);
  CloseHandle(created);
  EXPECT_TRUE(std::filesystem::exists("dir/new"));
}

TEST(Win32Find, ListsEveryEntryWithDotsAndOnlyRealDirectoriesAsDirectories) {
  ScopedTempDir temp;
  MakeDirectory("d/sub");
  WriteTextFile("d/.dot", "12345");
  WriteTextFile("d/back\\slash", "");
  ASSERT_EQ(symlink("sub", "d/dirlink"), 0);
  ASSERT_EQ(symlink(".dot", "d/filelink"), 0);
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA(".\\d\\*.*", &entry);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::set<std::string> directories, files;
  do {
    const bool is_directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    (is_directory ? directories : files).insert(entry.cFileName + std::string(":") + std::to_string(entry.nFileSizeLow));
  } while (FindNextFileA(find, &entry));
  EXPECT_TRUE(FindClose(find));
  EXPECT_EQ(directories, (std::set<std::string>{".:0", "..:0", "sub:0"}));
  EXPECT_EQ(files, (std::set<std::string>{".dot:5", "dirlink:0", "filelink:5"}));
  EXPECT_EQ(FindFirstFileA("missing\\*.*", &entry), INVALID_HANDLE_VALUE);
}

TEST(Win32Directories, FullPathWorksOnTheTextAlone) {
  ScopedTempDir temp;
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(FullPath("a/./b/../c"), cwd + "/a/c");
  EXPECT_EQ(FullPath("a\\b\\"), cwd + "/a/b/");
  EXPECT_EQ(FullPath("/x/../../y/."), "/y");
  EXPECT_EQ(FullPath("/"), "/");
  EXPECT_EQ(FullPath(".."), std::filesystem::path(cwd).parent_path().string());
  // Too long for the buffer: the size needed, NUL included.
  const std::string long_name(300, 'n');
  char buffer[MAX_PATH];
  EXPECT_EQ(GetFullPathNameA(long_name.c_str(), MAX_PATH, buffer, nullptr), cwd.size() + 1 + 300 + 1);
}

TEST(Win32Directories, CurrentDirectoryRoundTrip) {
  ScopedTempDir temp;
  MakeDirectory("sub/deeper");
  char saved[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, saved);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(GetCurrentDirectoryA(2, saved + 0), length + 1);
  ASSERT_EQ(GetCurrentDirectoryA(MAX_PATH, saved), length);
  EXPECT_TRUE(SetCurrentDirectoryA(".\\sub\\deeper"));
  EXPECT_EQ(std::filesystem::current_path().filename(), "deeper");
  EXPECT_FALSE(SetCurrentDirectoryA("missing"));
  EXPECT_TRUE(SetCurrentDirectoryA(saved));
  EXPECT_EQ(std::filesystem::current_path().string(), saved);
}

TEST(Win32Shell, PathAddBackslashAndStrTrim) {
  char path[MAX_PATH] = ".";
  EXPECT_EQ(PathAddBackslashA(path), path + 2);
  EXPECT_STREQ(path, ".\\");
  PathAddBackslashA(path);
  EXPECT_STREQ(path, ".\\");
  std::memset(path, 'x', MAX_PATH - 1);
  path[MAX_PATH - 1] = '\0';
  EXPECT_EQ(PathAddBackslashA(path), nullptr);

  char text[64] = "  12 name 34  ";
  EXPECT_TRUE(StrTrimA(text, " "));
  EXPECT_STREQ(text, "12 name 34");
  EXPECT_TRUE(StrTrimA(text, "0123456789 "));
  EXPECT_STREQ(text, "name");
  EXPECT_FALSE(StrTrimA(text, " "));
  std::strcpy(text, "   ");
  EXPECT_TRUE(StrTrimA(text, " "));
  EXPECT_STREQ(text, "");
}

}  // namespace
