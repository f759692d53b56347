// File and directory names of every byte, and paths past the limits (POSIX
// file systems take any byte but '/' and NUL in a name).
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "faults/list_check.h"
#include "platform/names.h"
#include "posix/limited_run.h"
#include "test_util.h"

namespace {

// The list cannot carry a control byte (it ends a field on reading) nor a
// backslash (the separator), so such names are left out; all others must
// come back.
bool ListCanCarry(const std::string& name) {
  for (unsigned char byte : name) {
    if (byte < 0x20 || byte == 0x7F || byte == '\\') return false;
  }
  return true;
}

struct Tree {
  std::map<std::string, std::string> files;  // list path -> content
  std::set<std::string> carried;             // list paths the list must hold
};

void AddFile(Tree* tree, const std::string& directory, const std::string& name,
             const std::string& content) {
  const std::string path = directory.empty() ? name : directory + "/" + name;
  WriteTextFile("tree/" + path, content);
  std::string list_path = ".\\" + (directory.empty() ? "" : directory + "\\") + name;
  tree->files[list_path] = content;
  if (ListCanCarry(directory) && ListCanCarry(name)) tree->carried.insert(list_path);
}

Tree MakeNameTree() {
  Tree tree;
  MakeDirectory("tree");
  for (int byte = 1; byte <= 0xFF; ++byte) {
    if (byte == '/') continue;
    const std::string b(1, static_cast<char>(byte));
    // The byte inside, alone, and at both ends next to digits and spaces.
    AddFile(&tree, "", "n" + b + "n", b);
    if (byte != '.') AddFile(&tree, "", b, b + b);
    AddFile(&tree, "", "12" + b + " 3", b + "3");
  }
  for (const char* name : {" lead", "trail ", "  both  ", "007", "9", "x\"", "\"x",
                           "\"q\"", "x\"  3  \"y", "a \"b\" c", "12 name 34"}) {
    AddFile(&tree, "", name, name);
  }
  for (const std::string directory : {" d", "d ", "\"d\"", "0 0", "9d9", "\x80\xff",
                                      "d\td", "d\nd", "d\x7f", "d\\d", "d\x01"}) {
    MakeDirectory("tree/" + directory);
    AddFile(&tree, directory, "f", directory);
    AddFile(&tree, directory, "\"", "quote");
  }
  return tree;
}

TEST(Names, EveryByteTheListCanCarryRoundTripsAndNoOtherBreaksTheList) {
  ScopedTempDir temp;
  const Tree tree = MakeNameTree();
  const RunResult create = RunDorvaneLimited({"c", "list.lst", "tree"}, -1, 0);
  EXPECT_EQ(create.exit_code, 0);
  const std::string list = ReadTextFile("list.lst");
  ASSERT_EQ(ListFault(list), "");
  std::set<std::string> listed;
  for (const ListedFile& file : ListedFiles(list)) {
    const std::string path = file.directory + file.name;
    EXPECT_TRUE(listed.insert(path).second) << path;
    ASSERT_EQ(tree.files.count(path), 1u) << path;
    EXPECT_EQ(file.size, tree.files.at(path).size()) << path;
  }
  EXPECT_EQ(listed, tree.carried);
  ASSERT_EQ(chdir("tree"), 0);
  const RunResult test = RunDorvaneLimited({"t", "../list.lst"}, -1, 0);
  EXPECT_EQ(test.output, CleanTestOutput());
}

// Relative paths of up to 259 characters are listed, longer ones left out,
// and a chain of directories deeper than the system's path limit is walked
// as far as the list can name it.
TEST(Names, LongNamesAndDirectoryChainsPastThePathLimit) {
  ScopedTempDir temp;
  const std::string name255(255, 'n');
  MakeDirectory("tree/s");
  MakeDirectory("tree/ss");
  WriteTextFile("tree/" + name255, "abc");     // .\ + 255 = 257
  WriteTextFile("tree/s/" + name255, "abc");   // .\s\ + 255 = 259: fits
  WriteTextFile("tree/ss/" + name255, "abc");  // 260: left out
  // 24 levels of 200 characters: past PATH_MAX, made one step at a time.
  const std::string level(200, 'd');
  ASSERT_EQ(chdir("tree"), 0);
  for (int depth = 0; depth < 24; ++depth) {
    ASSERT_EQ(mkdir(level.c_str(), 0700), 0);
    ASSERT_EQ(chdir(level.c_str()), 0);
    WriteTextFile("f", "abc");
  }
  ASSERT_EQ(chdir(temp.path().c_str()), 0);
  const RunResult create = RunDorvaneLimited({"c", "list.lst", "tree"}, -1, 0);
  EXPECT_EQ(create.exit_code, 0);
  const std::string list = ReadTextFile("list.lst");
  EXPECT_EQ(ListFault(list), "");
  std::set<std::string> listed;
  for (const ListedFile& file : ListedFiles(list)) listed.insert(file.directory + file.name);
  const std::set<std::string> expected = {".\\" + name255, ".\\s\\" + name255,
                                          ".\\" + level + "\\f"};
  EXPECT_EQ(listed, expected);
  ASSERT_EQ(chdir("tree"), 0);
  EXPECT_EQ(RunDorvaneLimited({"t", "../list.lst"}, -1, 0).output, CleanTestOutput());
  // Too deep for a removal by whole paths: remove it level by level.
  for (int depth = 0; depth < 24; ++depth) ASSERT_EQ(chdir(level.c_str()), 0);
  for (int depth = 0; depth < 24; ++depth) {
    unlink("f");
    ASSERT_EQ(chdir(".."), 0);
    rmdir(level.c_str());
  }
}

// A start directory whose name holds a line end, or a typed one longer than
// the reader's field, must not forge a line through the ROOT line: the test
// of the lists made finds nothing to check.
TEST(Names, TheRootLineNeverReadsAsMoreThanOneLine) {
  ScopedTempDir temp;
  const std::string forged = "FILE: " + Abc + "  3  \"victim\"";
  MakeDirectory("r\n" + forged);
  // Written as typed, for its absolute path does not fit 259 characters; the
  // forged name starts where the field after the tag ends.
  const std::string deep(201, 'a');
  MakeDirectory(deep + "/" + forged);
  std::string typed;
  while (typed.size() < 820) typed += "./";
  typed += deep + "/" + forged;
  // Each with a part its ROOT line must show.
  const std::pair<std::string, std::string> rows[] = {{"r\n" + forged, "/r?FILE: "},
                                                       {typed, "ROOT: \"./././"}};
  for (const auto& [start, shown] : rows) {
    ASSERT_EQ(RunDorvaneLimited({"c", "list.lst", start}, -1, 0).exit_code, 0);
    const std::string list = ReadTextFile("list.lst");
    EXPECT_EQ(ListFault(list), "");
    EXPECT_NE(list.find(shown), std::string::npos) << list.substr(0, 40);
    EXPECT_EQ(RunDorvaneLimited({"t", "list.lst"}, -1, 0).output, CleanTestOutput());
  }
}

}  // namespace

namespace {

// The legacy code page against glibc's Windows-1252, byte by byte; the five
// bytes it leaves undefined stand for the C1 controls, as on Windows.
TEST(Names, LegacyNamesReadAsWindows1252) {
  iconv_t to_utf8 = iconv_open("UTF-8", "WINDOWS-1252");
  ASSERT_NE(to_utf8, reinterpret_cast<iconv_t>(-1));
  for (int byte = 0x20; byte <= 0xFF; ++byte) {
    char in[2] = {static_cast<char>(byte), '\0'}, ours[8], theirs[8] = {};
    ASSERT_EQ(LegacyNamePath(in, ours, sizeof ours), 1);
    char *from = in, *to = theirs;
    std::size_t from_left = 1, to_left = sizeof theirs - 1;
    if (iconv(to_utf8, &from, &from_left, &to, &to_left) == static_cast<std::size_t>(-1)) {
      EncodeUtf8(static_cast<std::uint32_t>(byte), theirs);
    }
    EXPECT_STREQ(ours, theirs) << byte;
  }
  iconv_close(to_utf8);
  char small[4];
  EXPECT_EQ(LegacyNamePath("\x80", small, 3), 0);  // no room for the NUL
}

}  // namespace
