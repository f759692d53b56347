// The built program, run without a console or controlling terminal.
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "cli/driver.h"
#include "test_util.h"

namespace {

const std::string Usage =
    "Syntax:\r\n    Dorvane <command> FileName StartDir\r\n\r\n"
    "command:\r\n    c - create\r\n    a - append\r\n    t - test\r\n\r\n";

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
  EXPECT_EQ(ReadTextFile("list.txt"), ExampleSection(FullPathOf("data")));
}

// Expected paths come from names without dots: the program must fold them.
TEST(Driver, RootLineFoldsDotsAndKeepsATypedTrailingSeparator) {
  ScopedTempDir temp;
  MakeExampleTree();
  MakeDirectory("other");
  MakeDirectory("data/sub/deeper");
  const struct {
    const char* start_dir;
    std::string root;
  } rows[] = {
      {"./other/../data", FullPathOf("data")},
      {"data/", FullPathOf("data\\")},
      {"data\\sub\\..", FullPathOf("data")},
      {"data\\sub\\deeper\\..\\..\\..\\other", FullPathOf("other")},
      {".", FullPathOf(std::filesystem::current_path().string())},
  };
  for (const auto& row : rows) {
    ASSERT_FALSE(row.root.empty());
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
  const std::string section = ExampleSection(FullPathOf("data"));
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
    EXPECT_EQ(ReadTextFile("list.txt"), joint + ExampleSection(FullPathOf("data"))) << old;
  }
}

TEST(Driver, InvalidOrMissingStartDirWritesNothing) {
  ScopedTempDir temp;
  WriteTextFile("plain", "abc");
  WriteTextFile("list.txt", "old\r\n");
  for (const char* mode : {"c", "a"}) {
    RunResult run = RunDorvane({mode, "list.txt", "missing"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.output, Banner + "invalid directory: missing\r\n" + Prompt);
    run = RunDorvane({mode, "list.txt", "plain"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.output, Banner + "invalid directory: plain\r\n" + Prompt);
    // No start directory at all: the usage says what is missing.
    run = RunDorvane({mode, "new.txt"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.output, Banner + Usage);
  }
  EXPECT_EQ(ReadTextFile("list.txt"), "old\r\n");
  EXPECT_FALSE(std::filesystem::exists("new.txt"));
}

TEST(Driver, OpenFailuresExitWithOne) {
  ScopedTempDir temp;
  MakeDirectory("dir");
  WriteTextFile("held.txt", "keep");
  auto holder = std::make_unique<HeldFile>("held.txt");
  ASSERT_TRUE(holder->held());
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
  holder.reset();
  EXPECT_EQ(ReadTextFile("held.txt"), "keep");
}

TEST(Driver, TestCommandNeedsOnlyTheListFile) {
  ScopedTempDir temp;
  WriteOneFileList("list.txt");
  RunResult run = RunDorvane({"t", "list.txt"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, Banner + Prompt);
  run = RunDorvane({"t", "list.txt", "ignored", "extra"});
  EXPECT_EQ(run.exit_code, 0);
}

// The list lies in the tree it lists: it is left out, and a list that names
// itself reports it, for the list is held while it is read.
TEST(Driver, TheListFileIsNeverListedInItselfAndReportedWhenNamed) {
  ScopedTempDir temp;
  MakeExampleTree();
  ASSERT_EQ(RunDorvane({"c", "data/list.txt", "data"}).exit_code, 0);
  EXPECT_EQ(ReadTextFile("data/list.txt"), ExampleSection(FullPathOf("data")));
  ChangeDirectory("data");
  ASSERT_EQ(RunDorvane({"a", "list.txt", "."}).exit_code, 0);
  const std::string list = ReadTextFile("list.txt");
  EXPECT_EQ(list.find("\"list.txt\""), std::string::npos);
  EXPECT_EQ(RunDorvane({"t", "list.txt"}).output, Banner + Prompt);
  WriteTextFile("list.txt", list + "DIR:  \".\\\"\r\nFILE: " + std::string(32, '0') + "  0  \"list.txt\"\r\n");
  EXPECT_EQ(RunDorvane({"t", "list.txt"}).output, Banner + "errors:\r\n.\\list.txt\r\n" + Prompt);
}

// Sizes and byte counts past 32 bits: 4 GiB + 1 zero bytes (sparse where the
// file system allows), digest from coreutils md5sum. The digest holds only
// if the MD5 bit count carried into its high word.
TEST(Driver, AFileOfFourGiBIsHashedToItsEndWithItsFullSize) {
  ScopedTempDir temp;
  MakeDirectory("data");
  // Made through the file services: MinGW's resize_file fails with EFBIG
  // on this size under Wine (seen with 72 GB free), SetEndOfFile does not.
  HANDLE big = OpenHandle("data\\big", GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(big, INVALID_HANDLE_VALUE);
  LONG high = 1;
  SetFilePointer(big, 1, &high, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(big));
  CloseHandle(big);
  ASSERT_EQ(RunDorvane({"c", "list.txt", "data"}).exit_code, 0);
  const std::string list = ReadTextFile("list.txt");
  EXPECT_EQ(list.substr(list.find("\r\n") + 2),
            "DIR:  \".\\\"\r\nFILE: F18C798FF5D450DFE4D3ACDC12B621FF  4294967297  \"big\"\r\n");
}

// The test command's report of a list it cannot read (open for writing
// only, every read fails); main turns the false into exit code 1.
TEST(Driver, TheTestCommandReportsAReadError) {
  ScopedTempDir temp;
  WriteTextFile("w.lst", "DIR:  \".\\\"\r\nFILE: " + Abc + "  3  \"gone\"\r\n");
  HANDLE file = OpenHandle("w.lst", GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  testing::internal::CaptureStdout();
  const int status = RunTest(file, "w.lst", ChooseHashPlan());
  const std::string output = testing::internal::GetCapturedStdout();
  CloseHandle(file);
  EXPECT_EQ(status, 1);
  // Captured, the Windows runtime's text mode may be lost: no CR LF check.
  EXPECT_EQ(output.find("errors:"), std::string::npos);
  EXPECT_NE(output.find("cannot read file"), std::string::npos);
}

}  // namespace
