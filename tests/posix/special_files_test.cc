// FIFOs, symbolic links, odd names and shared locks, which only POSIX file
// systems give the program.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "digest/hash_file.h"
#include "listing/walker.h"
#include "platform/win32.h"
#include "test_util.h"

namespace {

const std::string Abc = "900150983CD24FB0D6963F7D28E17F72";

std::string Hash(const char* path) {
  char hex[HexDigestSize] = "garbage";
  return HashFile(path, hex) ? hex : "failed:" + std::string(hex);
}

TEST(SpecialFiles, HashFollowsLinksToFilesAndNeverBlocks) {
  ScopedTempDir dir;
  MakeDirectory("sub");
  WriteTextFile("sub/abc.txt", "abc");
  ASSERT_EQ(symlink("sub/abc.txt", "link"), 0);
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  ASSERT_EQ(symlink("nowhere", "broken"), 0);
  EXPECT_EQ(Hash("link"), Abc);
  for (const char* path : {"fifo", "broken", "/dev/null"}) {
    EXPECT_EQ(Hash(path), "failed:") << path;
  }
}

// A shared holder, such as another run hashing the same file, is no bar.
TEST(SpecialFiles, ASharedFlockDoesNotStopHashing) {
  ScopedTempDir dir;
  WriteTextFile("held", "abc");
  const int holder = open("held", O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_SH), 0);
  EXPECT_EQ(Hash("held"), Abc);
  close(holder);
}

TEST(SpecialFiles, FindShowsLinksByWhatTheyNameAndHidesBackslashNames) {
  ScopedTempDir temp;
  MakeDirectory("d/sub");
  WriteTextFile("d/.dot", "12345");
  WriteTextFile("d/back\\slash", "");
  ASSERT_EQ(symlink("sub", "d/dirlink"), 0);
  ASSERT_EQ(symlink(".dot", "d/filelink"), 0);
  ASSERT_EQ(mkfifo("d/fifo", 0600), 0);
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
  EXPECT_EQ(files, (std::set<std::string>{".dot:5", "dirlink:0", "filelink:5", "fifo:0"}));
  EXPECT_EQ(CreateFileA("d\\fifo", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
}

// One file per directory, so the listing order cannot matter.
TEST(SpecialFiles, WalkListsLinkedFilesAndEntersOnlyRealDirectories) {
  ScopedTempDir temp;
  MakeDirectory("data/real");
  WriteTextFile("data/real/f", "abc");
  ASSERT_EQ(mkfifo("data/fifo", 0600), 0);
  ASSERT_EQ(symlink("nowhere", "data/broken"), 0);
  ASSERT_EQ(symlink("real", "data/dirlink"), 0);
  ASSERT_EQ(symlink("real/f", "data/filelink"), 0);
  ChangeDirectory("data");
  HANDLE list = CreateFileA("../walk.lst", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(list, INVALID_HANDLE_VALUE);
  char path[MAX_PATH] = ".";
  WalkDirectory(path, list);
  CloseHandle(list);
  EXPECT_EQ(ReadTextFile("../walk.lst"),
            "DIR:  \".\\\"\r\nFILE: " + Abc + "  3  \"filelink\"\r\n"
            "DIR:  \".\\real\\\"\r\nFILE: " + Abc + "  3  \"f\"\r\n");
}

}  // namespace
