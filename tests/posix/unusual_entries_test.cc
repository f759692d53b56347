// Entries that are no regular files, in a tree, named in a list or handed
// to the Windows services (POSIX only): FIFOs, sockets, symbolic links,
// devices and shared locks. Nothing blocks, nothing loops, none is listed;
// a link to a file is followed.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "digest/hash_queue.h"
#include "faults/list_check.h"
#include "listing/walker.h"
#include "posix/limited_run.h"
#include "test_util.h"

namespace {

void MakeSocket(const char* path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(fd, 1), 0);
  close(fd);
}

// Each FILE line as path, digest and size.
std::set<std::string> ListedEntries(const std::string& list) {
  std::set<std::string> entries;
  for (const ListedFile& file : ListedFiles(list)) {
    entries.insert(file.directory + file.name + " " + file.digest + " " +
                   std::to_string(file.size));
  }
  return entries;
}

// The DIR lines in order.
std::vector<std::string> DirLines(const std::string& list) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; (at = list.find("DIR:  ", at)) != std::string::npos;) {
    const std::size_t end = list.find("\r\n", at);
    lines.push_back(list.substr(at, end - at));
    at = end;
  }
  return lines;
}

// Device nodes need root and a file system that allows them.
bool MakeDevices() {
  return mknod("tree/zero-device", S_IFCHR | 0666, makedev(1, 5)) == 0 &&
         mknod("tree/null-device", S_IFCHR | 0666, makedev(1, 3)) == 0;
}

TEST(UnusualEntries, HashFollowsLinksToFilesAndNeverBlocks) {
  ScopedTempDir dir;
  MakeDirectory("sub");
  WriteTextFile("sub/abc.txt", "abc");
  ASSERT_EQ(symlink("sub/abc.txt", "link"), 0);
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  ASSERT_EQ(symlink("nowhere", "broken"), 0);
  EXPECT_EQ(HashText("link"), Abc);
  for (const char* path : {"fifo", "broken", "/dev/null"}) {
    EXPECT_EQ(HashText(path), "failed:") << path;
  }
}

// A shared holder, such as another run hashing the same file, is no bar.
TEST(UnusualEntries, ASharedFlockDoesNotStopHashing) {
  ScopedTempDir dir;
  WriteTextFile("held", "abc");
  const int holder = open("held", O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_SH), 0);
  EXPECT_EQ(HashText("held"), Abc);
  close(holder);
}

TEST(UnusualEntries, ATreeOfFifosSocketsAndLinksIsListedWithoutBlocking) {
  ScopedTempDir temp;
  MakeDirectory("tree/sub");
  WriteTextFile("tree/ok", "abc");
  WriteTextFile("tree/sub/f", "abc");
  ASSERT_EQ(mkfifo("tree/fifo", 0600), 0);
  MakeSocket("tree/socket");
  ASSERT_EQ(symlink("loop-b", "tree/loop-a"), 0);
  ASSERT_EQ(symlink("loop-a", "tree/loop-b"), 0);
  ASSERT_EQ(symlink("self", "tree/self"), 0);
  ASSERT_EQ(symlink(".", "tree/sub/up"), 0);
  ASSERT_EQ(symlink("..", "tree/sub/parent"), 0);
  ASSERT_EQ(symlink("sub", "tree/dirlink"), 0);
  ASSERT_EQ(symlink("nowhere", "tree/broken"), 0);
  ASSERT_EQ(symlink("/dev/zero", "tree/zero-link"), 0);
  ASSERT_EQ(symlink("fifo", "tree/fifo-link"), 0);
  ASSERT_EQ(symlink("sub/f", "tree/filelink"), 0);

  const RunResult create = RunDorvaneLimited({"c", "list.lst", "tree"}, -1, 0);
  EXPECT_EQ(create.exit_code, 0);
  const std::string list = ReadTextFile("list.lst");
  EXPECT_EQ(ListFault(list), "");
  // A link to a file is listed as the file; no link to a directory is entered.
  EXPECT_EQ(ListedEntries(list), (std::set<std::string>{".\\filelink " + Abc + " 3",
                                                        ".\\ok " + Abc + " 3",
                                                        ".\\sub\\f " + Abc + " 3"}));
  EXPECT_EQ(DirLines(list), (std::vector<std::string>{"DIR:  \".\\\"", "DIR:  \".\\sub\\\""}));
  ASSERT_EQ(chdir("tree"), 0);
  const RunResult test = RunDorvaneLimited({"t", "../list.lst"}, -1, 0);
  EXPECT_EQ(test.output, CleanTestOutput());
}

TEST(UnusualEntries, DeviceNodesInATreeAreLeftOut) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  WriteTextFile("tree/ok", "abc");
  if (getuid() != 0 || !MakeDevices()) {
    GTEST_SKIP() << "no device nodes: not root, or a nodev file system";
  }
  EXPECT_EQ(RunDorvaneLimited({"c", "list.lst", "tree"}, -1, 0).exit_code, 0);
  EXPECT_EQ(ListedEntries(ReadTextFile("list.lst")),
            std::set<std::string>{".\\ok " + Abc + " 3"});
  ASSERT_EQ(chdir("tree"), 0);
  EXPECT_EQ(RunDorvaneLimited({"t", "../list.lst"}, -1, 0).output, CleanTestOutput());
}

// A hand-made list may name anything: each entry that is no regular file
// fails and is reported, and the run ends.
TEST(UnusualEntries, AListNamingDevicesFifosAndDirectoriesReportsThemAndEnds) {
  ScopedTempDir temp;
  MakeDirectory("dir");
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  MakeSocket("socket");
  ASSERT_EQ(symlink("loop", "loop"), 0);
  WriteTextFile("ok", "abc");
  const char* named[] = {"/dev/zero", "/dev/null", "/dev/urandom", "/dev/stdin",
                         "/dev/tty", "/proc/self/mem", ".\\fifo", ".\\socket",
                         ".\\loop", ".\\dir", ".\\dir\\", ".\\"};
  std::string list = "DIR:  \"\"\r\n";
  std::string expected = Banner + "errors:\r\n";
  for (const char* path : named) {
    list += "FILE: " + Abc + "  0  \"" + path + "\"\r\n";
    expected += std::string(path) + "\r\n";
  }
  list += "FILE: " + Abc + "  3  \"ok\"\r\n";
  WriteTextFile("list.lst", list);
  const RunResult run = RunDorvaneLimited({"t", "list.lst"}, -1, 0);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.output, expected + Prompt);
}

// Only regular files are opened as lists (a directory as the list:
// Driver.OpenFailuresExitWithOne, on every platform).
TEST(UnusualEntries, ListFilesThatAreNoRegularFilesCannotBeOpened) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  const struct {
    const char* command;
    const char* list;
    const char* message;
  } rows[] = {
      {"t", "/dev/zero", "cannot open file"}, {"t", "/dev/null", "cannot open file"},
      {"t", "fifo", "cannot open file"},      {"c", "fifo", "cannot create file"},
      {"a", "/dev/null", "cannot create file"},
  };
  for (const auto& row : rows) {
    const RunResult run = RunDorvaneLimited({row.command, row.list, "tree"}, -1, 0);
    EXPECT_EQ(run.exit_code, 1) << row.command << " " << row.list;
    EXPECT_EQ(run.output, Banner + row.message + "\r\n") << row.command << " " << row.list;
  }
}

// Opening is itself an act: it releases a FIFO's waiting writer, and a tape
// or a watchdog acts on it. inotify sees every open of the watched FIFOs,
// device and directory, while create walks a tree holding them and links
// to them, and while test checks a list naming them; a look at a type does
// not count.
TEST(UnusualEntries, NoNameThatIsNoRegularFileIsOpened) {
  ScopedTempDir temp;
  MakeDirectory("other/dir");
  MakeDirectory("tree");
  std::vector<std::string> watched = {"tree/fifo", "other/fifo", "other/dir"};
  ASSERT_EQ(mkfifo("tree/fifo", 0600), 0);
  ASSERT_EQ(mkfifo("other/fifo", 0600), 0);
  if (getuid() == 0 && mknod("other/device", S_IFCHR | 0666, makedev(1, 3)) == 0) {
    watched.push_back("other/device");
  }
  const int events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  std::string list = "DIR:  \".\\\"\r\n";
  for (const std::string& path : watched) {
    ASSERT_GE(inotify_add_watch(events, path.c_str(), IN_OPEN), 0) << path;
    const std::string link = "tree/link" + std::to_string(list.size());
    ASSERT_EQ(symlink(("../" + path).c_str(), link.c_str()), 0);
    list += "FILE: " + Abc + "  0  \"" + path + "\"\r\nFILE: " + Abc + "  0  \"" + link + "\"\r\n";
  }
  WriteTextFile("test.lst", list);
  EXPECT_EQ(RunDorvaneLimited({"c", "list.lst", "tree"}, -1, 0).exit_code, 0);
  EXPECT_EQ(RunDorvaneLimited({"t", "test.lst"}, -1, 0).exit_code, 2);
  char buffer[4096];
  EXPECT_EQ(read(events, buffer, sizeof buffer), -1) << "opened";
  close(events);
}

// A file queued from its listing (c) or its list line (t) gives its name,
// before it is opened, to a FIFO, or to a link to a FIFO or a device
// outside: that is never opened (inotify sees every open), and the file is
// left out or fails.
TEST(UnusualEntries, ANameSwappedForAFifoOrADeviceBeforeItsOpenIsNeverOpened) {
  ScopedTempDir temp;
  MakeDirectory("other");
  MakeDirectory("tree");
  ASSERT_EQ(mkfifo("other/fifo", 0600), 0);
  std::vector<std::string> swaps = {"fifo", "../other/fifo"};
  if (getuid() == 0 && mknod("other/device", S_IFCHR | 0666, makedev(1, 3)) == 0) {
    swaps.push_back("../other/device");
  }
  const int events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  for (std::size_t i = 1; i < swaps.size(); ++i) inotify_add_watch(events, swaps[i].c_str() + 3, IN_OPEN);
  ChangeDirectory("tree");
  for (const std::string& swap : swaps) {
    for (const bool walk : {true, false}) {
      WriteTextFile("f", "abc");
      HANDLE list = OpenHandle("../walk.lst", GENERIC_WRITE, OPEN_ALWAYS);
      // One thread: a queued file waits, unopened, until its result is due.
      const HashPlan plan = {ChooseMd5LaneKernel(), 1, StorageUnknown, {}};
      WalkQueue* queue = StartWalkQueue(list, plan);
      HashQueue* hasher = StartHashQueue(plan);
      const WIN32_FIND_DATAA entry = {FILE_ATTRIBUTE_NORMAL, 0, 3, "f"};
      ASSERT_TRUE(walk ? QueueFileEntry(queue, ".\\", entry)
                       : QueueFileToHash(hasher, "f", 0, HashNote{}) == 0);
      RemoveFile("f");
      ASSERT_EQ(swap == "fifo" ? mkfifo("f", 0600) : symlink(swap.c_str(), "f"), 0);
      if (swap == "fifo") inotify_add_watch(events, "f", IN_OPEN);
      HashResult result = {};
      walk ? (void)WriteQueuedLines(queue) : TakeHashResult(hasher, &result);
      EndWalkQueue(queue);
      EndHashQueue(hasher);
      CloseHandle(list);
      EXPECT_EQ(ReadTextFile("../walk.lst") + (result.ok ? "ok" : ""), "") << swap;
      char buffer[4096];
      EXPECT_EQ(read(events, buffer, sizeof buffer), -1) << swap << (walk ? " opened by c" : " opened by t");
      RemoveFile("f");  // its watch ends, and says so
      while (read(events, buffer, sizeof buffer) > 0) {
      }
    }
  }
  close(events);
}

// Listed paths that could lead out of the test's directory fail in their
// place in the report, and the files they name (real, holding "abc",
// watched) are never opened.
TEST(UnusualEntries, ListedPathsLeadingOutOfTheDirectoryFailWithoutAnOpen) {
  ScopedTempDir temp;
  MakeDirectory("a/b/c/C:");
  WriteTextFile("secret", "abc");
  WriteTextFile("a/b/c/C:/secret", "abc");
  WriteTextFile("a/b/c/ok", "abc");
  const int events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  inotify_add_watch(events, "secret", IN_OPEN);
  inotify_add_watch(events, "a/b/c/C:/secret", IN_OPEN);
  std::string back = temp.path();
  for (char& c : back) c = c == '/' ? '\\' : c;
  const std::pair<std::string, std::string> paths[] = {
      {"..\\..\\..\\", "secret"}, {".\\", "..\\..\\..\\secret"}, {"", temp.path() + "/secret"},
      {back + "\\", "secret"},      {"\\" + back + "\\", "secret"},   {"C:\\", "secret"}};
  std::string list, expected = Banner + "errors:\r\n";
  for (const auto& [dir, name] : paths) {
    list += "DIR:  \"" + dir + "\"\r\nFILE: " + Abc + "  3  \"" + name + "\"\r\nDIR:  \".\\\"\r\nFILE: " + Abc +
            "  3  \"ok\"\r\n";
    expected += dir + name + "\r\n";
  }
  WriteTextFile("list.lst", list);
  ChangeDirectory("a/b/c");
  EXPECT_EQ(RunDorvaneLimited({"t", "../../../list.lst"}, -1, 0).output, expected + Prompt);
  char buffer[4096];
  EXPECT_EQ(read(events, buffer, sizeof buffer), -1) << "opened";
  close(events);
}

// "CONIN$", the console on Windows, is an ordinary file name here, for
// lists and hashing alike.
TEST(UnusualEntries, AFileNamedConinIsAnOrdinaryFile) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  WriteTextFile("CONIN$", "abc");
  WriteTextFile("list.lst", "FILE: " + Abc + "  3  \"CONIN$\"\r\n");
  EXPECT_EQ(RunDorvaneLimited({"t", "list.lst"}, -1, 0).output, CleanTestOutput());
  std::filesystem::remove("CONIN$");
  const RunResult create = RunDorvaneLimited({"c", "CONIN$", "tree"}, -1, 0);
  EXPECT_EQ(create.exit_code, 0);
  EXPECT_EQ(ListFault(ReadTextFile("CONIN$")), "");
}

}  // namespace
