// The built program, run without a controlling terminal.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

const std::string Banner = "Dorvane developers 2026 MD5 checksum generator\r\n\r\n";
const std::string Usage =
    "Syntax:\r\n    Dorvane <command> FileName StartDir\r\n\r\n"
    "command:\r\n    c - create\r\n    a - append\r\n    t - test\r\n\r\n";
const std::string Prompt = "press any key to continue...\r\n";

std::string Cwd() { return std::filesystem::current_path().string(); }

// The example tree: data/empty.bin and data/sub/abc.txt.
void MakeExampleTree() {
  MakeDirectory("data/sub");
  WriteTextFile("data/empty.bin", "");
  WriteTextFile("data/sub/abc.txt", "abc");
}

std::string ExampleSection(const std::string& root) {
  return "ROOT: \"" + root + "\"\r\n"
         "DIR:  \".\\\"\r\n"
         "FILE: D41D8CD98F00B204E9800998ECF8427E  0  \"empty.bin\"\r\n"
         "DIR:  \".\\sub\\\"\r\n"
         "FILE: 900150983CD24FB0D6963F7D28E17F72  3  \"abc.txt\"\r\n";
}

TEST(Driver, UsageForMissingArgumentsOrUnknownCommands) {
  ScopedTempDir temp;
  for (const auto& args : {std::vector<std::string>{}, {"c"}, {"x", "list.txt", "."},
                           {"create", "list.txt", "."}, {"cx", "list.txt", "."}}) {
    const RunResult run = RunDorvane(args);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.output, Banner + Usage);
  }
  EXPECT_FALSE(std::filesystem::exists("list.txt"));
}

TEST(Driver, CreateWritesTheExampleSectionAndPrintsOnlyThePrompt) {
  ScopedTempDir temp;
  MakeExampleTree();
  const RunResult run = RunDorvane({"C", "list.txt", "data"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, Banner + Prompt);
  EXPECT_EQ(ReadTextFile("list.txt"), ExampleSection(Cwd() + "/data"));
}

TEST(Driver, RootLineFoldsDotsAndKeepsATypedTrailingSlash) {
  ScopedTempDir temp;
  MakeExampleTree();
  MakeDirectory("other");
  const std::string cwd = Cwd();
  const struct {
    const char* start_dir;
    std::string root;
  } rows[] = {
      {"./other/../data", cwd + "/data"},
      {"data/", cwd + "/data/"},
      {"data\\sub\\..", cwd + "/data"},
      {".", cwd},
  };
  for (const auto& row : rows) {
    ASSERT_EQ(RunDorvane({"c", "list.txt", row.start_dir}).exit_code, 0);
    const std::string list = ReadTextFile("list.txt");
    EXPECT_EQ(list.substr(0, list.find("\r\n")), "ROOT: \"" + row.root + "\"") << row.start_dir;
  }
}

TEST(Driver, CreateCutsOldLinesAndAppendAddsASection) {
  ScopedTempDir temp;
  MakeExampleTree();
  WriteTextFile("list.txt", std::string(5000, 'x'));
  ASSERT_EQ(RunDorvane({"c", "list.txt", "data"}).exit_code, 0);
  const std::string section = ExampleSection(Cwd() + "/data");
  EXPECT_EQ(ReadTextFile("list.txt"), section);
  ASSERT_EQ(RunDorvane({"A", "list.txt", "data"}).exit_code, 0);
  EXPECT_EQ(ReadTextFile("list.txt"), section + section);
}

TEST(Driver, AppendStartsANewLineAfterAnUnfinishedLastLine) {
  ScopedTempDir temp;
  MakeExampleTree();
  for (const std::string old : {"FILE: x  1  \"a\"", "FILE: x  1  \"a\"\r", "DIR:  \".\\\"\n"}) {
    WriteTextFile("list.txt", old);
    ASSERT_EQ(RunDorvane({"a", "list.txt", "data"}).exit_code, 0);
    const std::string joint = old.back() == '\n' ? old : old + "\r\n";
    EXPECT_EQ(ReadTextFile("list.txt"), joint + ExampleSection(Cwd() + "/data")) << old;
  }
}

TEST(Driver, InvalidOrMissingStartDirWritesNothing) {
  ScopedTempDir temp;
  WriteTextFile("plain", "abc");
  WriteTextFile("list.txt", "old\r\n");
  for (const char* mode : {"c", "a"}) {
    RunResult run = RunDorvane({mode, "list.txt", "missing"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, Banner + "invalid directory: missing\r\n" + Prompt);
    run = RunDorvane({mode, "list.txt", "plain"});
    EXPECT_EQ(run.output, Banner + "invalid directory: plain\r\n" + Prompt);
    run = RunDorvane({mode, "list.txt"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, Banner + "invalid directory: (null)\r\n" + Prompt);
  }
  EXPECT_EQ(ReadTextFile("list.txt"), "old\r\n");
  ASSERT_EQ(RunDorvane({"c", "new.txt", "missing"}).exit_code, 0);
  EXPECT_EQ(ReadTextFile("new.txt"), "");
}

TEST(Driver, OpenFailuresExitWithOne) {
  ScopedTempDir temp;
  MakeDirectory("dir");
  WriteTextFile("held.txt", "keep");
  const int holder = open("held.txt", O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  const struct {
    std::vector<std::string> args;
    const char* message;
  } rows[] = {
      {{"t", "missing.txt"}, "cannot open file\r\n"},
      {{"t", "dir"}, "cannot open file\r\n"},
      {{"T", "held.txt"}, "cannot open file\r\n"},
      {{"c", "held.txt", "."}, "cannot create file\r\n"},
      {{"a", "held.txt", "."}, "cannot create file\r\n"},
      {{"c", "no/such/dir/list.txt", "."}, "cannot create file\r\n"},
      {{"c", "dir", "."}, "cannot create file\r\n"},
  };
  for (const auto& row : rows) {
    const RunResult run = RunDorvane(row.args);
    EXPECT_EQ(run.exit_code, 1) << row.args[1];
    EXPECT_EQ(run.output, Banner + row.message) << row.args[1];
  }
  close(holder);
  EXPECT_EQ(ReadTextFile("held.txt"), "keep");
}

TEST(Driver, TestCommandNeedsOnlyTheListFile) {
  ScopedTempDir temp;
  WriteTextFile("list.txt", "");
  RunResult run = RunDorvane({"t", "list.txt"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, Banner + Prompt);
  run = RunDorvane({"t", "list.txt", "ignored", "extra"});
  EXPECT_EQ(run.exit_code, 0);
}

// Every digest of a tree of varied files equals coreutils md5sum's.
TEST(Driver, DigestsAgreeWithMd5sum) {
  ScopedTempDir temp;
  MakeDirectory("data/x/y");
  std::string names;
  for (std::size_t size : {0u, 1u, 55u, 64u, 4096u, 8192u, 65537u, 300000u}) {
    const std::string name = "data/" + std::string(size % 2 ? "x/" : "x/y/") + "f" + std::to_string(size);
    WriteTextFile(name, PatternBytes(size));
    names += " " + name;
  }
  ASSERT_EQ(RunDorvane({"c", "list.txt", "data"}).exit_code, 0);
  const std::string list = ReadTextFile("list.txt");
  FILE* md5sum = popen(("md5sum" + names).c_str(), "r");
  ASSERT_NE(md5sum, nullptr);
  char line[512];
  int checked = 0;
  while (fgets(line, sizeof line, md5sum) != nullptr) {
    std::string hex(line, 32);
    for (char& c : hex) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::string name = std::string(line + 34);
    name = name.substr(name.rfind('/') + 1);
    name.pop_back();
    const std::string size = name.substr(1);
    EXPECT_NE(list.find("FILE: " + hex + "  " + size + "  \"" + name + "\"\r\n"), std::string::npos) << name;
    ++checked;
  }
  pclose(md5sum);
  EXPECT_EQ(checked, 8);
}

}  // namespace
