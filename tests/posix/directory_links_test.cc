// A tree changed under the walk: directories swapped for symbolic links,
// and the walk's opens, which stay beneath the start directory (POSIX only;
// on Windows the walk enters directory links).
#include <linux/seccomp.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "listing/list_format.h"
#include "listing/walker.h"
#include "posix/limited_run.h"
#include "test_util.h"

namespace {

// Between listing v's file and entering v, v becomes a link to a directory
// outside: the walk keeps v's DIR line and reaches nothing through the
// link, neither by listing v nor by hashing the file it had queued from v
// (files are opened after the walk has gone on).
TEST(DirectoryLinks, ADirectorySwappedForALinkDuringTheWalkLeadsNowhere) {
  ScopedTempDir temp;
  MakeDirectory("tree/v");
  WriteTextFile("tree/v/secret", "abc");
  MakeDirectory("outside");
  WriteTextFile("outside/secret", "abc");
  ChangeDirectory("tree");
  HANDLE list = OpenHandle("../walk.lst", GENERIC_WRITE, OPEN_ALWAYS);
  // One thread: the file queued waits, unopened, until its line is due.
  WalkQueue* queue = StartWalkQueue(list, HashPlan{ChooseMd5LaneKernel(), 1, StorageUnknown, {}});
  ASSERT_NE(queue, nullptr);
  const WIN32_FIND_DATAA entry = {FILE_ATTRIBUTE_NORMAL, 0, 3, "secret"};
  ASSERT_TRUE(QueueFileEntry(queue, ".\\v\\", entry));
  std::filesystem::rename("v", "../v-before");
  ASSERT_EQ(symlink("../outside", "v"), 0);
  char path[PathBufferSize] = ".\\v\\";
  EXPECT_TRUE(WalkDirectory(path, list, ChooseHashPlan()));
  EXPECT_TRUE(WriteQueuedLines(queue));
  EndWalkQueue(queue);
  CloseHandle(list);
  EXPECT_EQ(ReadTextFile("../walk.lst"), "DIR:  \".\\v\\\"\r\n");
}

// o for each path that opens, - for each refused: files by CreateFileA,
// directories (closing '\\') by FindFirstFileExA of their "*.*".
std::string Opened(DWORD flag) {
  std::string results;
  for (std::string path : {"real\\f", "filelink", "outlink", "dirlink\\f", "..\\outside\\f",
                           "real\\", "dirlink\\", "..\\outside\\"}) {
    WIN32_FIND_DATAA entry;
    const bool is_directory = path.back() == '\\';
    HANDLE handle = is_directory ? FindFirstFileExA((path + "*.*").c_str(), FindExInfoStandard, &entry,
                                                    FindExSearchNameMatch, nullptr, flag)
                                 : CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL | flag, nullptr);
    results += handle != INVALID_HANDLE_VALUE ? 'o' : '-';
    is_directory ? FindClose(handle) : CloseHandle(handle);
  }
  return results;
}

// Opened with the flag in a child whose openat2 fails with ENOSYS, as on
// kernels before 5.6 or under seccomp filters that refuse it.
std::string OpenedWithoutOpenat2() {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  if (fork() == 0) {
    FilterSystemCall(SYS_openat2, SECCOMP_RET_ERRNO | ENOSYS);
    const std::string results = Opened(FILE_FLAG_NO_DIRECTORY_LINKS);
    _exit(write(fds[1], results.data(), results.size()) < 0);
  }
  close(fds[1]);
  char results[16] = {};
  const ssize_t got = read(fds[0], results, sizeof results - 1);
  close(fds[0]);
  wait(nullptr);
  return got > 0 ? results : "nothing";
}

// With the walk's flag nothing is reached through a directory link or
// outside the current directory; a link as the last component, to a file,
// is followed wherever it points. Without it (test) all are followed.
TEST(DirectoryLinks, TheWalksOpensStayBeneathTheCurrentDirectoryWithOrWithoutOpenat2) {
  ScopedTempDir temp;
  MakeDirectory("tree/real");
  MakeDirectory("outside");
  WriteTextFile("tree/real/f", "abc");
  WriteTextFile("outside/f", "abc");
  ChangeDirectory("tree");
  ASSERT_EQ(symlink("real/f", "filelink"), 0);
  ASSERT_EQ(symlink("../outside/f", "outlink"), 0);
  ASSERT_EQ(symlink("../outside", "dirlink"), 0);
  EXPECT_EQ(Opened(0), "oooooooo");
  EXPECT_EQ(Opened(FILE_FLAG_NO_DIRECTORY_LINKS), "ooo--o--");
  EXPECT_EQ(OpenedWithoutOpenat2(), "ooo--o--");
}

}  // namespace
