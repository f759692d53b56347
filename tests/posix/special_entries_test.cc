// Entries that are no regular files, in a tree or named in a list (POSIX
// only): nothing blocks, nothing loops, none is listed.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "faults/list_check.h"
#include "posix/limited_run.h"
#include "test_util.h"

namespace {

const std::string Banner = "Dorvane developers 2026 MD5 checksum generator\r\n\r\n";
const std::string Prompt = "press any key to continue...\r\n";
const std::string Abc = "900150983CD24FB0D6963F7D28E17F72";

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

std::set<std::string> ListedPaths(const std::string& list) {
  std::set<std::string> paths;
  for (const ListedFile& file : ListedFiles(list)) paths.insert(file.directory + file.name);
  return paths;
}

// Device nodes need root and a file system that allows them.
bool MakeDevices() {
  return mknod("tree/zero-device", S_IFCHR | 0666, makedev(1, 5)) == 0 &&
         mknod("tree/null-device", S_IFCHR | 0666, makedev(1, 3)) == 0;
}

TEST(SpecialEntries, ATreeOfFifosSocketsLinksAndDevicesIsListedWithoutBlocking) {
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
  const bool devices = getuid() == 0 && MakeDevices();

  const RunResult create = RunDorvaneLimited({"c", "list.lst", "tree"}, -1, 0);
  EXPECT_EQ(create.exit_code, 0);
  const std::string list = ReadTextFile("list.lst");
  EXPECT_EQ(ListFault(list), "");
  EXPECT_EQ(ListedPaths(list), (std::set<std::string>{".\\ok", ".\\sub\\f"}));
  ASSERT_EQ(chdir("tree"), 0);
  const RunResult test = RunDorvaneLimited({"t", "../list.lst"}, -1, 0);
  EXPECT_EQ(test.output, CleanTestOutput());
  if (!devices) GTEST_SKIP() << "no device nodes: not root, or a nodev file system";
}

// A hand-made list may name anything: each entry that is no regular file
// fails and is reported, and the run ends.
TEST(SpecialEntries, AListNamingDevicesFifosAndDirectoriesReportsThemAndEnds) {
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
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, expected + Prompt);
}

// Only regular files are opened as lists.
TEST(SpecialEntries, ListFilesThatAreNoRegularFilesCannotBeOpened) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  const struct {
    const char* command;
    const char* list;
    const char* message;
  } rows[] = {
      {"t", "/dev/zero", "cannot open file"}, {"t", "/dev/null", "cannot open file"},
      {"t", "fifo", "cannot open file"},      {"t", "tree", "cannot open file"},
      {"c", "fifo", "cannot create file"},    {"a", "/dev/null", "cannot create file"},
      {"c", "tree", "cannot create file"},
  };
  for (const auto& row : rows) {
    const RunResult run = RunDorvaneLimited({row.command, row.list, "tree"}, -1, 0);
    EXPECT_EQ(run.exit_code, 1) << row.command << " " << row.list;
    EXPECT_EQ(run.output, Banner + row.message + "\r\n") << row.command << " " << row.list;
  }
}

// "CONIN$" is the terminal only for the key wait; for lists and hashing it
// is an ordinary file name.
TEST(SpecialEntries, AFileNamedConinIsAnOrdinaryFile) {
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
