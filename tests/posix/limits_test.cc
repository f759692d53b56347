// Resource limits, interruptions and output faults (POSIX only): a full
// disk, a file size limit, too few file handles, a run killed part way and
// closed or unwritable standard descriptors.
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "faults/list_check.h"
#include "posix/limited_run.h"
#include "listing/walker.h"
#include "test_util.h"

namespace {

// count files of content in each of tree, tree/a and tree/a/b.
void MakeWideTree(int count, const std::string& content = "abc") {
  MakeDirectory("tree/a/b");
  for (const char* dir : {"tree/", "tree/a/", "tree/a/b/"}) {
    for (int i = 0; i < count; ++i) WriteTextFile(dir + std::to_string(i) + ".txt", content);
  }
}

// The names in directory, sorted, hidden ones too.
std::string Entries(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  std::string joined;
  for (const std::string& name : names) joined += name + " ";
  return joined;
}

// A write that fails, in the list or in the copy of the old one, leaves the
// old list byte for byte (or none where there was none) and nothing beside.
TEST(Limits, AWriteThatFailsAtTheFileSizeLimitStopsTheRunAndKeepsTheOldList) {
  ScopedTempDir temp;
  // More lines than one batch of list writes holds.
  MakeWideTree(500);
  ASSERT_EQ(RunDorvane({"c", "whole.lst", "tree"}).exit_code, 0);
  const std::string whole = ReadTextFile("whole.lst");
  ASSERT_GT(whole.size(), ListWriteBatchSize + 8000u);
  const struct {
    const char* fault;
    const char* command;
    bool has_list;
    std::string old_list;
    rlim_t limit;
  } rows[] = {
      {"create hits the limit", "c", true, "", 4000},
      {"create over a longer old list hits the limit", "c", true, whole + whole, 4000},
      {"create, limit inside the ROOT line", "c", true, "", 10},
      {"create, no list before", "c", false, "", 4000},
      {"append hits the limit", "a", true, whole, whole.size() + 3000},
      {"append, the copy of the old list hits the limit", "a", true, whole, 4000},
      {"append, no list before", "a", false, "", 4000},
  };
  for (const auto& row : rows) {
    std::filesystem::remove("list.lst");
    if (row.has_list) WriteTextFile("list.lst", row.old_list);
    const RunResult run = RunDorvaneLimited({row.command, "list.lst", "tree"},
                                            RLIMIT_FSIZE, row.limit);
    EXPECT_EQ(run.exit_code, 1) << row.fault;
    EXPECT_EQ(run.output, Banner + "cannot write file\r\n" + Prompt) << row.fault;
    EXPECT_EQ(Entries("."), row.has_list ? "list.lst tree whole.lst " : "tree whole.lst ") << row.fault;
    if (row.has_list) {
      EXPECT_TRUE(ReadTextFile("list.lst") == row.old_list) << row.fault;
    }
  }
}

// Runs cut short or with odd standard descriptors. A kill comes from the
// system at the first list write at or past an offset (as deterministic as
// a kill -9 can be made): it must leave the old list as it was. A closed
// standard output is the number the list would get. A report that cannot be written must not pass for a clean
// test, nor a report with failures or cut at its size, nor a list that
// cannot be read.
TEST(Limits, KilledRunsAndClosedOrFullStandardOutputLoseNothing) {
  ScopedTempDir temp;
  // More lines than one batch of list writes holds.
  MakeWideTree(500);
  ASSERT_EQ(RunDorvane({"c", "whole.lst", "tree"}).exit_code, 0);
  const std::string whole = ReadTextFile("whole.lst");
  const std::size_t root_end = whole.find("\r\n") + 2;
  const std::size_t first_batch_end = root_end + ListWriteBatchSize;
  ASSERT_GT(whole.size(), first_batch_end);
  const std::string kept = "ROOT: \"/kept\"\r\n";
  const std::string dir = "DIR:  \".\\tree\\\"\r\nFILE: ";
  const std::string clean = dir + Abc + "  3  \"0.txt\"\r\n";
  const std::string failing = dir + std::string(32, '0') + "  3  \"0.txt\"\r\n";
  // Lines the reader skips, past the offset where reads fail.
  const std::string unreadable = clean + std::string(140000, 'x');
  std::string overflowing = dir;
  for (int i = 0; i < 1000; ++i) overflowing += Abc + "  3  \"gone" + std::to_string(i) + "\"\r\nFILE: ";
  const struct {
    const char* name;
    ChildSetup setup;
    std::vector<std::string> args;
    std::string old_list, list;
    int exit_code;
  } rows[] = {
      {"create killed after its ROOT line", {.kill_at_list_offset = 2}, {"c", "list.lst", "tree"},
       whole + whole, whole + whole, -1},
      // Lines are written in batches of whole lines: this kill comes at the
      // second batch.
      {"create killed in the walk", {.kill_at_list_offset = static_cast<long>(root_end + 1)},
       {"c", "list.lst", "tree"}, whole + whole, whole + whole, -1},
      {"append killed in the walk",
       {.kill_at_list_offset = static_cast<long>(whole.size() + root_end + 1)},
       {"a", "list.lst", "tree"}, whole, whole, -1},
      {"create, invalid directory, output closed", {.closed = 2}, {"c", "list.lst", "missing"}, kept, kept, 1},
      {"append, invalid directory, output closed", {.closed = 2}, {"a", "list.lst", "missing"}, kept, kept, 1},
      {"test with failures, output full", {.output = "/dev/full"}, {"t", "list.lst"}, failing, failing, 1},
      {"clean test, output full", {.output = "/dev/full"}, {"t", "list.lst"}, clean, clean, 0},
      {"clean test", {}, {"t", "list.lst"}, clean, clean, 0},
      {"test with a failure", {}, {"t", "list.lst"}, failing, failing, 2},
      {"test with a cut report", {}, {"t", "list.lst"}, overflowing, overflowing, 2},
      {"test, list unreadable", {.fail_reads_at = 131072}, {"t", "list.lst"}, unreadable, unreadable, 1},
  };
  for (const auto& row : rows) {
    WriteTextFile("list.lst", row.old_list);
    EXPECT_EQ(RunDorvaneWith(row.args, row.setup).exit_code, row.exit_code) << row.name;
    EXPECT_TRUE(ReadTextFile("list.lst") == row.list) << row.name;
    EXPECT_EQ(Entries("."), "list.lst tree whole.lst ") << row.name;
  }
}

// Killed at random moments, and at each of the last steps (the old list
// until the rename, the whole new one after it), create and append leave
// the old list or the whole new one, which never lists the list's own
// files (it lies in the tree). A new list killed between its
// link and its rename, or written under its hidden name from the start
// where the file system has no unnamed files, leaves that name, which no
// other file takes and the next run removes before its walk.
TEST(Limits, KillsAtAnyMomentLeaveTheOldListOrTheWholeNewOne) {
  ScopedTempDir temp;
  MakeWideTree(300);
  ASSERT_EQ(RunDorvane({"c", "whole.lst", "tree"}).exit_code, 0);
  const std::string whole = ReadTextFile("whole.lst");
  // A list of part of the tree, which passes a test as well.
  const std::string old = whole.substr(0, whole.find("DIR:  \".\\a\\b"));
  WriteTextFile("tree/list.lst", old);
  const std::string entries = Entries("tree");
  const long last_steps[] = {SYS_copy_file_range, SYS_fdatasync, SYS_linkat, SYS_renameat, SYS_fsync};
  std::mt19937 random(std::random_device{}());
  for (int i = 0; i < 60; ++i) {
    const bool append = i % 2 == 1;
    ChildSetup setup = {.refuse_unnamed_files = i % 4 >= 2};
    if (i < 20) {
      setup.kill_at_call = last_steps[i / 4];
    } else {
      setup.kill_after_us = random() % 40000;
    }
    const std::string row = std::to_string(i) + " " + std::to_string(setup.kill_after_us);
    WriteTextFile("tree/list.lst", old);
    const int status = RunDorvaneWith({append ? "a" : "c", "tree/list.lst", "tree"}, setup).exit_code;
    const std::string list = ReadTextFile("tree/list.lst");
    EXPECT_TRUE(list == old || list == (append ? old + whole : whole)) << row;
    EXPECT_TRUE(status != -1 || i >= 20 || (list == old) == (last_steps[i / 4] != SYS_fsync)) << row;
    // A run not killed has finished the list and removed what it found.
    EXPECT_TRUE(status == -1 || (status == 0 && list != old)) << row;
    const bool stray = std::filesystem::exists("tree/.list.lst.dorvane-new");
    EXPECT_FALSE(stray && status == 0) << row;
    EXPECT_EQ(Entries("tree"), (stray ? ".list.lst.dorvane-new " : "") + entries) << row;
  }
}

// An address-space limit from one too small for the program to load, past
// one the queue does not fit, to ones that leave room for some of 64
// threads' stacks, and one for all: every run lists or checks every file,
// on as many threads as could be started, or keeps the old list and says
// that memory ran out; none is ended by the runtime.
TEST(Limits, ThreadsAndMemoryThatCannotBeHadEndEveryRunInWords) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's runtime takes more address space than these limits give";
#endif
  ScopedTempDir temp;
  MakeWideTree(20);
  ASSERT_EQ(RunDorvane({"c", "whole.lst", "tree"}).exit_code, 0);
  const std::string whole = ReadTextFile("whole.lst"), old = whole.substr(0, 100);
  const ScopedVariable threads(HashThreadsVariable, "64");
  std::set<std::string> seen;
  for (rlim_t mb = 4; mb <= 8192; mb += mb < 32 ? 1 : mb < 256 ? 16 : 8192 - 256) {
    for (const char* command : {"c", "t"}) {
      const bool test = command[0] == 't';
      WriteTextFile("list.lst", old);
      WriteTextFile("errors.txt", "");
      ChangeDirectory(test ? "tree" : ".");
      const RunResult run = RunDorvaneWith({command, test ? "../whole.lst" : "list.lst", "tree"},
                                           {.resource = RLIMIT_AS, .limit = mb << 20,
                                            .errors = test ? "../errors.txt" : "errors.txt"});
      ChangeDirectory(test ? ".." : ".");
      const std::string errors = ReadTextFile("errors.txt");
      const bool kept = ReadTextFile("list.lst") == old;
      if (run.exit_code == 127) {
        seen.insert("not loaded");
      } else if (run.exit_code == 1 && errors == "dorvane: not enough memory\n" && kept) {
        seen.insert("no memory");
      } else if (run.exit_code == 0 && (test || ReadTextFile("list.lst") == whole)) {
        seen.insert(errors.find(" of 64 hashing threads could") != std::string::npos ? "fewer" : "all");
      } else {
        ADD_FAILURE() << command << ", " << mb << " MB: exit " << run.exit_code << ", " << errors;
      }
      EXPECT_TRUE(run.exit_code == 127 || run.output == Banner + Prompt) << run.output;
    }
  }
  EXPECT_EQ(seen, (std::set<std::string>{"not loaded", "no memory", "fewer", "all"}));
}

// /dev/full is no regular file: the list cannot be opened at all.
TEST(Limits, AFullDeviceAsTheListCannotBeCreated) {
  ScopedTempDir temp;
  MakeWideTree(1);
  for (const char* command : {"c", "a"}) {
    const RunResult run = RunDorvaneLimited({command, "/dev/full", "tree"}, -1, 0);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.output, Banner + "cannot create file\r\n");
  }
}

// Every handle is closed again: with room for only a few, hundreds of files
// are listed and verified all the same.
TEST(Limits, MoreFilesThanTheOpenFileLimitAllowsAtOnce) {
  ScopedTempDir temp;
  MakeWideTree(150);
  constexpr rlim_t FewHandles = 24;
  const RunResult create = RunDorvaneLimited({"c", "list.lst", "tree"}, RLIMIT_NOFILE, FewHandles);
  EXPECT_EQ(create.exit_code, 0);
  const std::string list = ReadTextFile("list.lst");
  EXPECT_EQ(ListFault(list), "");
  EXPECT_EQ(ListedFiles(list).size(), 450u);
  ASSERT_EQ(chdir("tree"), 0);
  const RunResult test = RunDorvaneLimited({"t", "../list.lst"}, RLIMIT_NOFILE, FewHandles);
  EXPECT_EQ(test.exit_code, 0);
  EXPECT_EQ(test.output, CleanTestOutput());
}

// The walk holds the standard handles, the new list and its directory
// (there is no old list) and a listing per level of the tree (three here);
// the test the standard handles and the list. With
// room for one file (two handles: a file is looked at before it is opened)
// the lanes that cannot get one wait for another to close it: every file is
// listed and verified as without a limit.
// The files take more than one block, so that they stay open side by side.
TEST(Limits, OneHandleBeyondWhatTheRunNeedsItselfIsEnough) {
  ScopedTempDir temp;
  MakeWideTree(40, PatternBytes(1000));
  ASSERT_EQ(RunDorvane({"c", "whole.lst", "tree"}).exit_code, 0);
  const RunResult create = RunDorvaneLimited({"c", "list.lst", "tree"}, RLIMIT_NOFILE, 3 + 2 + 3 + 2);
  EXPECT_EQ(create.exit_code, 0);
  EXPECT_EQ(ReadTextFile("list.lst"), ReadTextFile("whole.lst"));
  ASSERT_EQ(chdir("tree"), 0);
  const RunResult test = RunDorvaneLimited({"t", "../list.lst"}, RLIMIT_NOFILE, 3 + 1 + 2);
  EXPECT_EQ(test.exit_code, 0);
  EXPECT_EQ(test.output, CleanTestOutput());
}

// The test reads its list ahead of the files it judges. A read of the list
// that fails (every read from 128 KiB on, the list's second) must end the
// report where judging one file at a time would: after the failures found
// before it with "cannot read file" and exit 1, or, when the report filled
// up before, with "... and some others..." alone and exit 2, the read error
// never reached. The files are small, so that only the list is read that
// far into a file; their names are long, so that the read error lies
// within the reading ahead when the report fills up.
TEST(Limits, AListReadErrorStopsTheTestWhereItStopsOneFileAtATime) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  const std::string name(200, 'n');
  for (int i = 0; i < 700; ++i) WriteTextFile("tree/" + name + std::to_string(i), "abc");
  ASSERT_EQ(RunDorvane({"c", "list.lst", "tree"}).exit_code, 0);
  const std::string list = ReadTextFile("list.lst");
  ASSERT_GT(list.size(), 131072u + 1024);
  ASSERT_EQ(chdir("tree"), 0);
  const ChildSetup failing_reads = {.fail_reads_at = 131072};
  // The first three listed files changed: their paths, then the read error
  // (after the path of the line it cut short, if it cut one).
  const std::vector<ListedFile> listed = ListedFiles(list);
  for (int i = 0; i < 3; ++i) WriteTextFile(listed[i].name, "changed");
  const RunResult few = RunDorvaneWith({"t", "../list.lst"}, failing_reads);
  EXPECT_EQ(few.exit_code, 1);
  const std::string head = Banner + "errors:\r\n.\\" + listed[0].name + "\r\n.\\" +
                           listed[1].name + "\r\n.\\" + listed[2].name + "\r\n";
  const std::string tail = "cannot read file\r\n" + Prompt;
  EXPECT_EQ(few.output.substr(0, head.size()), head);
  ASSERT_GE(few.output.size(), tail.size());
  EXPECT_EQ(few.output.substr(few.output.size() - tail.size()), tail);
  // Every file changed: the report fills up long before the read error.
  for (const ListedFile& file : listed) WriteTextFile(file.name, "changed");
  const RunResult all = RunDorvaneWith({"t", "../list.lst"}, failing_reads);
  EXPECT_EQ(all.exit_code, 2);
  EXPECT_NE(all.output.find("... and some others...\r\n" + Prompt), std::string::npos);
  EXPECT_EQ(all.output.find("cannot read file"), std::string::npos);
}

}  // namespace
